#pragma once
// The main window: owner of the board session (whose serial device is RS232) and of the
// console pane UARTSHOW. It lays out the controls, runs their handlers (which call the command
// builders) and renders what the session reports. Its handlers are split over several
// sources: Tmainfrm.cpp (layout, start-up, Refresh, clock, routing, S/PDIF, control interface,
// port selection), Tmainfrm_Codec.cpp (replies, codec-type menu, tools menu, board picture)
// and Tmainfrm_Link.cpp (link monitor, console pane menu, the lock while a batch is sent).

#include "protocol/BoardSession.h"
#include "serial/TRkCommDevice.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTextEdit;
class QMenu;

class Tkv2580mfrm;
class Twarnfrm;
class TSetCodecComodeFrm;
class TRS232CfgFrm;
class TSPDIFConfigFRM;
class TForm6;
class TForm1;
class TLinkMonitorFrm;
class TRegisterWatchFrm;

// The other windows of the program, each created the first time it is needed.
struct AppWindows {
    Tkv2580mfrm* kv2580mfrm = nullptr;
    TRS232CfgFrm* RS232CfgFrm = nullptr;
    Twarnfrm* warnfrm = nullptr;
    TSetCodecComodeFrm* SetCodecComodeFrm = nullptr;
    TSPDIFConfigFRM* SPDIFConfigFRM = nullptr;
    TForm6* Form6 = nullptr;
    TForm1* Form1 = nullptr;
    TLinkMonitorFrm* LinkMonitorFrm = nullptr;
    TRegisterWatchFrm* RegisterWatchFrm = nullptr;
};

struct StartOptions {
    std::string extraPort;        // --port DEVICE / --simulate: appended as the last port
    std::string sysRoot = "/sys"; // where port enumeration reads sysfs
    // --simulate: the simulated board's port, listed after extraPort so it is the one kept open.
    std::string simulatedPort;
    // false: the machine's serial ports are not listed (and so not opened) at start-up and
    // "Refresh"; only extraPort and simulatedPort are.
    bool listMachinePorts = true;
    // Where the persistent names of USB serial devices live (a port that went away is also
    // watched for under the name it had there).
    std::string byIdDir = "/dev/serial/by-id";
    // How the port's line is made (null: the system calls); see BoardSession::Options.
    TalonComm::TLineIo* line = nullptr;
};

class SessionBridge;

class Tmainfrm : public QMainWindow {
    Q_OBJECT
    // Built first: RS232 is the session's device.
    StartOptions m_options;
    SessionBridge* m_bridge;
    std::unique_ptr<evb::BoardSession> m_session;
    evb::SessionScope m_scope; // the UI thread's current session, for the program-wide names

  public:
    explicit Tmainfrm(StartOptions options = {}, QWidget* parent = nullptr);
    ~Tmainfrm() override;

    // Runs FormCreate: the start-up banners, the port and the board's first settings.
    void Start();

    // The program's other windows. Each is created hidden on first use, so that start-up pays
    // only for the windows it shows; the same window is returned from then on.
    Tkv2580mfrm* RegisterConsole();
    TRS232CfgFrm* Rs232Window();
    Twarnfrm* WarningWindow();
    TSetCodecComodeFrm* ControlInterfaceWindow();
    TSPDIFConfigFRM* SpdifWindow();
    TForm6* AboutWindow();
    TForm1* MatlabWindow();
    TLinkMonitorFrm* LinkMonitorWindow();
    TRegisterWatchFrm* RegisterWatchWindow();

    // The console pane and the warning window (UI thread).
    void ConsoleAppend(const std::string& text);
    void ShowWarning(const std::string& line1, const std::string& line2);

    evb::BoardSession& Session() { return *m_session; }
    // Every session report, on the UI thread.
    SessionBridge& Bridge() { return *m_bridge; }

    // Opens a non-modal window of the application: restore, show, raise, focus.
    bool ShowToolWindow(QWidget* window);

    TalonComm::TRkCommDevice& RS232;

    // --- handlers (names as the controls and events they serve) ---
    void FormCreate();
    void RefreshClick();
    void ClrCMDClick();
    void HEXSHOWClick();
    void EXIT1Click();
    // clock and power
    void Sel_OSC_CLKClick();
    void Sel_SPDIF_DMCLKClick();
    void Sel_SPDIF_AMCLKClick();
    void DVDD2Click();
    void DVDD2P5Click();
    void DVDD3P3Click();
    void PLL_USE_CHKClick();
    void PLLCMDClick();
    // audio port routing and S/PDIF
    void SDP1_MSClick();
    void SDP1_SLVClick();
    void SDP2_MSClick();
    void SDP2_SLVClick();
    void SDP3_MSClick();
    void SDP3_SLVClick();
    void SPDIF_RESETClick();
    void SPDIF_TX_STOPClick();
    void SetTXCMDClick();
    // control interface, port selection
    void setcodecI2CClick();
    void RS2321Click();
    void setrs232cmdClick();
    void RS2322Click();
    // link monitor, console pane menu (Tmainfrm_Link.cpp)
    void LinkMonitor1Click();
    void RegisterWatch1Click();
    void UARTSHOWContextPopup(const QPoint& where);
    void UARTSHOWSaveAsClick();
    // The file chooser of the console pane's "Save As…"; replaceable for tests. Empty: cancelled.
    std::function<QString()> consoleSaveFile;
    // codec type menu and tools (Tmainfrm_Codec.cpp)
    void KV1120Click();
    void KV1150Click();
    void KV1160Click();
    void KV1160LClick();
    void KV1160EClick();
    void KV2210Click();
    void KV2210SClick();
    void KV2220Click();
    void KV2330Click();
    void KV2440Click();
    void KV2450Click();
    void KV2460Click();
    void KV2640Click();
    void KV2650Click();
    void KV2910Click();
    void KV2920Click();
    void KV2930Click();
    void CorvaneClick();
    void EQ2Click();
    void EQInstruction1Click();
    void EVBInstructions1Click();
    void MatlabInstruction1Click();
    void VersionV221Click();
    void Image1Click();
    // reply handling: runs on the UI thread (the package event is handed over to it); the
    // session reads the package and reports it, renderReply shows what is the main window's.
    void RS232CommNotify(TalonComm::TObject* Sender, int NotifyType);
    void renderReply(const evb::ReplyEvent& event);

    // --- controls (objectName = the member's name) ---
    QPushButton* setrs232cmd = nullptr;
    QLineEdit* RS232_CommPort = nullptr;
    QPushButton* Refresh = nullptr;
    QGroupBox* SpdifGroup = nullptr;
    QCheckBox* SPDIF_RESET = nullptr;
    QCheckBox* SPDIF_TX_STOP = nullptr;
    QPushButton* SetTXCMD = nullptr;
    QPushButton* setcodecI2C = nullptr;
    QRadioButton* Sel_OSC_CLK = nullptr;
    QRadioButton* Sel_SPDIF_DMCLK = nullptr;
    QRadioButton* Sel_SPDIF_AMCLK = nullptr;
    QLineEdit* mclktxt = nullptr;
    QLineEdit* LRCKTXT = nullptr;
    QGroupBox* DvddGroup = nullptr;
    QRadioButton* DVDD2 = nullptr;
    QRadioButton* DVDD2P5 = nullptr;
    QRadioButton* DVDD3P3 = nullptr;
    QCheckBox* PLL_USE_CHK = nullptr;
    QPushButton* PLLCMD = nullptr;
    QGroupBox* SDP1Group = nullptr;
    QRadioButton* SDP1_MS = nullptr;
    QRadioButton* SDP1_SLV = nullptr;
    QGroupBox* SDP2Group = nullptr;
    QRadioButton* SDP2_MS = nullptr;
    QRadioButton* SDP2_SLV = nullptr;
    QGroupBox* SDP3Group = nullptr;
    QRadioButton* SDP3_MS = nullptr;
    QRadioButton* SDP3_SLV = nullptr;
    QTextEdit* UARTSHOW = nullptr;
    QCheckBox* HEXSHOW = nullptr;
    QPushButton* ClrCMD = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label8 = nullptr;
    // menu entries
    QAction* RS2321 = nullptr;
    QAction* RS2322 = nullptr;
    QAction* EXIT1 = nullptr;
    QAction* LinkMonitor1 = nullptr;
    QAction* RegisterWatch1 = nullptr;

    // The port names start-up and "Refresh" open, in order (the last one stays open).
    std::vector<std::string> StartupPortNames() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    AppWindows Windows; // null until created
    // Start-up (refresh false) and "Refresh" (refresh true) share one sequence.
    void initialiseBoard(bool refresh);
    // Runs a handler as the toolkit runs an event handler: an exception that escapes it is
    // shown in an error box and the program goes on.
    void runHandler(const std::function<void()>& handler);
    void showErrorBox(const QString& message, const QString& reason);
    // While a configuration or preset send runs, every control that would send to the board
    // (or change the port under it) is disabled; enabled again after the batch. Follows the
    // session's sending state.
    void setSendLock(bool sending);
    std::vector<QPointer<QObject>> m_lockedForSend;
    // A console line when port carries the machine's system console (opened all the same).
    void warnIfSystemConsole(const std::string& port);
    bool isApplicationForm(const QWidget* window) const;

    void BuildLayout();
    void BuildMenus();
    // Shared body of the codec-type menu handlers: the entry of the codec table's row.
    void selectCodecType(int row);
};
