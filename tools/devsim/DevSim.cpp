#include "devsim/DevSim.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxCommand = 256;

bool MakeRaw(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

CDevSim::~CDevSim()
{
    Stop();
}

bool CDevSim::Start(const SOptions& options, std::string& error)
{
    Stop();
    char name[128] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0 || !MakeRaw(m_slave) || fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0) {
        error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
        CloseDevice();
        return false;
    }
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = name;
    m_options = options;
    if (!options.link.empty()) {
        struct stat st;
        if (lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(options.link.c_str());
        if (symlink(m_path.c_str(), options.link.c_str()) != 0) {
            error = "symlink " + options.link + ": " + std::strerror(errno);
            m_options.link.clear();
            CloseDevice();
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
        m_holding = m_holdSeen = false;
        m_echo = true;
        m_line.clear();
        m_out.clear();
        m_answers.clear();
        m_received.clear();
        m_sent = 0;
        m_floodPos = 0;
        m_floodLeft = options.mode == EMode::Flood ? options.floodBytes : 0;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CDevSim::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    Wake();
    if (m_thread.joinable())
        m_thread.join();
    CloseDevice();
    if (!m_options.link.empty()) {
        unlink(m_options.link.c_str());
        m_options.link.clear();
    }
}

void CDevSim::HangUp()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    Wake();
    if (m_thread.joinable())
        m_thread.join();
    CloseDevice();
    m_changed.notify_all();
}

void CDevSim::CloseDevice()
{
    for (int* fd : {&m_master, &m_slave, &m_wake}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void CDevSim::Wake()
{
    if (m_wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
    }
}

void CDevSim::Inject(const std::string& bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_out += bytes;
    }
    Wake();
}

void CDevSim::Flood(std::size_t bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_floodLeft = bytes;
        m_floodPos = 0;
    }
    Wake();
}

bool CDevSim::HoldLine()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_holding = true;
        m_holdSeen = false;
    }
    Wake();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_holdSeen || m_stop; }) || m_stop)
            return false;
    }
    // Fill the port-to-device direction through our own end of the line.
    int flags = fcntl(m_slave, F_GETFL);
    fcntl(m_slave, F_SETFL, flags | O_NONBLOCK);
    // The kernel moves buffered bytes along a little later, making room
    // again: the line counts as full once it has had no room for 100 ms.
    const std::string filler(4096, FillerByte());
    bool full = false;
    for (int round = 0; round < 1000 && !full; ++round) {
        while (write(m_slave, filler.data(), filler.size()) > 0) {
        }
        // A large write can be refused while a few bytes still fit (after an
        // earlier hold has drained, for one): fill those byte by byte.
        while (errno == EAGAIN && write(m_slave, filler.data(), 1) > 0) {
        }
        if (errno != EAGAIN)
            break;
        pollfd p {m_slave, POLLOUT, 0};
        full = poll(&p, 1, 100) == 0;
    }
    fcntl(m_slave, F_SETFL, flags);
    return full;
}

void CDevSim::ReleaseLine()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
    }
    Wake();
}

std::string CDevSim::Received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::size_t CDevSim::ReceivedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
}

void CDevSim::ClearReceived()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
}

bool CDevSim::WaitForReceived(std::size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_received.size() >= count; });
}

std::size_t CDevSim::SentCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent;
}

bool CDevSim::WaitUntilAllSent(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_stop || (m_out.empty() && m_answers.empty() && m_floodLeft == 0);
    });
}

std::size_t CDevSim::WaitingAtPort() const
{
    int n = 0;
    if (m_slave < 0 || ioctl(m_slave, FIONREAD, &n) != 0)
        return 0;
    return static_cast<std::size_t>(n);
}

void CDevSim::OnReceived(const char* data, std::size_t n)
{
    m_received.append(data, n);
    if (m_options.mode == EMode::Echo) {
        m_out.append(data, n);
        return;
    }
    if (m_options.mode != EMode::Modem)
        return;
    for (std::size_t i = 0; i < n; ++i) {
        char c = data[i];
        if (m_echo)
            m_out += c;
        if (c == '\r' || c == '\n') {
            // CR, LF or CR LF end a command; the empty "line" between CR and
            // LF is no command.
            if (!m_line.empty())
                Answer(m_line);
            m_line.clear();
        } else if (m_line.size() < kMaxCommand) {
            m_line += c;
        }
    }
}

void CDevSim::Answer(const std::string& command)
{
    std::string cmd;
    for (char c : command)
        if (c != ' ')
            cmd += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string text;
    if (cmd == "AT")
        text = "\r\nOK\r\n";
    else if (cmd == "ATI")
        text = "\r\nDEVSIM MODEM 1.0\r\n\r\nOK\r\n";
    else if (cmd == "ATE0" || cmd == "ATE1") {
        m_echo = cmd == "ATE1";
        text = "\r\nOK\r\n";
    } else
        text = "\r\nERROR\r\n";
    if (m_options.answerDelayMs <= 0 && m_answers.empty())
        m_out += text;
    else
        m_answers.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.answerDelayMs),
                             text});
}

void CDevSim::RefillFlood()
{
    std::size_t n = std::min<std::size_t>(m_floodLeft, 4096 - std::min<std::size_t>(m_out.size(), 4096));
    for (std::size_t i = 0; i < n; ++i)
        m_out += FloodByte(m_floodPos++);
    m_floodLeft -= n;
}

void CDevSim::Run()
{
    char buffer[4096];
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        auto now = std::chrono::steady_clock::now();
        while (!m_answers.empty() && m_answers.front().due <= now) {
            m_out += m_answers.front().text;
            m_answers.pop_front();
        }
        RefillFlood();
        int timeout = -1;
        if (!m_answers.empty())
            timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           m_answers.front().due - now)
                                           .count()) +
                      1;
        const bool wantWrite = !m_out.empty();
        const bool wantRead = !m_holding;
        if (m_holding && !m_holdSeen) {
            m_holdSeen = true;
            m_changed.notify_all();
        }
        lock.unlock();

        pollfd fds[2] = {{m_master, static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0)), 0},
                         {m_wake, POLLIN, 0}};
        int r = poll(fds, 2, timeout);
        if (r < 0 && errno != EINTR) {
            lock.lock();
            break;
        }
        if (r > 0 && fds[1].revents) {
            uint64_t count;
            [[maybe_unused]] ssize_t ignored = read(m_wake, &count, sizeof count);
        }
        if (r > 0 && (fds[0].revents & (POLLERR | POLLNVAL))) {
            lock.lock();
            break;
        }
        ssize_t got = 0;
        if (r > 0 && (fds[0].revents & POLLIN))
            got = read(m_master, buffer, sizeof buffer);

        lock.lock();
        if (got > 0)
            OnReceived(buffer, static_cast<std::size_t>(got));
        if (r > 0 && (fds[0].revents & POLLOUT) && !m_out.empty()) {
            ssize_t put = write(m_master, m_out.data(), m_out.size());
            if (put > 0) {
                m_out.erase(0, static_cast<std::size_t>(put));
                m_sent += static_cast<std::size_t>(put);
            }
        }
        m_changed.notify_all();
    }
    m_changed.notify_all();
}
