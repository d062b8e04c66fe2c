#include "console/TclHost.h"

#include <tcl.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <sstream>

#include "core/CancelSignal.h"
#include "console/ConsoleChannel.h"
#include "console/IConsole.h"
#include "console/TclCommands.h"

// Tcl keeps this one out of its public header; the library exports it
// (internal stubs slot 237). It is the only way to take an interpreter out of
// the "unwound" state that Tcl_CancelEval with TCL_CANCEL_UNWIND leaves.
extern "C" int TclResetCancellation(Tcl_Interp* interp, int force);

// The state shared between the host's owner (UI thread, paste thread) and the
// Tcl thread, and the Tcl thread's own work.
struct CTclHost::Impl : ITclCommandContext {
    // Written on the UI thread (SetMainWindow, AttachConsole), read on the Tcl thread.
    std::atomic<ITclHostOwner*> m_owner{nullptr};
    std::atomic<IConsole*> m_console{nullptr};
    std::atomic<ITclHostOwner*> m_ownerForCommands{nullptr};
    // Written under m_mutex; read without it before every console call.
    std::atomic<bool> m_stopping{false};
    // Cancelled under m_mutex by CancelEvaluation and Shutdown; reset under
    // m_mutex by the Tcl thread as each evaluation starts.
    CCancelSignal m_cancel;

    std::mutex m_mutex;            // guards the fields below
    std::condition_variable m_cv;  // texts and stop for the Tcl thread; ready, idle and finished for waiters
    struct SText {
        std::string text;
        bool fromScript; // submitted by Run Script: an error names the file and line
    };
    std::deque<SText> m_inbox;     // submitted texts not yet taken in by the Tcl thread
    bool m_busy = false;           // the Tcl thread is taking in a text or evaluating
    bool m_evaluating = false;     // Tcl_CancelEval may be called on m_interp
    bool m_ready = false;          // the interpreter and its commands are in place
    bool m_finished = false;       // the Tcl thread has deleted the interpreter and is ending
    bool m_eventLoop = false;      // the Tcl thread's event loop takes wake-up events (WakeLoop)
    bool m_servicingEvents = false; // idle in the event loop: handlers there may run Tcl code
    Tcl_Interp* m_interp = nullptr; // created and deleted by the Tcl thread
    Tcl_ThreadId m_tclThread = nullptr; // set by Run before m_ready

    void Run();
    bool NextText(std::string& text, bool& fromScript);
    void Evaluate(Tcl_Interp* interp, const std::string& command, bool fromScript);
    void Submit(const std::string& text, bool fromScript);
    // Under m_mutex: ends the Tcl thread's idle wait in its event loop.
    void WakeLoop()
    {
        if (m_eventLoop)
            QueueTclThreadEvent(m_tclThread, nullptr, nullptr);
    }

    void Print(const std::string& text, int kind) override
    {
        if (m_stopping.load())
            return;
        if (IConsole* console = m_console.load())
            console->PrintToConsole(text, kind);
    }
    IConsole* Console() override { return m_stopping.load() ? nullptr : m_console.load(); }
    ITclHostOwner* Owner() override { return m_stopping.load() ? nullptr : m_ownerForCommands.load(); }
    const CCancelSignal* CancelSignal() override { return &m_cancel; }
};

// The Tcl thread: everything Tcl happens here, from the first interpreter to
// the thread's own clean-up.
void CTclHost::Impl::Run()
{
    // The first interpreter brings the library up before any channel exists.
    Tcl_Interp* bringUp = Tcl_CreateInterp();
    // Commands, script files and file names arrive as UTF-8; without the
    // script library Tcl would otherwise read them as ISO 8859-1.
    Tcl_SetSystemEncoding(nullptr, "utf-8");
    InstallConsoleChannels(this);
    Tcl_Interp* interp = Tcl_CreateInterp();
    RegisterTclCommands(interp, this);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interp = interp;
        m_tclThread = Tcl_GetCurrentThread();
        m_eventLoop = true;
        m_ready = true;
    }
    m_cv.notify_all();

    std::string gathered; // the command buffer: text of a command not yet complete
    std::string text;
    bool fromScript = false;
    while (NextText(text, fromScript)) {
        gathered += text;
        if (Tcl_CommandComplete(gathered.c_str())) {
            std::string command;
            command.swap(gathered);
            Evaluate(interp, command, fromScript);
        }
    }

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interp = nullptr;
        m_eventLoop = false; // no wake-up reaches a thread whose notifier is going
    }
    Tcl_DeleteInterp(interp);
    Tcl_DeleteInterp(bringUp);
    // Closes this thread's standard channels (the console channel among them)
    // and frees the rest of Tcl's per-thread state.
    Tcl_FinalizeThread();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_cv.notify_all();
}

// Waits for the next submitted text; false once the host is stopping.
// Meanwhile the thread services its Tcl event loop, so that after scripts,
// file events and expect_background run between evaluations, never inside
// one; Submit and Shutdown wake it with an event.
bool CTclHost::Impl::NextText(std::string& text, bool& fromScript)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_busy = false;
    m_cv.notify_all();
    while (!m_stopping.load() && m_inbox.empty()) {
        m_servicingEvents = true;
        lock.unlock();
        Tcl_DoOneEvent(TCL_ALL_EVENTS);
        lock.lock();
        m_servicingEvents = false;
        // A Ctrl+Break aimed at an event handler ends with it.
        if (Tcl_AsyncReady())
            Tcl_AsyncInvoke(m_interp, TCL_OK);
        TclResetCancellation(m_interp, 1);
        m_cancel.Reset();
    }
    if (m_stopping.load())
        return false;
    text = std::move(m_inbox.front().text);
    fromScript = m_inbox.front().fromScript;
    m_inbox.pop_front();
    m_busy = true;
    return true;
}

// Where a script run by Run Script failed, from the error's trace: the
// innermost file's line (`    (file "/x.tcl" line 3)`) and the lines of the
// procedures called on the way there. Empty when the error did not happen
// inside a file (one that could not be read, for example).
static std::string ScriptErrorPlace(Tcl_Interp* interp, int code)
{
    Tcl_Obj* options = Tcl_GetReturnOptions(interp, code);
    Tcl_IncrRefCount(options);
    Tcl_Obj* key = Tcl_NewStringObj("-errorinfo", -1);
    Tcl_IncrRefCount(key);
    Tcl_Obj* info = nullptr;
    std::istringstream trace(Tcl_DictObjGet(nullptr, options, key, &info) == TCL_OK && info ? Tcl_GetString(info) : "");
    Tcl_DecrRefCount(key);
    Tcl_DecrRefCount(options);
    std::string place;
    for (std::string line; std::getline(trace, line);) {
        if (line.rfind("    (procedure \"", 0) == 0)
            place += line + "\n";
        if (line.rfind("    (file \"", 0) == 0)
            return place + line + "\n";
    }
    return std::string();
}

void CTclHost::Impl::Evaluate(Tcl_Interp* interp, const std::string& command, bool fromScript)
{
    // A cancel aimed at the previous evaluation may still be queued inside
    // Tcl, and an unwound interpreter stays unwound: clear both first, while
    // no new cancel can reach Tcl (m_evaluating is false).
    if (Tcl_AsyncReady())
        Tcl_AsyncInvoke(interp, TCL_OK);
    TclResetCancellation(interp, 1);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping.load())
            return;
        m_evaluating = true;
        m_cancel.Reset();
    }

    Tcl_RecordAndEval(interp, command.c_str(), TCL_NO_EVAL);
    int length = command.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(command.size());
    int code = Tcl_EvalEx(interp, command.data(), length, 0);
    std::string result = Tcl_GetStringResult(interp);
    if (!result.empty())
        result += "\n";
    // Typed commands show the message only, as Tcl's own consoles do.
    if (code == TCL_ERROR && fromScript)
        result += ScriptErrorPlace(interp, code);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_evaluating = false;
    }

    if (!result.empty())
        Print(result, code == TCL_ERROR ? kConsoleError : kConsoleOutput);
    Print(kConsolePrompt, kConsoleNotice);
}

CTclHost::CTclHost() : m_impl(std::make_shared<Impl>())
{
    std::shared_ptr<Impl> impl = m_impl;
    m_thread = std::thread([impl] { impl->Run(); });
    std::unique_lock<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_cv.wait(lock, [this] { return m_impl->m_ready; });
}

CTclHost::~CTclHost() { DeleteInterpreter(); }

void CTclHost::SetMainWindow(ITclHostOwner* owner) { m_impl->m_owner = owner; }

void CTclHost::AttachConsole()
{
    ITclHostOwner* owner = m_impl->m_owner.load();
    m_impl->m_console = owner ? owner->ConsolePane() : nullptr;
    m_impl->m_ownerForCommands = owner;
}

void CTclHost::SubmitCommandText(const std::string& text) { m_impl->Submit(text, false); }

void CTclHost::Impl::Submit(const std::string& text, bool fromScript)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping.load())
            return;
        m_inbox.push_back({text, fromScript});
        WakeLoop();
    }
    m_cv.notify_all();
}

void CTclHost::CancelEvaluation()
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    if (m_impl->m_evaluating || m_impl->m_servicingEvents)
        Tcl_CancelEval(m_impl->m_interp, nullptr, nullptr, TCL_CANCEL_UNWIND);
    m_impl->m_cancel.Cancel();
}

bool CTclHost::IsEvaluating() const
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    return m_impl->m_evaluating;
}

void CTclHost::RunScriptFile(const std::string& path)
{
    AttachConsole();
    if (m_impl->m_stopping.load())
        return;
    if (IConsole* console = m_impl->m_console.load())
        console->PrintToConsole("\n", kConsoleOutput);
    m_impl->Submit(MakeSourceCommand(path), true);
}

void CTclHost::DeleteInterpreter() { Shutdown(kShutdownTimeoutMs); }

bool CTclHost::Shutdown(int timeoutMs)
{
    if (!m_thread.joinable())
        return true;
    Impl& impl = *m_impl;
    {
        std::lock_guard<std::mutex> lock(impl.m_mutex);
        impl.m_stopping = true;
        impl.m_inbox.clear();
        if (impl.m_evaluating || impl.m_servicingEvents)
            Tcl_CancelEval(impl.m_interp, nullptr, nullptr, TCL_CANCEL_UNWIND);
        impl.m_cancel.Cancel();
        impl.WakeLoop();
    }
    impl.m_cv.notify_all();
    // The Tcl thread may be waiting for room in the console's output: nobody
    // drains it while this thread waits here.
    if (IConsole* console = impl.m_console.load())
        console->AbortOutput();

    bool finished;
    {
        std::unique_lock<std::mutex> lock(impl.m_mutex);
        finished = impl.m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&impl] { return impl.m_finished; });
    }
    if (finished)
        m_thread.join();
    else
        m_thread.detach(); // it holds its own reference to impl and prints nothing more
    return finished;
}

bool CTclHost::WaitIdle(int timeoutMs)
{
    Impl& impl = *m_impl;
    std::unique_lock<std::mutex> lock(impl.m_mutex);
    return impl.m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&impl] { return impl.m_finished || (impl.m_inbox.empty() && !impl.m_busy); });
}

std::string MakeSourceCommand(const std::string& path)
{
    std::string command = "source ";
    // A leading ~ would be taken as a user's home directory.
    if (!path.empty() && path[0] == '~')
        command += "./";
    for (unsigned char c : path) {
        bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80 ||
                     c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '@' ||
                     c == '=' || c == '%';
        if (plain) {
            command += static_cast<char>(c);
        } else if (c == '\n') {
            command += "\\n"; // a backslash before a real line feed would join the lines
        } else if (c == '\t') {
            command += "\\t";
        } else if (c == '\r') {
            command += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c); // exactly four digits: nothing after is absorbed
            command += escape;
        } else {
            // Blank and punctuation: a backslash makes each one a plain character.
            command += '\\';
            command += static_cast<char>(c);
        }
    }
    return command;
}

namespace {

// An event that runs a function on the thread whose queue it is in.
struct SThreadEvent {
    Tcl_Event header; // first: Tcl frees the event through it
    void (*proc)(void*);
    void* data;
};

int RunThreadEvent(Tcl_Event* event, int)
{
    auto* e = reinterpret_cast<SThreadEvent*>(event);
    if (e->proc)
        e->proc(e->data);
    return 1;
}

} // namespace

void QueueTclThreadEvent(Tcl_ThreadId thread, void (*proc)(void*), void* data)
{
    auto* e = reinterpret_cast<SThreadEvent*>(Tcl_Alloc(sizeof(SThreadEvent)));
    e->header.proc = RunThreadEvent;
    e->header.nextPtr = nullptr;
    e->proc = proc;
    e->data = data;
    Tcl_ThreadQueueEvent(thread, &e->header, TCL_QUEUE_TAIL);
    Tcl_ThreadAlert(thread);
}

void DropTclThreadEvents(void (*proc)(void*), void* data)
{
    struct SWhich {
        void (*proc)(void*);
        void* data;
    } which{proc, data};
    Tcl_DeleteEvents(
        [](Tcl_Event* event, ClientData clientData) {
            const auto* w = static_cast<SWhich*>(clientData);
            if (event->proc != RunThreadEvent)
                return 0;
            const auto* e = reinterpret_cast<SThreadEvent*>(event);
            return e->proc == w->proc && e->data == w->data ? 1 : 0;
        },
        &which);
}
