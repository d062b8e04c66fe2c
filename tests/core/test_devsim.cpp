// The simulated devices, driven through a plain descriptor on their path.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/stat.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "devsim/DevSim.h"

using namespace std::chrono;

namespace {

// The port side of a device, opened raw.
class CPortEnd {
public:
    explicit CPortEnd(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios t;
        if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~CPortEnd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    void Write(const std::string& s) { ASSERT_EQ(write(m_fd, s.data(), s.size()), ssize_t(s.size())); }
    // Reads until `count` bytes came or the time is up.
    std::string Read(std::size_t count, int timeoutMs)
    {
        std::string got;
        auto deadline = steady_clock::now() + milliseconds(timeoutMs);
        while (got.size() < count) {
            auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p {m_fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char buf[4096];
            ssize_t n = read(m_fd, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

CDevSim::SOptions Mode(CDevSim::EMode mode, int delay = 0, std::size_t flood = 0, std::string link = "")
{
    CDevSim::SOptions o;
    o.mode = mode;
    o.answerDelayMs = delay;
    o.floodBytes = flood;
    o.link = link;
    return o;
}

} // namespace

TEST(DevSim, ModemEchoesAndAnswersWhateverEndsTheLine)
{
    CDevSim dev;
    std::string error;
    ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Modem), error)) << error;
    CPortEnd port(dev.Path());
    ASSERT_TRUE(port.IsOpen());
    struct {
        std::string sent, expected;
    } steps[] = {
        {"AT\r", "AT\r\r\nOK\r\n"},
        {"ati\n", "ati\n\r\nDEVSIM MODEM 1.0\r\n\r\nOK\r\n"},
        {"AT+X\r\n", "AT+X\r\r\nERROR\r\n\n"}, // the answer follows the CR, before the LF's echo
        {"ATE0\r", "ATE0\r\r\nOK\r\n"},
        {"AT\r", "\r\nOK\r\n"},   // no echo now
        {"ATE1\r", "\r\nOK\r\n"},
        {"A", "A"},
        {"T\r", "T\r\r\nOK\r\n"}, // a command may come in pieces
    };
    for (auto& s : steps) {
        port.Write(s.sent);
        EXPECT_EQ(port.Read(s.expected.size(), 5000), s.expected) << s.sent;
    }
    EXPECT_EQ(port.Read(1, 50), ""); // nothing more
    std::string sent;
    for (auto& s : steps)
        sent += s.sent;
    EXPECT_EQ(dev.Received(), sent);
}

TEST(DevSim, ModemAnswerDelay)
{
    CDevSim dev;
    std::string error;
    ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Modem, 300), error)) << error;
    CPortEnd port(dev.Path());
    auto start = steady_clock::now();
    port.Write("AT\r");
    EXPECT_EQ(port.Read(3, 5000), "AT\r"); // the echo does not wait
    EXPECT_EQ(port.Read(6, 5000), "\r\nOK\r\n");
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - start).count(), 300);
}

TEST(DevSim, EchoSendsBackEveryByte)
{
    CDevSim dev;
    std::string error;
    ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Echo), error)) << error;
    CPortEnd port(dev.Path());
    std::string all;
    for (int v = 0; v < 256; ++v)
        all += static_cast<char>(v);
    port.Write(all);
    EXPECT_EQ(port.Read(256, 5000), all);
    EXPECT_TRUE(dev.WaitForReceived(256, 5000));
    EXPECT_EQ(dev.Received(), all);
}

TEST(DevSim, FloodSendsExactlyItsLinesThenStops)
{
    CDevSim dev;
    std::string error;
    ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Flood, 0, 1000), error)) << error;
    CPortEnd port(dev.Path());
    std::string got = port.Read(1000, 5000);
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(port.Read(1, 100), "");
    for (std::size_t i = 0; i + 80 <= got.size(); i += 80) {
        EXPECT_EQ(got.substr(i + 78, 2), "\r\n");
        EXPECT_EQ(got.substr(i, 78).find_first_of("\r\n"), std::string::npos);
    }
    EXPECT_EQ(dev.SentCount(), 1000u);
    EXPECT_TRUE(dev.WaitUntilAllSent(1000));
}

TEST(DevSim, InjectedBytesWaitAtThePortUntilRead)
{
    CDevSim dev;
    std::string error;
    ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Silent), error)) << error;
    dev.Inject("hello");
    ASSERT_TRUE(dev.WaitUntilAllSent(5000));
    CPortEnd port(dev.Path());
    auto deadline = steady_clock::now() + seconds(5);
    while (dev.WaitingAtPort() < 5 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(dev.WaitingAtPort(), 5u);
    EXPECT_EQ(port.Read(5, 5000), "hello");
    EXPECT_EQ(dev.WaitingAtPort(), 0u);
}

TEST(DevSim, HangUpEndsTheLineAtThePort)
{
    CDevSim dev;
    std::string error;
    ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Flood, 0, 1 << 20), error)) << error;
    CPortEnd port(dev.Path());
    ASSERT_FALSE(port.Read(100, 5000).empty());
    dev.HangUp();
    // Drain what is left; the line then reports its end.
    bool ended = false;
    auto deadline = steady_clock::now() + seconds(5);
    while (!ended && steady_clock::now() < deadline) {
        pollfd p {port.Fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        char buf[4096];
        ssize_t n = read(port.Fd(), buf, sizeof buf);
        ended = n == 0 || (n < 0 && errno != EAGAIN);
    }
    EXPECT_TRUE(ended);
    dev.Stop(); // after a hang-up: nothing left to release, no crash
    dev.Stop();
}

TEST(DevSim, LinkPointsAtTheDeviceWhileItRuns)
{
    std::string link = "/tmp/vorla-devsim-test-" + std::to_string(getpid());
    {
        CDevSim dev;
        std::string error;
        ASSERT_TRUE(dev.Start(Mode(CDevSim::EMode::Echo, 0, 0, link), error)) << error;
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(dev.Path(), target);
        CPortEnd port(link);
        port.Write("x");
        EXPECT_EQ(port.Read(1, 5000), "x");
    }
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0); // removed with the device
}
