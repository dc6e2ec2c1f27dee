// The register map in the register console: names and decoded fields in the grid's tooltips,
// the access legend, "Find Register…" and the field editor beside the grid.
#include "console/Tkv2580mfrm.h"

#include "console/ChipProfiles.h"
#include "console/PresetFiles.h"
#include "protocol/BoardSession.h"
#include "protocol/Command.h"
#include "protocol/NamedRegisters.h"
#include "protocol/RegisterMapFile.h"
#include "protocol/TextConv.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QSpinBox>
#include <QStringListModel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace evb;

namespace {

constexpr int kBaseWidth = 953;
constexpr int kPanelWidth = 300;
constexpr int kWindowHeight = 665;
// How long an edit of a never-read register waits for the board's answer to its read.
constexpr int kEditReadTimeoutMs = 3000;
// Light backgrounds under black text, as the marks: readable on a light and a dark palette.
const QColor kReadOnlyColour(200, 215, 235);
const QColor kVolatileColour(230, 215, 245);

void say(const std::string& line) {
    if (IUserReport* report = UserReport()) report->ConsoleAppend(line + "\r\n");
}

// Lines ended by '\n', shown with the console's "\r\n".
void sayText(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (IUserReport* report = UserReport(); report && !out.empty()) report->ConsoleAppend(out);
}

QColor accessColour(const RegisterInfo& r) {
    if (r.isVolatile) return kVolatileColour;
    return r.writable() ? QColor() : kReadOnlyColour;
}

QString legendStyle(const QColor& colour, bool italic) {
    return QString("QLabel { background: %1; color: black; padding: 1px 4px; %2 }")
        .arg(colour.name(), italic ? "font-style: italic;" : "");
}

// The register's value as last read or written on the link, if it is known.
std::optional<std::uint8_t> knownValue(std::uint8_t reg) {
    const BoardSession* session = CurrentSession();
    return session ? session->KnownValue(reg) : std::nullopt;
}

} // namespace

void Tkv2580mfrm::buildFieldPanel() {
    LoadRegMapAction = new QAction("Load Register Map…", this);
    LoadRegMapAction->setObjectName("LoadRegMapAction");
    LoadRegMapAction->setToolTip(
        "Name the registers and their fields from a register map (JSON or CMSIS-SVD)");
    connect(LoadRegMapAction, &QAction::triggered, this, &Tkv2580mfrm::LoadRegMapClick);
    FindRegAction = new QAction("Find Register…", this);
    FindRegAction->setObjectName("FindRegAction");
    FindRegAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    FindRegAction->setShortcutContext(Qt::WindowShortcut);
    FindRegAction->setToolTip("Find a register by name or description and select its cell");
    FindRegAction->setEnabled(false); // with a map only
    addAction(FindRegAction);
    connect(FindRegAction, &QAction::triggered, this, &Tkv2580mfrm::FindRegClick);
    RegMapMenu->addSeparator();
    RegMapMenu->addActions({LoadRegMapAction, FindRegAction});
    openMapDialog = [this] {
        return QFileDialog::getOpenFileName(this, "Load Register Map", QString(),
                                            "Register maps (*.json *.svd *.xml);;All files (*)");
    };

    FieldPanel = new QGroupBox("Register Fields", this);
    FieldPanel->setObjectName("FieldPanel");
    FieldPanel->setGeometry(kBaseWidth, 0, kPanelWidth - 8, kWindowHeight - 8);
    auto* column = new QVBoxLayout(FieldPanel);

    auto* legend = new QHBoxLayout;
    auto legendLabel = [this, legend](const char* name, const char* text, const QColor& colour, bool italic) {
        auto* l = new QLabel(text, FieldPanel);
        l->setObjectName(name);
        if (colour.isValid()) l->setStyleSheet(legendStyle(colour, italic)); // read-write: the palette's
        legend->addWidget(l);
        return l;
    };
    LegendReadWrite = legendLabel("LegendReadWrite", "read-write", QColor(), false);
    LegendReadOnly = legendLabel("LegendReadOnly", "read-only", kReadOnlyColour, false);
    LegendVolatile = legendLabel("LegendVolatile", "volatile", kVolatileColour, true);
    legend->addStretch();
    column->addLayout(legend);

    FindRegTxt = new QLineEdit(FieldPanel);
    FindRegTxt->setObjectName("FindRegTxt");
    FindRegTxt->setPlaceholderText("Find Register… (Ctrl+F)");
    FindRegTxt->setAccessibleName("Find Register");
    FindRegTxt->setClearButtonEnabled(true);
    FindRegCompleter = new QCompleter(new QStringListModel(this), this);
    FindRegCompleter->setObjectName("FindRegCompleter");
    FindRegCompleter->setCaseSensitivity(Qt::CaseInsensitive);
    FindRegCompleter->setFilterMode(Qt::MatchContains);
    FindRegTxt->setCompleter(FindRegCompleter);
    connect(FindRegTxt, &QLineEdit::returnPressed, this, [this] { FindRegister(FindRegTxt->text()); });
    connect(FindRegCompleter, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& text) { FindRegister(text); });
    column->addWidget(FindRegTxt);

    CompareVolatileChk = new QCheckBox("Compare volatile registers", FieldPanel);
    CompareVolatileChk->setObjectName("CompareVolatileChk");
    CompareVolatileChk->setToolTip("Compare with File also lists volatile registers (status, levels)");
    column->addWidget(CompareVolatileChk);

    FieldRegLabel = new QLabel("Select a register in the grid.", FieldPanel);
    FieldRegLabel->setObjectName("FieldRegLabel");
    FieldRegLabel->setWordWrap(true);
    FieldRegLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(FieldRegLabel);

    FieldScroll = new QScrollArea(FieldPanel);
    FieldScroll->setObjectName("FieldScroll");
    FieldScroll->setWidgetResizable(true);
    FieldScroll->setFrameShape(QFrame::NoFrame);
    column->addWidget(FieldScroll, 1);
    FieldPanel->hide();

    m_editReadTimeout = new QTimer(this);
    m_editReadTimeout->setSingleShot(true);
    m_editReadTimeout->setInterval(kEditReadTimeoutMs);
    connect(m_editReadTimeout, &QTimer::timeout, this, [this] {
        if (!m_pendingEdit) return;
        say("Field edit: the board did not answer the read of Reg0x" + Hex2(m_pendingEdit->reg) +
            "; nothing written");
        m_pendingEdit.reset();
        updateFieldValues();
    });
    connect(RegMapGrid, &QTableWidget::currentCellChanged, this, [this] { showFields(); });
}

void Tkv2580mfrm::setRegisterMap(std::shared_ptr<const RegisterMap> map) {
    m_map = std::move(map);
    m_pendingEdit.reset();
    m_fieldsReg.reset();
    if (BoardSession* session = CurrentSession()) session->linkNames = m_map;
    FindRegAction->setEnabled(m_map != nullptr);
    QStringList labels;
    if (m_map)
        for (const RegisterInfo& r : m_map->registers())
            labels << QString::fromStdString(RegisterSearchLabel(r));
    static_cast<QStringListModel*>(FindRegCompleter->model())->setStringList(labels);
    FieldPanel->setVisible(m_map != nullptr);
    setFixedSize(m_map ? kBaseWidth + kPanelWidth : kBaseWidth, kWindowHeight);
    decorateAllCells();
    showFields();
}

bool Tkv2580mfrm::LoadRegisterMap(const QString& file) {
    const std::string name = file.toStdString();
    const RegisterMapLoad load = LoadRegisterMapFile(QFile::encodeName(file).toStdString());
    sayText(load.format(name));
    if (!load.map) {
        say("Load Register Map: " + name + " has errors; " +
            (m_map ? "the register map in use stays" : "the registers stay without names"));
        return false;
    }
    setRegisterMap(std::make_shared<const RegisterMap>(*load.map));
    say("Load Register Map: " + std::to_string(load.map->registers().size()) + " registers, " +
        std::to_string(load.map->fieldCount()) + " fields from " + name);
    return true;
}

void Tkv2580mfrm::LoadRegMapClick() {
    const QString file = openMapDialog ? openMapDialog() : QString();
    if (!file.isEmpty()) LoadRegisterMap(file);
}

void Tkv2580mfrm::UseStartupRegisterMap(const QString& file) {
    m_startupMap = LoadRegisterMap(file);
}

void Tkv2580mfrm::loadShippedMap(const ChipProfile& profile) {
    if (m_startupMap) return;
    const PresetLocation where = FindPresetFile(kRegisterMapFolder, RegisterMapFileName(profile.chip));
    if (!where.found) {
        setRegisterMap(nullptr);
        return;
    }
    const RegisterMapLoad load = LoadRegisterMapFile(where.path);
    sayText(load.format(where.path));
    setRegisterMap(load.map ? std::make_shared<const RegisterMap>(*load.map) : nullptr);
}

std::uint8_t Tkv2580mfrm::cellValue(std::uint8_t reg) const {
    const QTableWidgetItem* item = registerItem(reg);
    return static_cast<std::uint8_t>(item ? StrToIntDef(item->text().trimmed().toStdString(), 0) : 0);
}

void Tkv2580mfrm::decorateCell(std::uint8_t reg) {
    QTableWidgetItem* item = registerItem(reg);
    if (!item) return;
    const QString mark = item->data(kMarkRole).toString();
    const RegisterInfo* r = m_map ? m_map->find(reg) : nullptr;
    const QColor colour = !mark.isEmpty() ? item->data(kMarkColourRole).value<QColor>()
                          : r             ? accessColour(*r)
                                          : QColor();
    item->setData(Qt::BackgroundRole, colour.isValid() ? QVariant(colour) : QVariant());
    item->setData(Qt::ForegroundRole, colour.isValid() ? QVariant(QColor(Qt::black)) : QVariant());
    QFont f = RegMapGrid->font();
    f.setItalic(r && r->isVolatile);
    item->setData(Qt::FontRole, r && r->isVolatile ? QVariant(f) : QVariant());
    QString text = mark;
    if (r)
        text += (mark.isEmpty() ? "" : "\n") +
                QString::fromStdString(RegisterSummary(*m_map, reg, cellValue(reg)));
    item->setToolTip(text);
    item->setData(Qt::AccessibleDescriptionRole, text.isEmpty() ? QVariant() : QVariant(text));
    if (m_fieldsReg == reg) updateFieldValues();
}

void Tkv2580mfrm::decorateAllCells() {
    for (int a = 0; a < 256; ++a)
        decorateCell(static_cast<std::uint8_t>(a));
}

void Tkv2580mfrm::readArrived(std::uint8_t reg, std::uint8_t value) {
    if (!m_pendingEdit || m_pendingEdit->reg != reg) return;
    const FieldEdit edit = *m_pendingEdit;
    m_pendingEdit.reset();
    m_editReadTimeout->stop();
    writeField(edit.reg, edit.field, edit.value, value);
}

void Tkv2580mfrm::FindRegClick() {
    FindRegTxt->setFocus(Qt::ShortcutFocusReason);
    FindRegTxt->selectAll();
}

bool Tkv2580mfrm::FindRegister(const QString& text) {
    const std::vector<const RegisterInfo*> found =
        m_map ? SearchRegisters(*m_map, text.trimmed().toStdString()) : std::vector<const RegisterInfo*>{};
    const std::uint8_t reg = found.empty() ? 0 : found.front()->address;
    if (found.empty() || !registerItem(reg)) {
        say("Find Register: " + (found.empty() ? "no register matches " + text.toStdString()
                                               : found.front()->name + " is not in this chip's grid"));
        return false;
    }
    RegMapGrid->setCurrentItem(registerItem(reg));
    RegMapGrid->scrollToItem(registerItem(reg));
    RegAddrTxt->setText(QString::fromStdString("0x" + Hex2(reg)));
    return true;
}

void Tkv2580mfrm::showFields() {
    const int row = RegMapGrid->currentRow(), col = RegMapGrid->currentColumn();
    const RegisterInfo* r = nullptr;
    if (m_map && row >= 1 && col >= 1) r = m_map->find(static_cast<std::uint8_t>((row - 1) * 16 + col - 1));
    if (r && m_fieldsReg == r->address) return updateFieldValues();
    m_fieldsReg = r ? std::optional<std::uint8_t>(r->address) : std::nullopt;
    if (m_fieldList) m_fieldList->deleteLater(); // it may be the sender of the edit that led here
    m_fieldList = new QWidget;
    m_fieldList->setObjectName("FieldList");
    auto* rows = new QVBoxLayout(m_fieldList);
    rows->setContentsMargins(0, 0, 0, 0);
    if (!r) {
        FieldRegLabel->setText("Select a register in the grid.");
        rows->addStretch();
        FieldScroll->setWidget(m_fieldList);
        return;
    }
    const std::uint8_t reg = r->address;
    for (std::size_t i = 0; i < r->fields.size(); ++i) {
        const RegisterField& f = r->fields[i];
        const QString name = QString::fromStdString(f.name);
        const QString label = QString::fromStdString(f.label());
        QWidget* editor = nullptr;
        if (f.width() == 1) {
            auto* box = new QCheckBox(label, m_fieldList);
            connect(box, &QCheckBox::clicked, this,
                    [this, reg, i](bool on) { editField(reg, i, on ? 1 : 0); });
            editor = box;
        } else if (!f.values.empty()) {
            auto* combo = new QComboBox(m_fieldList);
            combo->setAccessibleName(label);
            for (const FieldValue& v : f.values)
                combo->addItem(QString("%1 (%2)").arg(QString::fromStdString(v.name)).arg(v.value), v.value);
            connect(combo, &QComboBox::activated, this,
                    [this, reg, i, combo](int index) { editField(reg, i, combo->itemData(index).toUInt()); });
            rows->addWidget(new QLabel(label, m_fieldList));
            editor = combo;
        } else {
            auto* spin = new QSpinBox(m_fieldList);
            spin->setRange(0, static_cast<int>(f.maxValue()));
            spin->setPrefix(label + " = ");
            spin->setKeyboardTracking(false);
            spin->setAccessibleName(label);
            connect(spin, &QSpinBox::valueChanged, this,
                    [this, reg, i](int v) { editField(reg, i, static_cast<unsigned>(v)); });
            editor = spin;
        }
        editor->setObjectName("Field" + name);
        editor->setEnabled(r->writable());
        rows->addWidget(editor);
        if (!f.description.empty()) {
            auto* text = new QLabel(QString::fromStdString(f.description), m_fieldList);
            text->setObjectName("Field" + name + "Text");
            text->setWordWrap(true);
            text->setIndent(16);
            rows->addWidget(text);
        }
    }
    rows->addStretch();
    FieldScroll->setWidget(m_fieldList);
    updateFieldValues();
}

void Tkv2580mfrm::updateFieldValues() {
    const RegisterInfo* r = m_map && m_fieldsReg ? m_map->find(*m_fieldsReg) : nullptr;
    if (!r || !m_fieldList) return;
    const std::uint8_t value = cellValue(r->address);
    QString head = QString::fromStdString(RegisterSummary(*m_map, r->address, value));
    head += QString::fromStdString("\n" + r->description + (r->description.empty() ? "" : " \u2014 ") +
                                   AccessName(r->access) + (r->isVolatile ? ", volatile" : "") +
                                   (knownValue(r->address) ? "" : ", not read yet"));
    FieldRegLabel->setText(head);
    for (const RegisterField& f : r->fields) {
        QWidget* editor = m_fieldList->findChild<QWidget*>("Field" + QString::fromStdString(f.name));
        const QSignalBlocker quiet(editor); // showing a value is no edit
        const unsigned v = f.decode(value);
        if (auto* box = qobject_cast<QCheckBox*>(editor)) {
            box->setChecked(v != 0);
            const std::string* named = f.valueName(v);
            box->setText(QString::fromStdString(f.label() + (named ? " (" + *named + ")" : "")));
        } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            int index = combo->findData(v);
            if (index < 0) { // a value the map does not name
                combo->addItem(QString::number(v), v);
                index = combo->count() - 1;
            }
            combo->setCurrentIndex(index);
        } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
            spin->setValue(static_cast<int>(v));
        }
    }
}

void Tkv2580mfrm::editField(std::uint8_t reg, std::size_t field, unsigned value) {
    const RegisterInfo* r = m_map ? m_map->find(reg) : nullptr;
    if (!r || !r->writable() || field >= r->fields.size() || sending()) return;
    if (const std::optional<std::uint8_t> known = knownValue(reg); known || !r->readable()) {
        writeField(reg, field, value, known ? *known : r->reset);
        return;
    }
    // Only the field's bits may change: the others come from the board, read first.
    RegAddrTxt->setText(QString::fromStdString("0x" + Hex2(reg)));
    if (!typedRegister()) return updateFieldValues(); // beyond the chip's registers
    m_pendingEdit = FieldEdit{reg, field, value};
    if (CmdReadReg(reg)) {
        m_pendingEdit.reset();
        say("Field edit: Reg0x" + Hex2(reg) + " could not be read; nothing written");
        updateFieldValues();
        return;
    }
    m_editReadTimeout->start();
}

void Tkv2580mfrm::writeField(std::uint8_t reg, std::size_t field, unsigned value, std::uint8_t current) {
    const RegisterInfo* r = m_map ? m_map->find(reg) : nullptr;
    if (!r || field >= r->fields.size()) return;
    const std::uint8_t next = r->fields[field].encode(current, value);
    // The same write as "Write Register": its fields, its frame, its console line.
    RegAddrTxt->setText(QString::fromStdString("0x" + Hex2(reg)));
    RegDatTxt->setText(QString::fromStdString("0x" + Hex2(next)));
    // Its own undo step, and its own name in a recording.
    m_fieldEdit = QString::fromStdString("Field Edit " + r->name + "." + r->fields[field].label() + " = " +
                                         std::to_string(value));
    WRRegCMDClick();
    m_fieldEdit.reset();
    updateFieldValues();
}
