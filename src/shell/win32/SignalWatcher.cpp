#include "shell/SignalWatcher.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

// Windows calls a console control handler on a new thread of its own for
// Ctrl+C, Ctrl+Break and the console window being closed. Like the Linux
// signal handler it only writes the event, as a signal number, into a pipe:
// the watcher thread reads it and calls the handler, one at a time, and
// Stop ends that thread.

namespace {

// Where the control handler writes; -1 once the watcher is gone. The lock
// keeps the pipe open while a control handler writes to it.
std::mutex g_pipeMutex;
std::condition_variable g_gone;
int g_signalPipe = -1;

// After a close, log-off or shut-down event returns, Windows ends the
// process (after about 5 s even if it does not return): the event waits
// for the watcher to be destroyed, which comes after the shut-down work.
constexpr auto kCloseWait = std::chrono::milliseconds(4500);

BOOL WINAPI OnControl(DWORD event)
{
    const bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    const unsigned char byte = static_cast<unsigned char>(closing ? SIGTERM : SIGINT);
    std::unique_lock<std::mutex> lock(g_pipeMutex);
    if (g_signalPipe >= 0)
        [[maybe_unused]] int n = _write(g_signalPipe, &byte, 1);
    if (closing)
        g_gone.wait_for(lock, kCloseWait, [] { return g_signalPipe < 0; });
    return TRUE; // handled: neither the default handler nor the next one runs
}

constexpr unsigned char kStopByte = 0;

} // namespace

CSignalWatcher::CSignalWatcher(Handler handler) : m_handler(std::move(handler))
{
    int fds[2];
    if (_pipe(fds, 256, _O_BINARY | _O_NOINHERIT) == 0) {
        m_read = fds[0];
        m_write = fds[1];
    }
    {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        g_signalPipe = m_write;
    }
    // Installed once for the process and left in place: events that come
    // after the watcher is gone are swallowed, as on Linux.
    static const bool installed = ::SetConsoleCtrlHandler(OnControl, TRUE) != FALSE;
    (void)installed;
    if (m_read >= 0)
        m_thread = std::thread([this] { Run(); });
}

CSignalWatcher::~CSignalWatcher()
{
    Stop();
    {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        g_signalPipe = -1;
    }
    g_gone.notify_all();
    if (m_read >= 0)
        _close(m_read);
    if (m_write >= 0)
        _close(m_write);
}

void CSignalWatcher::Stop()
{
    if (!m_thread.joinable())
        return;
    const unsigned char byte = kStopByte;
    {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        [[maybe_unused]] int n = _write(m_write, &byte, 1);
    }
    m_thread.join();
}

void CSignalWatcher::Run()
{
    for (;;) {
        unsigned char byte = 0;
        const int n = _read(m_read, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == kStopByte)
            return;
        m_handler(byte);
    }
}
