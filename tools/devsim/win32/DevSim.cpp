// CDevSim for Windows programs under Wine: the device itself is played by a
// Linux devsim bridge (devsim serve, see Bridge.h) on a pseudo-terminal that
// the Wine prefix maps as a COM port. This side holds one loopback TCP
// connection to the bridge, given by VORLA_DEVSIM_BRIDGE (its port), and
// turns each call into one request and its answer.
#include "devsim/DevSim.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const char kHex[] = "0123456789abcdef";

std::string ToHex(const std::string& bytes)
{
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    return hex;
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const char* hi = std::strchr(kHex, hex[i]);
        const char* lo = std::strchr(kHex, hex[i + 1]);
        if (!hi || !lo)
            break;
        bytes += static_cast<char>((hi - kHex) * 16 + (lo - kHex));
    }
    return bytes;
}

const char* ModeName(CDevSim::EMode mode)
{
    switch (mode) {
    case CDevSim::EMode::Modem:
        return "modem";
    case CDevSim::EMode::Echo:
        return "echo";
    case CDevSim::EMode::Flood:
        return "flood";
    case CDevSim::EMode::Silent:
        break;
    }
    return "silent";
}

} // namespace

struct CDevSim::SRemote {
    SOCKET socket = INVALID_SOCKET;
    std::mutex mutex; // one request at a time
    std::string pending;

    ~SRemote()
    {
        if (socket != INVALID_SOCKET)
            closesocket(socket);
    }

    bool Connect(std::string& error)
    {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            error = "WSAStartup failed";
            return false;
        }
        const char* port = std::getenv("VORLA_DEVSIM_BRIDGE");
        if (!port || !*port) {
            error = "no devsim bridge: VORLA_DEVSIM_BRIDGE is not set (scripts/test-wine.sh starts one)";
            return false;
        }
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket == INVALID_SOCKET ||
            connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = "cannot reach the devsim bridge on port " + std::string(port) + " (error " +
                    std::to_string(WSAGetLastError()) + ")";
            return false;
        }
        // A bridge that stops answering fails the call instead of hanging it.
        DWORD timeoutMs = 120000;
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
        return true;
    }

    // Sends one request line; returns the answer after "ok", or false with
    // the bridge's error (or the connection's) in `answer`.
    bool Request(const std::string& line, std::string& answer)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string text = line + "\n";
        for (std::size_t done = 0; done < text.size();) {
            int n = send(socket, text.data() + done, static_cast<int>(text.size() - done), 0);
            if (n <= 0) {
                answer = "the devsim bridge went away";
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        std::size_t end;
        while ((end = pending.find('\n')) == std::string::npos) {
            char chunk[4096];
            int n = recv(socket, chunk, sizeof chunk, 0);
            if (n <= 0) {
                answer = "the devsim bridge went away";
                return false;
            }
            pending.append(chunk, static_cast<std::size_t>(n));
        }
        answer = pending.substr(0, end);
        pending.erase(0, end + 1);
        const bool ok = answer.compare(0, 2, "ok") == 0;
        answer.erase(0, std::min<std::size_t>(answer.size(), ok ? 3 : 4));
        return ok;
    }

    // A request whose answer is a number; 0 when it failed.
    std::size_t Number(const std::string& line)
    {
        std::string answer;
        return Request(line, answer) ? std::strtoull(answer.c_str(), nullptr, 10) : 0;
    }
};

CDevSim::~CDevSim()
{
    Stop();
}

bool CDevSim::Start(const SOptions& options, std::string& error)
{
    if (!options.link.empty()) {
        error = "the devsim bridge makes no links of its own";
        return false;
    }
    if (!m_remote) {
        auto remote = std::make_shared<SRemote>();
        if (!remote->Connect(error))
            return false;
        m_remote = remote;
    }
    m_options = options;
    std::string answer;
    if (!m_remote->Request(std::string("start ") + ModeName(options.mode) + " " +
                               std::to_string(options.answerDelayMs) + " " + std::to_string(options.floodBytes),
                           answer)) {
        error = answer;
        return false;
    }
    m_path = answer;
    return true;
}

void CDevSim::Stop()
{
    std::string answer;
    if (m_remote)
        m_remote->Request("stop", answer);
    m_remote.reset();
}

void CDevSim::HangUp()
{
    std::string answer;
    if (m_remote)
        m_remote->Request("hangup", answer);
}

void CDevSim::Inject(const std::string& bytes)
{
    std::string answer;
    if (m_remote)
        m_remote->Request("inject " + ToHex(bytes), answer);
}

void CDevSim::Flood(std::size_t bytes)
{
    std::string answer;
    if (m_remote)
        m_remote->Request("flood " + std::to_string(bytes), answer);
}

bool CDevSim::HoldLine()
{
    std::string answer;
    return m_remote && m_remote->Request("hold", answer) && answer == "1";
}

void CDevSim::ReleaseLine()
{
    std::string answer;
    if (m_remote)
        m_remote->Request("release", answer);
}

std::string CDevSim::Received() const
{
    std::string answer;
    return m_remote && m_remote->Request("received", answer) ? FromHex(answer) : std::string();
}

std::size_t CDevSim::ReceivedCount() const
{
    return m_remote ? m_remote->Number("count") : 0;
}

void CDevSim::ClearReceived()
{
    std::string answer;
    if (m_remote)
        m_remote->Request("clear", answer);
}

bool CDevSim::WaitForReceived(std::size_t count, int timeoutMs) const
{
    return m_remote && m_remote->Number("waitreceived " + std::to_string(count) + " " + std::to_string(timeoutMs)) == 1;
}

std::size_t CDevSim::SentCount() const
{
    return m_remote ? m_remote->Number("sent") : 0;
}

bool CDevSim::WaitUntilAllSent(int timeoutMs) const
{
    return m_remote && m_remote->Number("waitsent " + std::to_string(timeoutMs)) == 1;
}

std::size_t CDevSim::WaitingAtPort() const
{
    return m_remote ? m_remote->Number("waiting") : 0;
}
