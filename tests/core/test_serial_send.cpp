// The senders: transmit delays, time-outs, cancelling, concurrent senders,
// SendAndCollect's windows.
#include "SerialTestSupport.h"

#include <algorithm>
#include <fstream>

#include <sys/syscall.h>
#include <unistd.h>

using namespace serial_test;

namespace {

// True while the thread sleeps in the kernel on something other than a lock
// or a condition (futex): for a sender, that is the wait for room on the
// line inside its own write.
bool SleepsOnTheLine(pid_t tid)
{
    std::ifstream syscallFile("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return syscallFile >> number && number != SYS_futex;
}

// Text with the device's filler bytes left out.
std::string WithoutFiller(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), CDevSim::FillerByte()), text.end());
    return text;
}

class SerialSend : public CSerialFixture {
protected:
    void SetUp() override { StartDevice(CDevSim::EMode::Silent); }
};

} // namespace

TEST_F(SerialSend, BytesGoOutUnchanged)
{
    Connect();
    std::string all;
    for (int v = 0; v < 256; ++v)
        all += static_cast<char>(v);
    for (unsigned char c : all)
        ASSERT_TRUE(m_port.SendByte(c));
    ASSERT_TRUE(m_device.WaitForReceived(256, 5000));
    EXPECT_EQ(m_device.Received(), all); // no CR/LF translation, no stripping
}

TEST_F(SerialSend, TransmitDelaysFollowEachByte)
{
    Connect();
    m_port.SetTransmitDelays(50, 500);
    auto start = Clock::now();
    ASSERT_TRUE(m_port.SendByte('a'));
    auto afterA = MsSince(start);
    ASSERT_TRUE(m_port.SendByte('b'));
    auto beforeCr = Clock::now();
    ASSERT_TRUE(m_port.SendByte('\r'));
    auto cr = MsSince(beforeCr);
    auto total = MsSince(start);
    EXPECT_GE(afterA, 50);
    EXPECT_GE(cr, 500);
    EXPECT_GE(total, 600);
    EXPECT_LT(total, 6000); // not a factor off
    EXPECT_EQ(m_device.Received(), "ab\r");
}

TEST_F(SerialSend, LongDelayEndsTheWaitAfterTwoSecondsButTheByteWasWritten)
{
    Connect();
    m_port.SetTransmitDelays(5000, 5000);
    auto start = Clock::now();
    EXPECT_TRUE(m_port.SendByte('x'));
    auto elapsed = MsSince(start);
    EXPECT_GE(elapsed, 1990);
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(m_device.Received(), "x");
    // Close during the byte's delay ends it at once.
    start = Clock::now();
    m_port.Close();
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_TRUE(m_prompt.Messages().empty());
}

TEST_F(SerialSend, CloseDuringTheDelayWakesTheSender)
{
    Connect();
    m_port.SetTransmitDelays(10000, 10000);
    std::atomic<long long> senderMs{-1};
    std::thread sender([&] {
        auto start = Clock::now();
        m_port.SendByte('q');
        senderMs = MsSince(start);
    });
    ASSERT_TRUE(m_device.WaitForReceived(1, 5000));
    m_port.Close();
    sender.join();
    EXPECT_GE(senderMs.load(), 0);
    EXPECT_LT(senderMs.load(), 1900);
    EXPECT_FALSE(m_port.SendByte('r')); // closed: nothing handed over
    EXPECT_EQ(m_device.Received(), "q");
}

TEST_F(SerialSend, CancelWakesTheSender)
{
    Connect();
    m_port.SetTransmitDelays(10000, 10000);
    CCancelSignal cancel;
    std::atomic<long long> senderMs{-1};
    std::thread sender([&] {
        auto start = Clock::now();
        m_port.SendByte('c', &cancel);
        senderMs = MsSince(start);
    });
    ASSERT_TRUE(m_device.WaitForReceived(1, 5000));
    cancel.Cancel();
    sender.join();
    EXPECT_LT(senderMs.load(), 1900);
    // A cancelled signal refuses further bytes at once.
    auto start = Clock::now();
    EXPECT_FALSE(m_port.SendByte('d', &cancel));
    EXPECT_LT(MsSince(start), 500);
}

TEST_F(SerialSend, LateCompletionNeverSatisfiesTheNextSender)
{
    Connect();
    m_port.SetTransmitDelays(2600, 2600);
    // First sender: written at once, gives up at 2000 ms, line held until 2600 ms.
    EXPECT_TRUE(m_port.SendByte('A'));
    auto start = Clock::now();
    // Second sender: its byte can only go at 2600 ms, and its own delay
    // outlasts its 2000 ms. Ending at about 600 ms would mean the first
    // byte's completion was taken for its own.
    EXPECT_TRUE(m_port.SendByte('B'));
    EXPECT_GE(MsSince(start), 1900);
    EXPECT_EQ(m_device.Received(), "AB");
}

TEST_F(SerialSend, ConcurrentSendersEachByteOnceInSenderOrder)
{
    Connect();
    const int perSender = 10000;
    const std::string alphabets[3] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz", "0123456789!#$%&()*+,-./"};
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < 3; ++s)
        senders.emplace_back([&, s] {
            for (int i = 0; i < perSender; ++i)
                if (!m_port.SendByte(static_cast<unsigned char>(alphabets[s][i % alphabets[s].size()])))
                    ++failures;
        });
    for (auto& t : senders)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(m_device.WaitForReceived(3 * perSender, 10000));
    std::string received = m_device.Received();
    ASSERT_EQ(received.size(), std::size_t(3 * perSender));
    for (int s = 0; s < 3; ++s) {
        std::string mine;
        std::copy_if(received.begin(), received.end(), std::back_inserter(mine),
                     [&](char c) { return alphabets[s].find(c) != std::string::npos; });
        ASSERT_EQ(mine.size(), std::size_t(perSender)) << "sender " << s;
        for (int i = 0; i < perSender; ++i)
            ASSERT_EQ(mine[i], alphabets[s][i % alphabets[s].size()]) << "sender " << s << " byte " << i;
    }
}

TEST_F(SerialSend, SendingNeedsRunningThreads)
{
    EXPECT_FALSE(m_port.SendByte('x')); // never opened
    Connect(false);
    auto start = Clock::now();
    EXPECT_FALSE(m_port.SendByte('x')); // opened, threads not started yet
    EXPECT_LT(MsSince(start), 500);
    m_port.StartThreads();
    EXPECT_TRUE(m_port.SendByte('y'));
    ASSERT_TRUE(m_device.WaitForReceived(1, 5000));
    EXPECT_EQ(m_device.Received(), "y");
}

TEST_F(SerialSend, CloseTwiceAndCloseWithoutOpenShowNothing)
{
    m_port.Close();
    Connect();
    m_port.Close();
    m_port.Close();
    Connect(false);
    m_port.Close();
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_TRUE(m_prompt.Messages().empty());
}

class SerialCollect : public CSerialFixture {
protected:
    void Start(CDevSim::EMode mode, int answerDelayMs)
    {
        StartDevice(mode, answerDelayMs);
        Connect();
    }
};

TEST_F(SerialCollect, EchoIsDroppedAndTheAnswerCollected)
{
    Start(CDevSim::EMode::Modem, 1200);
    m_port.SetInternalReadDelay(500); // the echo comes at once, the answer after 1200 ms
    m_port.SetReadDelay(3000);
    EXPECT_EQ(m_port.SendAndCollect("AT\r"), "\r\nOK\r\n");
    EXPECT_EQ(m_device.Received(), "AT\r");
}

TEST_F(SerialCollect, AnswerAfterTheReadDelayIsLeftOut)
{
    Start(CDevSim::EMode::Modem, 1500);
    for (char c : std::string("ATE0\r"))
        ASSERT_TRUE(m_port.SendByte(static_cast<unsigned char>(c)));
    // Echo and OK filed (just after the terminal has them): no echo from now on.
    ASSERT_TRUE(WaitUntil([&] { return m_port.ReceiveBufferContents() == "ATE0\r\r\nOK\r\n"; }, 10000));
    m_port.SetInternalReadDelay(0);
    m_port.SetReadDelay(300);
    EXPECT_EQ(m_port.SendAndCollect("ATI\r"), "");
    ASSERT_TRUE(m_sink.WaitForBytes(5 + 6 + 26, 10000)); // the answer still reaches the terminal
    EXPECT_EQ(m_sink.Text().substr(11), "\r\nDEVSIM MODEM 1.0\r\n\r\nOK\r\n");
}

TEST_F(SerialCollect, SilenceGivesEmptyTextAfterBothDelays)
{
    Start(CDevSim::EMode::Silent, 0);
    m_port.SetInternalReadDelay(100);
    m_port.SetReadDelay(300);
    auto start = Clock::now();
    EXPECT_EQ(m_port.SendAndCollect("hello"), "");
    EXPECT_GE(MsSince(start), 400);
    EXPECT_EQ(m_device.Received(), "hello");
}

TEST_F(SerialCollect, NegativeDelaysDoNotWait)
{
    Start(CDevSim::EMode::Silent, 0);
    m_port.SetInternalReadDelay(-5);
    m_port.SetReadDelay(-100000);
    auto start = Clock::now();
    EXPECT_EQ(m_port.SendAndCollect("x"), "");
    EXPECT_LT(MsSince(start), 1000);
}

TEST_F(SerialCollect, CancelAndCloseEndTheWaits)
{
    Start(CDevSim::EMode::Silent, 0);
    m_port.SetReadDelay(60000);
    CCancelSignal cancel;
    std::atomic<long long> ms{-1};
    std::thread collector([&] {
        auto start = Clock::now();
        m_port.SendAndCollect("a", &cancel);
        ms = MsSince(start);
    });
    ASSERT_TRUE(m_device.WaitForReceived(1, 5000));
    cancel.Cancel();
    collector.join();
    EXPECT_LT(ms.load(), 5000);

    ms = -1;
    std::thread collector2([&] {
        auto start = Clock::now();
        m_port.SendAndCollect("b");
        ms = MsSince(start);
    });
    ASSERT_TRUE(m_device.WaitForReceived(2, 5000));
    m_port.Close();
    collector2.join();
    EXPECT_LT(ms.load(), 5000);
}

TEST_F(SerialSend, ByteThatTheLineDoesNotTakeIsLostAfterTheWriteTimeOut)
{
    Connect();
    ASSERT_TRUE(m_device.HoldLine());
    auto start = Clock::now();
    EXPECT_FALSE(m_port.SendByte('z'));
    auto elapsed = MsSince(start);
    EXPECT_GE(elapsed, 1000); // 10 ms for the byte + 1000 ms
    EXPECT_LT(elapsed, 1990); // ended by the write time-out, not by the sender's 2000 ms
    EXPECT_TRUE(m_prompt.Messages().empty());

    m_device.ReleaseLine();
    EXPECT_TRUE(m_port.SendByte('y'));
    ASSERT_TRUE(WaitUntil([&] {
        std::string r = m_device.Received();
        return !r.empty() && r.back() == 'y';
    }, 10000));
    std::string received = m_device.Received();
    EXPECT_EQ(received.find_first_not_of(CDevSim::FillerByte()), received.size() - 1); // no 'z'
}

// A text towards a device that does not read stops at its first lost byte:
// trying the other four would cost a write time-out each.
TEST_F(SerialSend, TextStopsAtTheFirstByteTheLineDoesNotTake)
{
    Connect();
    ASSERT_TRUE(m_device.HoldLine());
    auto start = Clock::now();
    const SSendReport held = m_port.SendText("HELLO");
    EXPECT_LT(MsSince(start), 4000); // one time-out, not five (at least 5050 ms)
    EXPECT_EQ(held.sent, 0u);
    EXPECT_EQ(held.total, 5u);
    EXPECT_EQ(held.status, ESendStatus::NotReading);

    m_device.ReleaseLine();
    const SSendReport free = m_port.SendText("ok");
    EXPECT_TRUE(free.Complete());
    EXPECT_EQ(free.status, ESendStatus::Sent);
    m_port.Close();
    const SSendReport closed = m_port.SendText("late");
    EXPECT_EQ(closed.sent, 0u);
    EXPECT_EQ(closed.status, ESendStatus::Closed);
}

// A sender waits for room inside its own write while another waits for its
// turn. Cancelling the first ends its write without the byte, and the turn
// passes on; closing the port during the second's write ends it too, and
// neither byte is written later, by this opening or by the next.
TEST_F(SerialSend, CancelAndCloseEndASendersOwnWriteWithoutItsByte)
{
    Connect();
    ASSERT_TRUE(m_device.HoldLine());
    CCancelSignal cancel;
    std::atomic<pid_t> firstTid{0}, secondTid{0};
    SSendReport first, second;
    std::thread firstSender([&] {
        firstTid = static_cast<pid_t>(::syscall(SYS_gettid));
        first = m_port.SendText("aaa", &cancel);
    });
    // EXPECT, not ASSERT: the steps below also end the threads.
    EXPECT_TRUE(WaitUntil([&] { return firstTid && SleepsOnTheLine(firstTid); }, 5000));
    std::thread secondSender([&] {
        secondTid = static_cast<pid_t>(::syscall(SYS_gettid));
        second = m_port.SendText("b");
    });
    cancel.Cancel();
    firstSender.join();
    EXPECT_EQ(first.sent, 0u);
    EXPECT_EQ(first.status, ESendStatus::Cancelled); // woken, not timed out

    EXPECT_TRUE(WaitUntil([&] { return secondTid && SleepsOnTheLine(secondTid); }, 5000));
    m_port.Close();
    secondSender.join();
    EXPECT_EQ(second.sent, 0u);
    EXPECT_EQ(second.status, ESendStatus::Closed);

    Connect();
    m_device.ReleaseLine();
    ASSERT_TRUE(m_port.SendByte('y'));
    ASSERT_TRUE(WaitUntil([&] { return WithoutFiller(m_device.Received()) == "y"; }, 5000))
        << WithoutFiller(m_device.Received());
    EXPECT_TRUE(m_prompt.Messages().empty());
}
