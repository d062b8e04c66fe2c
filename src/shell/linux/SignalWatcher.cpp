#include "shell/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// The handler's only state: where to write. -1 once the watcher is gone.
std::atomic<int> g_signalPipe{-1};

void OnSignal(int signal)
{
    const int saved = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t n = write(fd, &byte, 1);
    }
    errno = saved;
}

constexpr unsigned char kStopByte = 0;

} // namespace

CSignalWatcher::CSignalWatcher(Handler handler) : m_handler(std::move(handler))
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
        m_read = fds[0];
        m_write = fds[1];
    }
    g_signalPipe = m_write;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // blocking reads of the Tcl thread go on; the cancel reaches its waits
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (m_read >= 0)
        m_thread = std::thread([this] { Run(); });
}

CSignalWatcher::~CSignalWatcher()
{
    Stop();
    g_signalPipe = -1;
    if (m_read >= 0)
        close(m_read);
    if (m_write >= 0)
        close(m_write);
}

void CSignalWatcher::Stop()
{
    if (!m_thread.joinable())
        return;
    const unsigned char byte = kStopByte;
    while (write(m_write, &byte, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
}

void CSignalWatcher::Run()
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = read(m_read, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == kStopByte)
            return;
        m_handler(byte);
    }
}
