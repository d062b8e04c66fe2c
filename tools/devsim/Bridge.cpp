#include "devsim/Bridge.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "devsim/DevSim.h"

namespace {

const char kHex[] = "0123456789abcdef";

std::string ToHex(const std::string& bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    return hex;
}

bool FromHex(const std::string& hex, std::string& bytes)
{
    if (hex.size() % 2)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const char* hi = std::strchr(kHex, hex[i]);
        const char* lo = std::strchr(kHex, hex[i + 1]);
        if (!hex[i] || !hex[i + 1] || !hi || !lo)
            return false;
        bytes += static_cast<char>((hi - kHex) * 16 + (lo - kHex));
    }
    return true;
}

bool WriteAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

class CBridge {
public:
    explicit CBridge(const SBridgeOptions& options) : m_options(options), m_taken(options.ports, false) {}

    // One connection: one device, until the peer closes or the bridge stops.
    void Serve(int fd)
    {
        CDevSim device;
        int slot = -1;
        std::string pending;
        char chunk[4096];
        for (;;) {
            std::size_t end = pending.find('\n');
            if (end == std::string::npos) {
                ssize_t n = read(fd, chunk, sizeof chunk);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                pending.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!WriteAll(fd, Handle(line, device, slot) + "\n"))
                break;
        }
        device.Stop();
        Release(slot);
    }

private:
    std::string Handle(const std::string& line, CDevSim& device, int& slot)
    {
        std::istringstream in(line);
        std::string command;
        in >> command;
        long long a = 0, b = 0;
        if (command == "start") {
            std::string mode;
            in >> mode >> a >> b;
            CDevSim::SOptions options;
            if (mode == "modem")
                options.mode = CDevSim::EMode::Modem;
            else if (mode == "echo")
                options.mode = CDevSim::EMode::Echo;
            else if (mode == "flood")
                options.mode = CDevSim::EMode::Flood;
            else if (mode == "silent")
                options.mode = CDevSim::EMode::Silent;
            else
                return "err unknown mode '" + mode + "'";
            if (!in || a < 0 || b < 0)
                return "err bad start request";
            if (slot < 0 && (slot = Take()) < 0)
                return "err every port of the bridge is taken";
            options.answerDelayMs = static_cast<int>(a);
            options.floodBytes = static_cast<std::size_t>(b);
            options.link = m_options.dir + "/com" + std::to_string(m_options.firstPort + slot);
            std::string error;
            if (!device.Start(options, error))
                return "err " + error;
            return "ok COM" + std::to_string(m_options.firstPort + slot);
        }
        if (command == "inject") {
            std::string hex, bytes;
            in >> hex;
            if (!FromHex(hex, bytes))
                return "err bad hex";
            device.Inject(bytes);
            return "ok";
        }
        if (command == "flood" && in >> a && a >= 0)
            return device.Flood(static_cast<std::size_t>(a)), "ok";
        if (command == "received")
            return "ok " + ToHex(device.Received());
        if (command == "count")
            return "ok " + std::to_string(device.ReceivedCount());
        if (command == "clear")
            return device.ClearReceived(), "ok";
        if (command == "waitreceived" && in >> a >> b && a >= 0)
            return std::string("ok ") + (device.WaitForReceived(static_cast<std::size_t>(a), static_cast<int>(b)) ? "1" : "0");
        if (command == "hold")
            return std::string("ok ") + (device.HoldLine() ? "1" : "0");
        if (command == "release")
            return device.ReleaseLine(), "ok";
        if (command == "sent")
            return "ok " + std::to_string(device.SentCount());
        if (command == "waitsent" && in >> a)
            return std::string("ok ") + (device.WaitUntilAllSent(static_cast<int>(a)) ? "1" : "0");
        if (command == "waiting")
            return "ok " + std::to_string(device.WaitingAtPort());
        if (command == "hangup")
            return device.HangUp(), "ok";
        if (command == "stop")
            return device.Stop(), "ok";
        return "err bad request '" + line + "'";
    }

    int Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::size_t i = 0; i < m_taken.size(); ++i)
            if (!m_taken[i]) {
                m_taken[i] = true;
                return static_cast<int>(i);
            }
        return -1;
    }
    void Release(int slot)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (slot >= 0)
            m_taken[static_cast<std::size_t>(slot)] = false;
    }

    SBridgeOptions m_options;
    std::mutex m_mutex;
    std::vector<bool> m_taken; // by slot, under m_mutex
};

struct SConnection {
    int fd;
    std::atomic<bool> done{false};
    std::thread thread;
};

} // namespace

int RunBridge(const SBridgeOptions& options)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int wake[2] = {-1, -1};
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(wake, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "devsim: cannot listen: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    CBridge bridge(options);
    std::mutex mutex;
    std::list<SConnection> connections; // under mutex
    std::thread acceptor([&] {
        for (;;) {
            pollfd fds[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents)
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard<std::mutex> lock(mutex);
            for (auto it = connections.begin(); it != connections.end();) {
                if (it->done) {
                    it->thread.join();
                    close(it->fd);
                    it = connections.erase(it);
                } else {
                    ++it;
                }
            }
            SConnection& c = connections.emplace_back();
            c.fd = fd;
            c.thread = std::thread([&bridge, &c] {
                bridge.Serve(c.fd);
                c.done = true;
            });
        }
    });

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    int sig = 0;
    sigwait(&signals, &sig);

    [[maybe_unused]] ssize_t n = write(wake[1], "x", 1);
    acceptor.join();
    // Ends every connection's read; each thread then stops its device.
    for (SConnection& c : connections)
        shutdown(c.fd, SHUT_RDWR);
    for (SConnection& c : connections) {
        c.thread.join();
        close(c.fd);
    }
    close(listener);
    close(wake[0]);
    close(wake[1]);
    return 0;
}
