#include "shell/Shell.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

// Tcl's exit hook carries no client data: the one shell of the process.
CShell* g_shell = nullptr;

const char* BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

void WriteTcl(int which, const std::string& text)
{
    if (Tcl_Channel channel = Tcl_GetStdChannel(which)) {
        Tcl_WriteChars(channel, text.data(), static_cast<int>(text.size()));
        Tcl_Flush(channel);
    }
}

// Run on the Tcl thread when a signal came while it services events (idle
// at the prompt, in vwait or update): leave from there.
int SignalEventProc(Tcl_Event*, int)
{
    Tcl_Exit(0); // the exit hook turns the signal into the status
    return 1;
}

} // namespace

CShell::CShell(const SShellOptions& options)
    : m_options(options), m_serial(m_prompt, m_ports), m_reconnect(m_serial, m_ports),
      m_session(m_serial, m_reconnect), m_watcher([this](int signal) { OnSignal(signal); })
{
    m_ports.Build(options.portPaths);
    // The reader must not close its own opening; the next session command does.
    m_serial.SetLineLostHandler([this] { m_lineLost = true; });
    if (options.echo)
        m_serial.AttachTerminal(&m_echo);
    m_serial.AddByteObserver(&m_log);
    m_log.SetStoppedHandler([this](const std::string& reason) { m_prompt.ShowMessage(reason); });
}

CPortSession& CShell::Session()
{
    // A port whose device went away is closed as DisConnect would.
    if (m_lineLost.exchange(false))
        m_session.Close();
    return m_session;
}

bool CShell::CreateInterpreter(const char* argv0, std::string& error)
{
    Tcl_FindExecutable(argv0);
    Tcl_Interp* interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) != TCL_OK)
        m_prompt.ShowMessage(std::string("warning: no Tcl library, so no packages: ") + Tcl_GetStringResult(interp));
    // Line by line, also into a pipe: output keeps its order with what other
    // threads print, and a forced end loses no finished line.
    Tcl_SetChannelOption(nullptr, Tcl_GetStdChannel(TCL_STDOUT), "-buffering", "line");
    m_console.AttachTclThread();
    // Tcl's own exit and pwd stay. The window's exit asks a question and
    // ends its event loop, which has no meaning here; Tcl's takes a status
    // and runs the exit hook. The window's pwd prints the directory for its
    // console, while Tcl's library and packages (tcltest) need it returned.
    if (Tcl_Eval(interp, "namespace eval ::vorlash {}; rename ::exit ::vorlash::TclExit; "
                         "rename ::pwd ::vorlash::TclPwd") != TCL_OK) {
        error = Tcl_GetStringResult(interp);
        return false;
    }
    RegisterTclCommands(interp, this);
    RegisterSessionCommands(interp, this);
    if (Tcl_Eval(interp, "rename ::exit {}; rename ::vorlash::TclExit ::exit; "
                         "rename ::pwd {}; rename ::vorlash::TclPwd ::pwd") != TCL_OK) {
        error = Tcl_GetStringResult(interp);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_exitMutex);
    m_interp = interp;
    m_tclThread = Tcl_GetCurrentThread();
    return true;
}

void CShell::Run(const char* argv0)
{
    g_shell = this;
    Tcl_SetExitProc(ExitHook);
    std::string error;
    if (!CreateInterpreter(argv0, error)) {
        m_prompt.ShowMessage(error);
        Tcl_Exit(1);
    }
    if (!m_options.junitPath.empty() && !m_junit.Install(m_interp, error)) {
        m_prompt.ShowMessage("--junit needs Tcl's tcltest package: " + error);
        Tcl_Exit(1);
    }
    if (m_options.connect != 0) {
        SResult settings;
        const SResult opened = m_session.Connect(m_options.connect, settings);
        if (!opened.ok) {
            m_prompt.ShowMessage(opened.reason.empty() ? opened.message : opened.message + ": " + opened.reason);
            Tcl_Exit(1);
        }
        if (!settings.ok)
            m_prompt.ShowMessage(settings.message + ": " + settings.reason);
        const SResult changed =
            m_options.hasSettings ? m_session.ChangeSettings(m_options.settings) : SResult::Success();
        if (!changed.ok) {
            m_prompt.ShowMessage(changed.message + ": " + changed.reason);
            Tcl_Exit(1);
        }
    }
    Tcl_Exit(m_options.script.empty() ? RunStandardInput() : RunScript());
}

// As tclsh: argv0 names the script, argv holds its arguments; an uncaught
// error shows its trace on standard error and ends with status 1.
int CShell::RunScript()
{
    Tcl_Obj* args = Tcl_NewListObj(0, nullptr);
    for (const std::string& arg : m_options.scriptArgs)
        Tcl_ListObjAppendElement(nullptr, args, Tcl_NewStringObj(arg.data(), static_cast<int>(arg.size())));
    Tcl_SetVar2Ex(m_interp, "argv", nullptr, args, TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(m_interp, "argc", nullptr, Tcl_NewIntObj(static_cast<int>(m_options.scriptArgs.size())),
                  TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(m_interp, "argv0", nullptr, Tcl_NewStringObj(m_options.script.c_str(), -1), TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(m_interp, "tcl_interactive", nullptr, Tcl_NewIntObj(0), TCL_GLOBAL_ONLY);
    const int code = Tcl_EvalFile(m_interp, m_options.script.c_str());
    if (m_signal != 0)
        return 128 + m_signal;
    if (code != TCL_ERROR)
        return 0;
    const char* info = Tcl_GetVar2(m_interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
    Tcl_Flush(Tcl_GetStdChannel(TCL_STDOUT));
    WriteTcl(TCL_STDERR, std::string(info ? info : Tcl_GetStringResult(m_interp)) + "\n");
    return 1;
}

// Commands from standard input, each once complete. At a terminal it is a
// console: a prompt, results shown, an error shown and the next command
// read. From a pipe or file the results show too, but the first error stops
// the run with status 1 (with its trace), as a script's would.
int CShell::RunStandardInput()
{
    m_stdin = Tcl_GetStdChannel(TCL_STDIN);
    if (!m_stdin)
        return 0;
    const Tcl_ChannelType* type = Tcl_GetChannelType(m_stdin);
    m_interactive = type && (std::strcmp(type->typeName, "tty") == 0 || std::strcmp(type->typeName, "console") == 0);
    Tcl_SetVar2Ex(m_interp, "argv", nullptr, Tcl_NewListObj(0, nullptr), TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(m_interp, "argc", nullptr, Tcl_NewIntObj(0), TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(m_interp, "tcl_interactive", nullptr, Tcl_NewIntObj(m_interactive ? 1 : 0), TCL_GLOBAL_ONLY);
    if (m_interactive)
        WriteTcl(TCL_STDOUT, kConsolePrompt);
    auto readable = [](ClientData shell, int) { static_cast<CShell*>(shell)->OnStandardInput(); };
    Tcl_CreateChannelHandler(m_stdin, TCL_READABLE, readable, this);
    // The loop services every event, so after, fileevent and background
    // handlers run between commands.
    while (!m_inputDone && m_signal == 0)
        Tcl_DoOneEvent(TCL_ALL_EVENTS);
    Tcl_DeleteChannelHandler(m_stdin, readable, this);
    return m_signal != 0 ? 128 + m_signal : m_status;
}

void CShell::OnStandardInput()
{
    // Tcl may call again for lines it holds already, within one event.
    if (m_inputDone || m_signal != 0)
        return;
    Tcl_Obj* line = Tcl_NewObj();
    Tcl_IncrRefCount(line);
    const int length = Tcl_GetsObj(m_stdin, line);
    const std::string text = length >= 0 ? Tcl_GetString(line) : "";
    Tcl_DecrRefCount(line);
    if (length < 0) {
        if (Tcl_InputBlocked(m_stdin))
            return;
        m_inputDone = true;
        if (!m_gathered.empty()) {
            WriteTcl(TCL_STDERR, "vorlash: the input ended inside a command (a brace, bracket or quote is open)\n");
            m_status = 1;
        }
        if (m_interactive)
            WriteTcl(TCL_STDOUT, "\n");
        return;
    }
    m_gathered += text + "\n";
    if (!Tcl_CommandComplete(m_gathered.c_str()))
        return;
    std::string command;
    command.swap(m_gathered);
    m_console.History().AddEnteredLine(command);

    // While the command waits in the event loop (vwait, update), the next
    // line stays unread.
    auto readable = [](ClientData shell, int) { static_cast<CShell*>(shell)->OnStandardInput(); };
    Tcl_CreateChannelHandler(m_stdin, 0, readable, this);
    const int code = Tcl_RecordAndEval(m_interp, command.c_str(), 0);
    Tcl_CreateChannelHandler(m_stdin, TCL_READABLE, readable, this);
    if (m_signal != 0) {
        m_inputDone = true;
        return;
    }
    const std::string result = Tcl_GetStringResult(m_interp);
    if (code == TCL_ERROR) {
        Tcl_Flush(Tcl_GetStdChannel(TCL_STDOUT));
        const char* info = Tcl_GetVar2(m_interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
        WriteTcl(TCL_STDERR, (m_interactive || !info ? result : std::string(info)) + "\n");
        if (!m_interactive) {
            m_status = 1;
            m_inputDone = true;
            return;
        }
    } else if (!result.empty()) {
        WriteTcl(TCL_STDOUT, result + "\n");
    }
    if (m_interactive)
        WriteTcl(TCL_STDOUT, kConsolePrompt);
}

void CShell::OnSignal(int signal)
{
    std::unique_lock<std::mutex> lock(m_exitMutex);
    if (m_finishing)
        return;
    int none = 0;
    m_signal.compare_exchange_strong(none, signal);
    // Waits inside commands end at once; Tcl unwinds the evaluation; an
    // idle event loop is woken to leave.
    m_cancel.Cancel();
    if (m_interp) {
        Tcl_CancelEval(m_interp, nullptr, nullptr, TCL_CANCEL_UNWIND);
        auto* event = static_cast<Tcl_Event*>(static_cast<void*>(Tcl_Alloc(sizeof(Tcl_Event))));
        event->proc = SignalEventProc;
        event->nextPtr = nullptr;
        Tcl_ThreadQueueEvent(m_tclThread, event, TCL_QUEUE_TAIL);
        Tcl_ThreadAlert(m_tclThread);
    }
    if (m_exitCv.wait_for(lock, std::chrono::milliseconds(kSignalGraceMs), [this] { return m_finishing; }))
        return;
    // The Tcl thread is held in a call no cancel reaches (a blocking read,
    // a long sleep): close the port from here and end.
    m_finishing = true;
    lock.unlock();
    m_session.Close();
    WriteStream(stderr, "vorlash: interrupted\n");
    std::_Exit(128 + m_signal);
}

int CShell::Finish(int status)
{
    {
        std::lock_guard<std::mutex> lock(m_exitMutex);
        m_finishing = true;
    }
    m_exitCv.notify_all();
    m_watcher.Stop();
    if (m_signal != 0)
        status = 128 + m_signal;
    m_session.Close();
    m_log.Stop();
    if (!m_options.junitPath.empty()) {
        std::string error;
        const char* suite = m_options.script.empty() ? "vorlash" : BaseName(m_options.script);
        if (!m_junit.Write(m_options.junitPath, suite, error)) {
            m_prompt.ShowMessage("cannot write " + m_options.junitPath + ": " + error);
            status = status != 0 ? status : 1;
        }
        if (m_junit.Failures() > 0 && status == 0)
            status = 1;
    }
    return status;
}

void CShell::ExitHook(ClientData status)
{
    int code = static_cast<int>(reinterpret_cast<intptr_t>(status));
    if (g_shell)
        code = g_shell->Finish(code);
    g_shell = nullptr;
    // Flushes and closes every channel the script left open.
    Tcl_Finalize();
    std::exit(code);
}
