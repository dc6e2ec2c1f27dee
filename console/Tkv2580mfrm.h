#pragma once
// The register console: the codec's registers in a 16-column grid, single and all-register
// access, configuration files and the per-chip preset buttons.
//
// Threading: UI thread only. The board session's register replies reach it there
// (renderReply), and it writes them into the shadow, the grid, the value field and the
// progress bar itself.

#include "console/ConfigBuffer.h"

#include "protocol/RegisterSnapshot.h"
#include "protocol/WriteRecording.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace evb {
struct ReplyEvent;
}
#include <string_view>
#include <vector>

class QAction;
class QCheckBox;
class QCompleter;
class QGroupBox;
class QScrollArea;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;
class QUndoStack;
class ConfigSendRun;

namespace evb {
class RegisterMap;
struct ChipProfile;
struct ConfigCheckOptions;
struct ConfigSendHooks;
} // namespace evb

class Tkv2580mfrm : public QWidget {
    Q_OBJECT
  public:
    explicit Tkv2580mfrm(QWidget* parent = nullptr);
    ~Tkv2580mfrm() override;

    // --- handlers ---
    void FormCreate();
    void RDRegCMDClick();
    void WRRegCMDClick();
    void RdAllRegCMDClick();
    void ExitCMDClick();
    void LDFileCMDClick();
    void SDFileCMDClick();
    // A1..A10 are 0..9, B1..B8 10..17, C1..C3 18..20.
    void PresetButtonClick(int index);
    // "Stop" (shown during a send) and Esc: the send ends after the current frame.
    void StopSendCMDClick();

    // Register snapshots, from the grid's context menu (right-click or the Menu key) or their
    // shortcuts. Save, Compare and Restore first read all registers as "Read All Register"
    // does, and go on when the answer arrives.
    void SaveRegsClick();
    void CompareRegsClick();
    void RestoreRegsClick();
    // Mark changes (MarkChangesAction, checkable): after each read-all, the cells whose value
    // differs from the previous read-all (or from the baseline) are marked until cleared.
    void SetBaselineClick();
    void ClearMarksClick();
    // Shows a register value or a register block the board sent (other replies are not the
    // console's), as the session read it.
    void renderReply(const evb::ReplyEvent& event);
    // Each read-all answer, once it is shown: values[i] is register i.
    void ReadAllArrived(const std::vector<std::uint8_t>& values);
    // The grid cell's mark text (its tooltip), empty when the cell is not marked.
    QString cellMark(std::uint8_t reg) const;

    // One register written as "Write Register" writes it: the frame, then (when it went out)
    // the shadow, the cell and the console line; a frame not sent is said so. false: not sent.
    bool writeRegister(std::uint8_t reg, std::uint8_t value);
    // Undo and redo of the writes made here (UndoAction, RedoAction): a single write, or a
    // whole preset, configuration send or restore as one step. Undo writes back what each
    // register held before, as the session last read or wrote it; redo writes the step again.
    // Both send single writes, exactly as "Write Register" does.
    void UndoClick();
    void RedoClick();
    QUndoStack* undoStack() const { return m_undo; }
    // "Record Writes" (RecordAction, checkable): from now on every register write that goes
    // out is kept, whichever window or batch sent it; "Save Recording…" writes it as a
    // configuration file (numbered files when one buffer cannot hold it), with the pauses
    // between writes when KeepPausesAction is checked.
    void RecordClick(bool on);
    void SaveRecordingClick();
    const evb::WriteRecording& recording() const { return m_recording; }
    // The file chooser of "Save Recording…", replaceable for tests; empty: cancelled.
    std::function<QString()> saveRecordingDialog;
    struct StepWrite {
        std::uint8_t reg, value;
        std::optional<std::uint8_t> before;
    };

    // A configuration or preset send is in progress. It runs from events on the UI thread;
    // meanwhile every control that would send to the board is disabled.
    bool sending() const { return m_run != nullptr; }
    // The session's transmit-empty reports, on the UI thread.
    void TransmitterEmpty();

    // Rearranges the window for CodecType's chip profile (a row without a set-up keeps the
    // previous layout), asks the board for all registers and redraws the grid from the register
    // shadow. Reads CodecType and the highest register address; writes the register count and
    // the read-progress flag. Nothing happens for a CodecType in no row.
    void ApplyChipProfile();

    // --- used by the reply handler ---
    // Cell of the grid, column first as the grid rule states it. Creates the cell when needed.
    void setCell(int col, int row, const QString& text);
    QString cellText(int col, int row) const;
    // "  0x" + two upper-case hex digits into the cell of register a.
    void showRegisterCell(std::uint8_t a, std::uint8_t v);
    // Data rows 1..rows from the shadow; register 0xFF, which has no shadow entry, untouched.
    void redrawFromShadow(int rows);
    // The address field converted as the reply handler converts it (low 8 bits; def when no
    // number).
    int addressFieldValue(int def) const;
    // The address field read in full for a read or a write: a register of the profile, or
    // nothing after the warning window and a console line that names the range.
    std::optional<std::uint8_t> typedRegister();

    // --- register map (names, fields, the field editor) ---
    // The map that names the grid's registers and fields; null: none, the grid shows numbers only.
    const evb::RegisterMap* registerMap() const { return m_map.get(); }
    // Reads a map file (JSON or CMSIS-SVD): its diagnostics go to the console as
    // "FILE:LINE: error: ..."; a map with errors is refused whole and the map in use stays.
    bool LoadRegisterMap(const QString& file);
    // "Load Register Map…" in the grid's context menu: the user's own map file.
    void LoadRegMapClick();
    // The map given with --regmap FILE: loaded now, and kept when the codec type changes.
    void UseStartupRegisterMap(const QString& file);
    // "Find Register…" (Ctrl+F): to the find field, which completes names and descriptions.
    void FindRegClick();
    // Selects the cell of the first register whose name or description holds text; false (and a
    // console line) when none does.
    bool FindRegister(const QString& text);
    // The register whose fields the editor shows, or nothing.
    std::optional<std::uint8_t> fieldRegister() const { return m_fieldsReg; }
    // The chooser of "Load Register Map…", replaceable as the others; empty: cancelled.
    std::function<QString()> openMapDialog;

    // The file chooser of "Load Configuration File". Replaceable so that tests need no dialog;
    // the default runs the open-file dialog. An empty list means cancelled.
    std::function<QStringList()> opfcmd;
    // The file choosers of the snapshot actions, replaceable in the same way; empty: cancelled.
    // openRegsDialog is titled after the action that asks ("Restore from File").
    std::function<QString()> saveRegsDialog;
    std::function<QString(const char* caption)> openRegsDialog;

    // --- controls (objectName = the member's name) ---
    QGroupBox* RegFrm = nullptr;
    QTableWidget* RegMapGrid = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* RegAddrTxt = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* RegDatTxt = nullptr;
    QPushButton* RDRegCMD = nullptr;
    QPushButton* WRRegCMD = nullptr;
    QPushButton* RdAllRegCMD = nullptr;
    QPushButton* LDFileCMD = nullptr;
    QPushButton* SDFileCMD = nullptr;
    QPushButton* ExitCMD = nullptr;
    QPushButton* StopSendCMD = nullptr;
    QProgressBar* ProgrBar = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* LogoLabel = nullptr;
    std::array<QPushButton*, 21> PresetButtons{}; // ButtonA1 .. ButtonC3
    QMenu* RegMapMenu = nullptr;
    QAction* SaveRegsAction = nullptr;
    QAction* CompareRegsAction = nullptr;
    QAction* RestoreRegsAction = nullptr;
    QAction* MarkChangesAction = nullptr;
    QAction* SetBaselineAction = nullptr;
    QAction* ClearMarksAction = nullptr;
    QAction* UndoAction = nullptr;
    QAction* RedoAction = nullptr;
    QAction* RecordAction = nullptr;
    QAction* SaveRecordingAction = nullptr;
    QAction* KeepPausesAction = nullptr;
    QLabel* RecordingLabel = nullptr; // shown while recording
    QAction* LoadRegMapAction = nullptr;
    QAction* FindRegAction = nullptr;
    // The field editor, beside the grid while a map is known.
    QGroupBox* FieldPanel = nullptr;
    QLabel* LegendReadWrite = nullptr;
    QLabel* LegendReadOnly = nullptr;
    QLabel* LegendVolatile = nullptr;
    QLineEdit* FindRegTxt = nullptr;
    QCompleter* FindRegCompleter = nullptr;
    QCheckBox* CompareVolatileChk = nullptr;
    QLabel* FieldRegLabel = nullptr;
    QScrollArea* FieldScroll = nullptr;
    QAction* WatchRegisterAction = nullptr;

    // The configuration text buffer "Send Configuration" works on.
    const evb::ConfigBuffer& configBuffer() const { return m_config; }

  signals:
    void sendingChanged(bool sending);
    // "Watch Register": the register of the selected grid cell, -1 when no register cell is selected.
    void watchRegister(int reg);

  private:
    void applyProfileLayout(const evb::ChipProfile& profile);
    // Starts the event-driven send of text; refused (false) while another send runs. Its
    // writes are one undo step named source.
    bool startSend(std::string_view text, int lineLimit, int beginCount, bool report, const std::string& source);
    void sendEnded();
    void buildLayout();
    void restoreRowHeaders();
    evb::ConfigSendHooks progressHooks();
    // What the checker is told about the current chip and a buffer.
    evb::ConfigCheckOptions checkOptions(const evb::ConfigBuffer& buffer, int lineLimit) const;
    // Checks the buffer's text before a send: writes the diagnostics (all of them, or only the
    // errors when the user saw the rest on loading) and returns the part that may be sent, or
    // nothing when the text has errors; then nothing at all is sent and the console says so.
    std::optional<std::string_view> checkedForSend(const evb::ConfigBuffer& buffer, const std::string& name,
                                                   int lineLimit, bool errorsOnly);
    void sendPreset(const std::string& folder, const std::string& file, int beginCount, const std::string& source);
    void pressAutoPress();

    // What a read-all started by a snapshot action leads to once its answer arrives.
    enum class AfterRead { Nothing, Save, Compare, Restore, Verify, Baseline };
    void buildSnapshotActions();
    void updateSnapshotActions();
    // Sends the read-all; false (and a console line) when it could not be sent.
    bool readAllThen(AfterRead next);
    void readAllTimedOut();
    void verifyAfterRestore();
    // The file a snapshot action saves to or reads (its name for the console and the file system's).
    void useFile(const QString& file);
    // Loads and checks the file for Compare and Restore; false when it cannot be used.
    bool loadExpected(const QString& file, const char* action);
    // Lists the differences in the console and marks them in the grid.
    evb::RegisterComparison showComparison(const std::vector<std::uint8_t>& values, const char* lead);
    void markCell(std::uint8_t reg, const QColor& colour, const QString& text);
    QTableWidgetItem* registerItem(std::uint8_t reg) const; // null before the cell was shown

    // Register map and field editor (Tkv2580mfrm_Fields.cpp).
    void buildFieldPanel();
    void setRegisterMap(std::shared_ptr<const evb::RegisterMap> map);
    void loadShippedMap(const evb::ChipProfile& profile);
    // Background, mark, tooltip and accessible description of a register's cell.
    void decorateCell(std::uint8_t reg);
    void decorateAllCells();
    std::uint8_t cellValue(std::uint8_t reg) const; // the value the cell shows
    void showFields();         // the editor for the grid's current cell
    void updateFieldValues();  // the shown register's value changed
    // A field changed in the editor: the register is written with only the field's bits changed,
    // after a read when it was never read.
    void editField(std::uint8_t reg, std::size_t field, unsigned value);
    void writeField(std::uint8_t reg, std::size_t field, unsigned value, std::uint8_t current);
    void readArrived(std::uint8_t reg, std::uint8_t value); // a single read's answer
    struct FieldEdit {
        std::uint8_t reg;
        std::size_t field;
        unsigned value;
    };
    // The mark of a register's cell (a compare's or a change's) and its colour.
    static constexpr int kMarkRole = Qt::UserRole + 1;
    static constexpr int kMarkColourRole = Qt::UserRole + 2;
    std::shared_ptr<const evb::RegisterMap> m_map;
    bool m_startupMap = false;               // --regmap: the codec type does not replace it
    std::optional<std::uint8_t> m_fieldsReg; // the register the editor shows
    QWidget* m_fieldList = nullptr;          // the editor's rows (FieldScroll's widget)
    std::optional<FieldEdit> m_pendingEdit;  // waits for its register's read
    QTimer* m_editReadTimeout = nullptr;

    AfterRead m_afterRead = AfterRead::Nothing;
    QTimer* m_readTimeout = nullptr;
    std::string m_snapshotFile;        // the file Save writes, or Compare and Restore read (UTF-8)
    std::string m_snapshotPath;        // the same, as the file system names it
    evb::RegisterValues m_expected;    // what Compare and Restore hold the board against
    std::string m_restoreText;         // the batch Restore sends
    bool m_verifyAfterSend = false;    // Restore: read back once the batch has ended
    std::vector<std::uint8_t> m_lastRead;            // the previous read-all's values
    std::optional<std::vector<std::uint8_t>> m_baseline;

    // An action's writes: the session tells each one; between beginWrites and endWrites they
    // are collected into one undo step named text, and the session names their source.
    void buildUndoActions();
    void dropUndoObserver();
    void updateUndoActions();
    void beginWrites(const std::string& source, const QString& text);
    void endWrites();
    void buildRecordActions();
    evb::WriteRecording m_recording;
    QUndoStack* m_undo = nullptr;
    int m_writeObserver = 0;
    std::optional<std::vector<StepWrite>> m_stepWrites;
    QString m_stepText;
    std::optional<QString> m_fieldEdit; // the undo step's name while a field edit writes

    evb::ConfigBuffer m_config;
    evb::ConfigBuffer m_preset;
    ConfigSendRun* m_run = nullptr; // owned; deleted later once its send has ended
    std::vector<QPointer<QWidget>> m_enabledBeforeSend; // disabled for the send, enabled after
};
