// Undo and redo of the register console's writes. Every write passes the board session, which
// knows what each register held before; the console groups an action's writes into one step.
#include "console/Tkv2580mfrm.h"

#include "console/RegisterState.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/Command.h"
#include "protocol/ReplyFormat.h"
#include "protocol/TextConv.h"

#include <QAction>
#include <QMenu>
#include <QUndoStack>

#include <algorithm>

using namespace evb;

namespace {

void say(const std::string& text) {
    if (IUserReport* report = UserReport()) report->ConsoleAppend(text);
}

// One action's writes. Undo writes back each register's value from before the action's first
// write to it, the last-written register first; redo writes the action's values again.
class WriteStep : public QUndoCommand {
  public:
    using Write = Tkv2580mfrm::StepWrite;
    WriteStep(Tkv2580mfrm* console, const QString& text, std::vector<Write> writes)
        : QUndoCommand(text), m_console(console), m_writes(std::move(writes)) {
        for (const Write& w : m_writes)
            if (std::none_of(m_restore.begin(), m_restore.end(), [&](const Write& r) { return r.reg == w.reg; }))
                m_restore.push_back(w);
        std::reverse(m_restore.begin(), m_restore.end());
    }
    // The first register whose earlier value was never known, if any: such a step cannot be undone.
    std::optional<std::uint8_t> unknown() const {
        for (const Write& w : m_restore)
            if (!w.before) return w.reg;
        return std::nullopt;
    }
    void undo() override {
        if (CurrentSession()) CurrentSession()->SetWriteSource("Undo");
        for (const Write& w : m_restore)
            m_console->writeRegister(w.reg, *w.before);
    }
    void redo() override {
        // Pushing the step runs redo: the writes went out already.
        if (std::exchange(m_pushed, true) == false) return;
        if (CurrentSession()) CurrentSession()->SetWriteSource("Redo");
        for (const Write& w : m_writes)
            m_console->writeRegister(w.reg, w.value);
    }

  private:
    Tkv2580mfrm* m_console;
    std::vector<Write> m_writes;
    std::vector<Write> m_restore; // each register once, with its value before the step
    bool m_pushed = false;
};

} // namespace

void Tkv2580mfrm::buildUndoActions() {
    m_undo = new QUndoStack(this);
    m_undo->setObjectName("RegisterUndoStack");
    UndoAction = new QAction("Undo", this);
    UndoAction->setObjectName("UndoAction");
    UndoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    RedoAction = new QAction("Redo", this);
    RedoAction->setObjectName("RedoAction");
    RedoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    for (QAction* a : {UndoAction, RedoAction}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }
    // At the top of the grid's context menu.
    QAction* first = RegMapMenu->actions().value(0);
    RegMapMenu->insertActions(first, {UndoAction, RedoAction});
    RegMapMenu->insertSeparator(first);
    connect(UndoAction, &QAction::triggered, this, &Tkv2580mfrm::UndoClick);
    connect(RedoAction, &QAction::triggered, this, &Tkv2580mfrm::RedoClick);
    connect(m_undo, &QUndoStack::indexChanged, this, &Tkv2580mfrm::updateUndoActions);
    connect(this, &Tkv2580mfrm::sendingChanged, this, &Tkv2580mfrm::updateUndoActions);
    updateUndoActions();

    if (BoardSession* session = CurrentSession())
        m_writeObserver = session->AddWriteObserver([this](const RegisterWriteEvent& e) {
            if (m_stepWrites && e.kind == RegisterWriteEvent::Kind::Write)
                m_stepWrites->push_back({e.reg, e.value, e.before});
        });
}

void Tkv2580mfrm::dropUndoObserver() {
    if (BoardSession* session = CurrentSession(); session && m_writeObserver) session->RemoveWriteObserver(m_writeObserver);
}

void Tkv2580mfrm::updateUndoActions() {
    const int at = m_undo->index();
    const auto* top = at > 0 ? static_cast<const WriteStep*>(m_undo->command(at - 1)) : nullptr;
    const std::optional<std::uint8_t> unknown = top ? top->unknown() : std::nullopt;
    if (!top)
        UndoAction->setText("Undo");
    else if (unknown)
        UndoAction->setText("Can't Undo " + top->text() + " (earlier value of Reg0x" +
                            QString::fromStdString(Hex2(*unknown)) + " not known)");
    else
        UndoAction->setText("Undo " + top->text());
    UndoAction->setEnabled(top && !unknown && !sending());
    RedoAction->setText(m_undo->canRedo() ? "Redo " + m_undo->redoText() : QString("Redo"));
    RedoAction->setEnabled(m_undo->canRedo() && !sending());
}

void Tkv2580mfrm::UndoClick() {
    if (!UndoAction->isEnabled()) return;
    m_undo->undo();
    if (CurrentSession()) CurrentSession()->SetWriteSource("");
}

void Tkv2580mfrm::RedoClick() {
    if (!RedoAction->isEnabled()) return;
    m_undo->redo();
    if (CurrentSession()) CurrentSession()->SetWriteSource("");
}

void Tkv2580mfrm::beginWrites(const std::string& source, const QString& text) {
    if (BoardSession* session = CurrentSession()) session->SetWriteSource(source);
    m_stepWrites.emplace();
    m_stepText = text;
}

void Tkv2580mfrm::endWrites() {
    if (BoardSession* session = CurrentSession()) session->SetWriteSource("");
    if (!m_stepWrites) return;
    std::vector<StepWrite> writes = std::move(*m_stepWrites);
    m_stepWrites.reset();
    if (!writes.empty()) m_undo->push(new WriteStep(this, m_stepText, std::move(writes)));
}

bool Tkv2580mfrm::writeRegister(std::uint8_t reg, std::uint8_t value) {
    std::string line = FormatWriteReg(reg, value);
    // A write that did not go out leaves the shadow and the grid as the board has them; the
    // transmit path has already shown its warning.
    if (CmdWriteReg(reg, value)) {
        say(line.insert(line.size() - 2, " not sent"));
        return false;
    }
    gRegs.store(reg, value);
    showRegisterCell(reg, value);
    say(line);
    return true;
}
