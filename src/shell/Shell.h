#pragma once

#include <tcl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "console/TclLogCommands.h"
#include "console/TclSessionCommands.h"
#include "core/CancelSignal.h"
#include "log/SessionLog.h"
#include "serial/PortMap.h"
#include "serial/PortReconnect.h"
#include "serial/PortSession.h"
#include "serial/SerialPort.h"
#include "shell/JUnitReport.h"
#include "shell/ShellOptions.h"
#include "shell/SignalWatcher.h"
#include "shell/StdStreams.h"

// vorlash: the VORLA interpreter on the standard streams, as tclsh is Tcl's.
// The thread that makes it is the Tcl thread: it creates the interpreter
// with every added command and runs the script or the commands read from
// standard input. Every way out goes through Tcl_Exit, whose exit hook
// closes the port, writes the JUnit report and sets the exit status.
class CShell : public ITclCommandContext,
               public ITclHostOwner,
               public ITclPortOwner,
               public ITclSessionOwner,
               public ITclLogOwner {
public:
    // How long a Ctrl+C or SIGTERM waits for the Tcl thread to reach a
    // point where it can leave in order (a cancelled wait returns at once)
    // before the port is closed and the process ends from the watcher.
    static constexpr int kSignalGraceMs = 600;

    explicit CShell(const SShellOptions& options);
    CShell(const CShell&) = delete;
    CShell& operator=(const CShell&) = delete;

    // Sets up, runs the script or standard input, and exits with the status.
    [[noreturn]] void Run(const char* argv0);

    // ITclCommandContext
    void Print(const std::string& text, int kind) override { m_console.PrintToConsole(text, kind); }
    IConsole* Console() override { return &m_console; }
    ITclHostOwner* Owner() override { return this; }
    const CCancelSignal* CancelSignal() override { return &m_cancel; }
    // ITclHostOwner
    IConsole* ConsolePane() override { return &m_console; }
    int OpenPort() const override { return m_session.OpenPort(); }
    CSerialPort& SerialPort() override { return m_serial; }
    IUserPrompt& Prompt() override { return m_prompt; }
    // ITclPortOwner
    const CPortMap& Ports() const override { return m_ports; }
    CPortReconnect& Reconnect() override { return m_reconnect; }
    // ITclSessionOwner
    CPortSession& Session() override;
    // ITclLogOwner
    CSessionLog& SessionLog() override { return m_log; }

private:
    bool CreateInterpreter(const char* argv0, std::string& error);
    int RunScript();
    int RunStandardInput();
    void OnStandardInput();
    // The steps of the exit hook, on the Tcl thread; returns the status.
    int Finish(int status);
    void OnSignal(int signal);
    [[noreturn]] static void ExitHook(ClientData status);

    const SShellOptions& m_options;
    CStdPrompt m_prompt;
    CStdConsole m_console;
    CEchoSink m_echo;
    CPortMap m_ports;
    CSessionLog m_log; // before the engine: it hears the engine's last close
    CSerialPort m_serial;
    CPortReconnect m_reconnect; // stays off: WaitForPort only sees the port open or closed
    CPortSession m_session;
    std::atomic<bool> m_lineLost{false}; // set by the reader when the device went away
    CCancelSignal m_cancel;              // set by a signal; every wait inside a command watches it
    CJUnitReport m_junit;
    Tcl_Interp* m_interp = nullptr;
    Tcl_ThreadId m_tclThread = nullptr;

    // Standard input mode, Tcl thread only.
    Tcl_Channel m_stdin = nullptr;
    bool m_interactive = false;
    std::string m_gathered; // lines of a command not complete yet
    bool m_inputDone = false;
    int m_status = 0;

    std::mutex m_exitMutex;        // guards m_finishing and the interpreter against a signal
    std::condition_variable m_exitCv;
    bool m_finishing = false;      // the exit hook runs: no Tcl call from the watcher any more
    std::atomic<int> m_signal{0};  // the first SIGINT or SIGTERM
    CSignalWatcher m_watcher;      // last: its thread calls OnSignal
};
