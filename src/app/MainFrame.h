#pragma once

#include <QFont>
#include <QMainWindow>

#include <atomic>
#include <functional>
#include <memory>

#include "app/GuiPrompt.h"
#include "app/SettingsFile.h"
#include "app/VorlaDoc.h"
#include "console/ConsoleView.h"
#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "console/TclLogCommands.h"
#include "log/SessionLog.h"
#include "serial/DeviceWatcher.h"
#include "serial/PortMap.h"
#include "serial/PortReconnect.h"
#include "serial/PortSession.h"
#include "serial/PortSettings.h"
#include "serial/SerialDevices.h"
#include "serial/SerialPort.h"
#include "terminal/ReceivedBytes.h"
#include "terminal/ReceivedTextQueue.h"
#include "terminal/TerminalView.h"
#include "widgets/UiBridge.h"

class CAboutBox;
class CFindDialog;
class QPrinter;
class CCommandBar;
class CThinSplitterWnd;
class CPortSettingsDlg;
class QLabel;
class QMenu;
class QProgressBar;
class QSocketNotifier;
class QStatusBar;
class QTimer;

// The one main window: menu and accelerators, command bar, the terminal and
// console panes in a two-row splitter, and the status bar. It owns the
// objects that live as long as the window: the serial engine, the queue of
// received text, the Tcl host, the Port Settings dialog, the reconnect, and
// the bridge that workers use to reach the UI.
class CMainFrame : public QMainWindow,
                   public ITclHostOwner,
                   public ITclPortOwner,
                   public ITclLogOwner,
                   public ITerminalPaneOwner,
                   public IConsolePaneOwner {
    Q_OBJECT
public:
    explicit CMainFrame(CPortMap& ports, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // ITclHostOwner, and ITerminalPaneOwner's OpenPort
    IConsole* ConsolePane() override;
    int OpenPort() const override { return m_session.OpenPort(); }
    CSerialPort& SerialPort() override { return m_serial; }
    IUserPrompt& Prompt() override { return m_prompt; }
    // ITclPortOwner
    const CPortMap& Ports() const override { return m_ports; }
    CPortReconnect& Reconnect() override { return m_reconnect; }
    // ITclLogOwner
    CSessionLog& SessionLog() override { return m_log; }
    CReceivedBytes& ReceivedBytes() { return m_receivedBytes; }

    // Follows serial devices appearing and going in these directories: the
    // port list names them, and a lost port comes back when its device does
    // (Config > Reconnect Automatically). main() passes the system's; tests
    // their own.
    void WatchDevices(const SDeviceDirs& dirs);

    CConsoleView* Console() const;
    CVORLAView* Terminal() const;
    CReceivedTextQueue& ReceivedText() { return m_received; }
    // True when the console pane was the last pane to gain the keyboard focus.
    bool ConsoleFocus() const { return m_bConsoleFocus; }
    CThinSplitterWnd* Splitter() const { return m_wndSplitter; }
    CGuiPrompt& GuiPrompt() { return m_prompt; }
    CUiBridge& Bridge() { return m_bridge; }
    CTclHost& TclHost() { return m_tclHost; }
    CPortSettings& PortSettings();
    QMenu* MenuAt(int index) const;

    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;
    // Maps a key to the accelerator table's command, or 0.
    static int AcceleratorFor(const QKeyEvent* event);
    // Ctrl+Break as the platform delivers it: Ctrl+Pause, Cancel, or the X keysym Break.
    static bool IsBreakKey(const QKeyEvent* event);
    // Ctrl+Tab, Ctrl+Break and the accelerator table; true when the key was
    // taken. Both panes call it after their own key rules.
    bool TranslateKey(QKeyEvent* key) override;

    void OnPrompt();
    void OnFonts();
    void OnSetVorlaFont();
    void OnConnect();
    void OnDisconnect();
    void OnSettings();
    void OnReconnectOption(bool on);
    void OnRunScript();
    void CreateStatusControls();
    // Document commands on the terminal text.
    void OnClearScreen();
    void OnSaveAs();
    bool OpenDocument(const QString& path);
    void OnPrint();
    void OnPrintPreview();
    void OnPrintSetup();
    void OnFind();
    bool OnFindNext();
    // File > Log to File (stops a running log), Edit > Send Hex, View > Timestamps and Hex.
    void OnLogToFile();
    void OnSendHex();
    void OnViewTimestamps();
    void OnViewHex();
    // Config > Enter Sends: the pane's choice and the CR+LF check box together.
    void SetEnterSends(EEnterSends enter);
    CVORLADoc& Document() { return m_doc; }
    CFindDialog* FindDialog() const { return m_findDlg; }
    QPrinter& Printer();
    // Ends workers and joins them; the first step of every way out.
    void StopWorkers();

    // Members in the order of their lifetimes.
    QFont m_lfConsole;
    QFont m_lfTerminal;
    QLabel* m_wndPercent = nullptr;
    QProgressBar* m_wndProgress = nullptr;
    int m_bConsoleHidden = 0;
    int m_bPanesCreated = 0;
    CCommandBar* m_wndCommandBar = nullptr;

    // Test hooks: replace the modal font and script dialogs.
    std::function<bool(QFont& font, const QString& title)> m_chooseFont;
    std::function<QString()> m_chooseScript;
    std::function<int(CPortSettingsDlg&)> m_runSettingsDialog;
    std::function<QString(const QString& proposed)> m_chooseSaveFile;
    std::function<bool(QPrinter&)> m_printDialog; // true to print
    std::function<bool(QString& path, SLogOptions& options)> m_chooseLog; // true to start
    std::function<QString()> m_chooseHex; // the hex text to send; empty: cancelled

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // ITerminalPaneOwner and IConsolePaneOwner
    bool SendByte(unsigned char b, const CCancelSignal* cancel) override { return m_serial.SendByte(b, cancel); }
    void AttachConsole() override { m_tclHost.AttachConsole(); }
    void SubmitCommandText(const std::string& text) override { m_tclHost.SubmitCommandText(text); }

    void PlaceNormalGeometry();
    void CreateMenus();
    void CreateStatusBar();
    bool ChooseFont(QFont& font, const QString& title);
    CTextView* ActivePane() const;
    void LineLost();
    // Port handlers beside Connect and DisConnect (ConnectCommands.cpp).
    void ClosePort();
    void StopWaitingForDevice();
    void OnDevicesChanged();
    void RefreshPortList();
    void TryReconnect();
    void UpdatePortState();

    CUiBridge m_bridge;
    CGuiPrompt m_prompt;
    CSettingsFile m_settings;
    CPortMap& m_ports;
    CReceivedTextQueue m_received; // filled by the engine's reader, drained by the terminal pane
    CSessionLog m_log;             // fed by the engine (a byte observer) while a log runs
    CReceivedBytes m_receivedBytes; // the raw received bytes for the hex view, fed by the engine
    CSerialPort m_serial;
    CPortReconnect m_reconnect;    // before the Tcl host: a script may wait on it until the host is gone
    CPortSession m_session;        // the open port: written on the UI thread, read by senders on any thread
    CTclHost m_tclHost;
    CThinSplitterWnd* m_wndSplitter = nullptr;
    std::unique_ptr<CPortSettingsDlg> m_dlgPortSettings;
    QStatusBar* m_wndStatusBar = nullptr;
    QLabel* m_wndReady = nullptr;
    QLabel* m_indicators[3] = {nullptr, nullptr, nullptr};
    QLabel* m_wndPortState = nullptr;   // the open port and its settings, or "Not connected"
    QLabel* m_wndLog = nullptr;         // "Log: <size>" while a log runs
    QTimer* m_logTimer = nullptr;       // refreshes m_wndLog once a second while a log runs
    SLogOptions m_logOptions;           // the Log to File dialog's choices, kept while VORLA runs
    QString m_logPath;
    QString m_hexText;                  // the last hex text sent
    void UpdateLogState();
    void LogEnded(const QString& reason);
    QAction* m_reconnectAction = nullptr; // Config > Reconnect Automatically
    SDeviceDirs m_deviceDirs;
    std::unique_ptr<CDeviceWatcher> m_deviceWatcher;
    QSocketNotifier* m_deviceNotifier = nullptr; // the watcher's descriptor in the event loop
    QTimer* m_deviceRescan = nullptr;            // only when the platform gave no watcher
    QTimer* m_reconnectRecheck = nullptr;        // tries again a device that is back but refused
    CVORLADoc m_doc;
    CFindDialog* m_findDlg = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    bool m_workersStopped = false;
    bool m_bConsoleFocus = false;        // the console pane had the keyboard focus last (UI thread)
    bool m_bStatusCtrlsPending = true;   // the paste progress controls are still to be made
};
