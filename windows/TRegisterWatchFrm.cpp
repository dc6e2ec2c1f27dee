#include "windows/TRegisterWatchFrm.h"

#include "protocol/BoardSession.h"
#include "protocol/NumberField.h"
#include "protocol/SaveTextFile.h"
#include "protocol/TextConv.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kMaxHistory = 20000; // samples per watch; the oldest half goes beyond
constexpr int kDefaultIntervalMs = 500;

enum Column { kWatch, kValue, kDecoded, kColumns };

} // namespace

TRegisterWatchFrm::TRegisterWatchFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("RegisterWatchFrm");
    setWindowTitle("Register Watch");
    resize(640, 480);
    const auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(name);
        return b;
    };
    WatchAddTxt = new QLineEdit(this);
    WatchAddTxt->setObjectName("WatchAddTxt");
    WatchAddTxt->setPlaceholderText("0x1A, or a register or REGISTER.FIELD of the map");
    WatchAddTxt->setAccessibleName("Register or field to watch");
    WatchAddCMD = button("WatchAddCMD", "Add");
    WatchRemoveCMD = button("WatchRemoveCMD", "Remove");
    WatchIntervalSpin = new QSpinBox(this);
    WatchIntervalSpin->setObjectName("WatchIntervalSpin");
    WatchIntervalSpin->setRange(100, 60000);
    WatchIntervalSpin->setSingleStep(100);
    WatchIntervalSpin->setSuffix(" ms");
    WatchIntervalSpin->setValue(kDefaultIntervalMs);
    WatchIntervalSpin->setAccessibleName("Poll interval");
    WatchPauseCMD = button("WatchPauseCMD", "Pause");
    WatchPauseCMD->setCheckable(true);
    WatchClearCMD = button("WatchClearCMD", "Clear");
    WatchExportCMD = button("WatchExportCMD", "Export CSV…");
    WatchList = new QTableWidget(0, kColumns, this);
    WatchList->setObjectName("WatchList");
    WatchList->setHorizontalHeaderLabels({"Watch", "Value", "Decoded"});
    WatchList->horizontalHeader()->setStretchLastSection(true);
    WatchList->verticalHeader()->hide();
    WatchList->setSelectionBehavior(QAbstractItemView::SelectRows);
    WatchList->setSelectionMode(QAbstractItemView::SingleSelection);
    WatchList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    WatchPlot = new StepPlot(this);
    WatchPlot->setObjectName("WatchPlot");
    WatchStatus = new QLabel(this);
    WatchStatus->setObjectName("WatchStatus");

    auto* top = new QHBoxLayout;
    top->addWidget(WatchAddTxt, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{WatchAddCMD, WatchRemoveCMD, WatchIntervalSpin, WatchPauseCMD,
                                                      WatchClearCMD, WatchExportCMD})
        top->addWidget(w);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(WatchList, 1);
    layout->addWidget(WatchPlot, 2);
    layout->addWidget(WatchStatus);

    connect(WatchAddCMD, &QPushButton::clicked, this, &TRegisterWatchFrm::WatchAddCMDClick);
    connect(WatchAddTxt, &QLineEdit::returnPressed, this, &TRegisterWatchFrm::WatchAddCMDClick);
    connect(WatchRemoveCMD, &QPushButton::clicked, this, &TRegisterWatchFrm::WatchRemoveCMDClick);
    connect(WatchPauseCMD, &QPushButton::toggled, this, &TRegisterWatchFrm::WatchPauseCMDClick);
    connect(WatchClearCMD, &QPushButton::clicked, this, &TRegisterWatchFrm::WatchClearCMDClick);
    connect(WatchExportCMD, &QPushButton::clicked, this, &TRegisterWatchFrm::WatchExportCMDClick);
    connect(WatchIntervalSpin, &QSpinBox::valueChanged, this, &TRegisterWatchFrm::updateTimer);
    connect(WatchList, &QTableWidget::itemSelectionChanged, this, &TRegisterWatchFrm::showPlot);
    connect(&m_timer, &QTimer::timeout, this, &TRegisterWatchFrm::poll);
    exportDialog = [this] {
        return QFileDialog::getSaveFileName(this, "Export CSV", QString(), "CSV files (*.csv)");
    };
    m_clock.start();
    itemsChanged();
}

bool TRegisterWatchFrm::addWatch(const QString& what) {
    const std::string text = what.trimmed().toStdString();
    const evb::BoardSession* session = evb::CurrentSession();
    const evb::RegisterMap* map = session ? session->linkNames.get() : nullptr;
    Item item;
    const std::size_t dot = text.find('.');
    const evb::RegisterInfo* info = map ? map->find(std::string_view(text).substr(0, dot)) : nullptr;
    if (info) {
        item.reg = info->address;
        if (dot != std::string::npos) {
            const evb::RegisterField* field = info->field(std::string_view(text).substr(dot + 1));
            if (!field) {
                WatchStatus->setText(QString::fromStdString(info->name + " has no field " + text.substr(dot + 1)));
                return false;
            }
            item.field = *field;
        }
    } else {
        std::string problem;
        const std::optional<int> reg = evb::ReadNumberField(text, {"Register Address", 0, 0xFF}, &problem);
        if (!reg) {
            WatchStatus->setText(QString::fromStdString(map ? problem + ", or a register of the map" : problem));
            return false;
        }
        item.reg = static_cast<std::uint8_t>(*reg);
        if (map) info = map->find(item.reg);
    }
    if (info) item.info = *info;
    const std::string name = info ? info->name : "Reg0x" + evb::Hex2(item.reg);
    item.label = QString::fromStdString(item.field ? name + "." + item.field->label() : name);
    for (const Item& i : m_items)
        if (i.label == item.label) return true; // watched already
    m_items.push_back(std::move(item));
    const int row = WatchList->rowCount();
    WatchList->insertRow(row);
    for (int c = 0; c < kColumns; ++c)
        WatchList->setItem(row, c, new QTableWidgetItem(c == kWatch ? m_items.back().label : QString()));
    WatchList->selectRow(row);
    itemsChanged();
    return true;
}

void TRegisterWatchFrm::WatchAddCMDClick() {
    if (addWatch(WatchAddTxt->text())) WatchAddTxt->clear();
}

void TRegisterWatchFrm::WatchRemoveCMDClick() {
    const int row = WatchList->currentRow();
    if (row < 0 || row >= static_cast<int>(m_items.size())) return;
    WatchList->removeRow(row);
    m_items.erase(m_items.begin() + row);
    itemsChanged();
}

void TRegisterWatchFrm::WatchPauseCMDClick(bool) {
    updateTimer();
}

void TRegisterWatchFrm::WatchClearCMDClick() {
    for (Item& item : m_items)
        item.history.clear();
    WatchPlot->dataChanged();
}

std::string TRegisterWatchFrm::historyCsv() const {
    std::string csv = "time_s,watch,value\n";
    for (const Item& item : m_items)
        for (const StepPlot::Point& p : item.history) {
            char t[32];
            std::snprintf(t, sizeof t, "%.3f", p.t);
            csv += std::string(t) + "," + item.label.toStdString() + "," + std::to_string(p.v) + "\n";
        }
    return csv;
}

void TRegisterWatchFrm::WatchExportCMDClick() {
    const QString file = exportDialog ? exportDialog() : QString();
    if (file.isEmpty()) return;
    const std::string failed = evb::SaveTextFile(QFile::encodeName(file).toStdString(), historyCsv());
    WatchStatus->setText(failed.empty() ? "History exported to " + file : QString::fromStdString(failed));
}

int TRegisterWatchFrm::intervalMs() const {
    return std::max(WatchIntervalSpin->value(), evb::ShortestWatchIntervalMs(m_blocks));
}

void TRegisterWatchFrm::itemsChanged() {
    std::vector<std::uint8_t> regs;
    for (const Item& item : m_items)
        regs.push_back(item.reg);
    m_blocks = evb::PlanWatchReads(regs);
    m_next = m_blocks.size();
    // Never faster than the link allows.
    WatchIntervalSpin->setMinimum(std::max(100, evb::ShortestWatchIntervalMs(m_blocks)));
    WatchRemoveCMD->setEnabled(!m_items.empty());
    updateTimer();
    showPlot();
}

void TRegisterWatchFrm::updateTimer() {
    const bool on = isVisible() && !m_items.empty() && !WatchPauseCMD->isChecked();
    if (!on) {
        m_timer.stop();
        WatchStatus->setText(m_items.empty() ? "Add a register to watch" : "Paused");
        return;
    }
    m_timer.start(intervalMs());
    WatchStatus->setText(QString("Polling %1 in %2 every %3 ms")
                             .arg(m_items.size() == 1 ? QString("1 watch") : QString("%1 watches").arg(m_items.size()))
                             .arg(m_blocks.size() == 1 ? QString("1 read") : QString("%1 reads").arg(m_blocks.size()))
                             .arg(intervalMs()));
}

void TRegisterWatchFrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateTimer();
}

void TRegisterWatchFrm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateTimer();
}

void TRegisterWatchFrm::poll() {
    // A poll still waiting for the link is not doubled.
    if (m_next < m_blocks.size()) return;
    m_next = 0;
    readNext();
}

void TRegisterWatchFrm::readNext() {
    evb::BoardSession* session = evb::CurrentSession();
    if (m_next >= m_blocks.size() || !m_timer.isActive() || !session) {
        m_next = m_blocks.size();
        return;
    }
    const evb::WatchBlock block = m_blocks[m_next];
    QPointer<TRegisterWatchFrm> self(this);
    const bool sent = session->WatchRead(block.start, block.count, [self, block](const std::vector<std::uint8_t>& values) {
        if (!self) return;
        self->arrived(block, values);
        // The next read goes out from the event loop, not from inside the session's reply handling.
        QTimer::singleShot(0, self, [self] {
            if (self) self->readNext();
        });
    });
    // The link is busy (a batch, or the user's command awaiting its answer): the next poll tries again.
    if (!sent) m_next = m_blocks.size();
}

void TRegisterWatchFrm::arrived(const evb::WatchBlock& block, const std::vector<std::uint8_t>& values) {
    ++m_next;
    const double t = static_cast<double>(m_clock.elapsed()) / 1000.0;
    for (std::size_t row = 0; row < m_items.size(); ++row) {
        Item& item = m_items[row];
        const int i = item.reg - block.start;
        if (i < 0 || i >= static_cast<int>(values.size())) continue;
        const std::uint8_t v = values[static_cast<std::size_t>(i)];
        const unsigned shown = item.field ? item.field->decode(v) : v;
        if (item.history.size() >= kMaxHistory) item.history.erase(item.history.begin(), item.history.begin() + kMaxHistory / 2);
        item.history.push_back({t, shown});
        const auto r = static_cast<int>(row);
        WatchList->item(r, kValue)->setText(QString::fromStdString("0x" + evb::Hex2(v)));
        const std::string decoded = item.field ? item.field->describe(v) : item.info ? item.info->decode(v) : std::string();
        WatchList->item(r, kDecoded)->setText(QString::fromStdString(decoded));
    }
    WatchPlot->dataChanged();
}

void TRegisterWatchFrm::showPlot() {
    const int row = WatchList->currentRow();
    if (row < 0 || row >= static_cast<int>(m_items.size())) {
        WatchPlot->setSeries(nullptr, 255, QString());
        return;
    }
    const Item& item = m_items[static_cast<std::size_t>(row)];
    WatchPlot->setSeries(&item.history, item.field ? item.field->maxValue() : 255, item.label);
}
