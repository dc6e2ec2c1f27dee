#include "windows/TLinkMonitorFrm.h"

#include "protocol/LinkLog.h"
#include "protocol/SaveTextFile.h"
#include "windows/LinkLogModel.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

TLinkMonitorFrm::TLinkMonitorFrm(evb::LinkLog& log, QWidget* parent) : QWidget(parent, Qt::Window), m_log(log) {
    setObjectName("LinkMonitorFrm");
    setWindowTitle("Link Monitor");
    resize(860, 420);

    m_model = new LinkLogModel(m_log, this);
    LinkTable = new QTableView(this);
    LinkTable->setObjectName("LinkTable");
    LinkTable->setModel(m_model);
    LinkTable->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    LinkTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    LinkTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LinkTable->setWordWrap(false);
    LinkTable->verticalHeader()->hide();
    // Fixed row heights: the view never measures rows, however many there are.
    LinkTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    LinkTable->verticalHeader()->setDefaultSectionSize(LinkTable->fontMetrics().height() + 4);
    QHeaderView* header = LinkTable->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    const int digit = LinkTable->fontMetrics().horizontalAdvance('0');
    header->resizeSection(LinkLogModel::kTime, digit * 14);
    header->resizeSection(LinkLogModel::kDirection, digit * 5);
    header->resizeSection(LinkLogModel::kBytes, digit * 62);
    header->setStretchLastSection(true);

    const auto check = [this](const char* name, const char* caption) {
        auto* c = new QCheckBox(caption, this);
        c->setObjectName(name);
        c->setChecked(true);
        connect(c, &QCheckBox::toggled, this, &TLinkMonitorFrm::filterChanged);
        return c;
    };
    ShowTx = check("ShowTx", "TX");
    ShowRx = check("ShowRx", "RX");
    ShowEvents = check("ShowEvents", "Events");
    const auto button = [this](const char* name, const char* caption, void (TLinkMonitorFrm::*handler)()) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    PauseCMD = button("PauseCMD", "Pause", &TLinkMonitorFrm::PauseCMDClick);
    PauseCMD->setCheckable(true);
    ClearCMD = button("ClearCMD", "Clear", &TLinkMonitorFrm::ClearCMDClick);
    SaveCMD = button("SaveCMD", "Save\u2026", &TLinkMonitorFrm::SaveCMDClick);

    auto* bar = new QHBoxLayout;
    bar->addWidget(ShowTx);
    bar->addWidget(ShowRx);
    bar->addWidget(ShowEvents);
    bar->addStretch(1);
    bar->addWidget(PauseCMD);
    bar->addWidget(ClearCMD);
    bar->addWidget(SaveCMD);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(LinkTable, 1);

    m_redraw.setSingleShot(true);
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &TLinkMonitorFrm::redraw);

    saveFile = [this] {
        return QFileDialog::getSaveFileName(this, "Save Link Log", "link-log.txt", "Text files (*.txt)");
    };
}

TLinkMonitorFrm::~TLinkMonitorFrm() {
    follow(false);
}

void TLinkMonitorFrm::follow(bool on) {
    if (on && m_observer == 0) {
        m_observer = m_log.addObserver([this](const evb::LinkEntry&) {
            if (!m_paused && !m_redraw.isActive()) m_redraw.start();
        });
    } else if (!on && m_observer != 0) {
        m_log.removeObserver(m_observer);
        m_observer = 0;
        m_redraw.stop();
    }
}

void TLinkMonitorFrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    follow(true);
    redraw();
}

void TLinkMonitorFrm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    follow(false);
}

void TLinkMonitorFrm::redraw() {
    if (m_paused) return;
    QScrollBar* bar = LinkTable->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    m_model->refresh();
    // Newest at the bottom stays in sight, unless the user scrolled up to read.
    if (atBottom) LinkTable->scrollToBottom();
}

void TLinkMonitorFrm::filterChanged() {
    m_model->setShown(ShowTx->isChecked(), ShowRx->isChecked(), ShowEvents->isChecked());
    LinkTable->scrollToBottom();
}

void TLinkMonitorFrm::PauseCMDClick() {
    m_paused = PauseCMD->isChecked();
    // The button says what a click will do next.
    PauseCMD->setText(m_paused ? "Resume" : "Pause");
    if (!m_paused) redraw();
}

void TLinkMonitorFrm::ClearCMDClick() {
    m_log.clear();
    m_model->refresh();
}

void TLinkMonitorFrm::SaveCMDClick() {
    const QString path = saveFile ? saveFile() : QString();
    if (path.isEmpty()) return;
    const QString failed = saveTo(path);
    if (failed.isEmpty()) return;
    auto* box = new QMessageBox(QMessageBox::Warning, "Save Link Log", failed, QMessageBox::Ok, this);
    box->setObjectName("SaveErrorBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString TLinkMonitorFrm::saveTo(const QString& path) const {
    std::string text = "Link log saved " +
                       QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString() + "\n";
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (const evb::LinkEntry* e = m_model->entryAt(row)) text += evb::FormatLinkEntry(*e) + "\n";
    return QString::fromStdString(evb::SaveTextFile(QFile::encodeName(path).toStdString(), text));
}
