#pragma once

#include <functional>
#include <thread>

// Turns SIGINT and SIGTERM into calls on a thread of its own: the signal
// handler only writes the signal's number into a pipe (all it may safely
// do), and the watcher thread reads it and calls the handler, which may
// lock, cancel and close like any code. (linux/SignalWatcher.cpp; on
// Windows, win32/SignalWatcher.cpp turns Ctrl+C and Ctrl+Break into SIGINT
// and the console's close, log-off and shut-down into SIGTERM.)
class CSignalWatcher {
public:
    using Handler = std::function<void(int signal)>;

    // Installs the signal handlers and starts the thread. One at a time.
    explicit CSignalWatcher(Handler handler);
    ~CSignalWatcher(); // Stop()
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

    // Ends and joins the thread (from any other thread). Signals that come
    // later are swallowed, so a second Ctrl+C cannot cut a shut-down short.
    void Stop();

private:
    void Run();

    Handler m_handler;
    int m_read = -1;  // the pipe's ends; the write end also lives in the signal handler's static
    int m_write = -1;
    std::thread m_thread;
};
