// Devices that go away, closes that race the threads, quick reconnects.
#include "SerialTestSupport.h"
#include "TestPlatform.h"

#include <ctime>

using namespace serial_test;

namespace {

long long ProcessCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Counts the line-lost calls and lets a test wait for them.
struct SLostRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    std::thread::id thread;

    std::function<void()> Handler(std::function<void()> also = {})
    {
        return [this, also] {
            if (also)
                also();
            std::lock_guard<std::mutex> lock(mutex);
            ++calls;
            thread = std::this_thread::get_id();
            changed.notify_all();
        };
    }
    bool Wait(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, milliseconds(timeoutMs), [&] { return calls > 0; });
    }
};

class SerialLifecycle : public CSerialFixture {
protected:
    void SetUp() override { StartDevice(CDevSim::EMode::Echo); }
};

} // namespace

// A port whose device is not there is refused in the same words on every
// system, and leaves the open port alone.
TEST_F(SerialLifecycle, MissingDeviceIsRefusedInTheSameWords)
{
    Connect();
    CSerialPort other(m_prompt, m_ports);
    m_ports.Map(2, MissingPortPath());
    EXPECT_FALSE(other.Open("COM2"));
    EXPECT_NE(other.LastOpenError().find("no such device"), std::string::npos) << other.LastOpenError();
    EXPECT_TRUE(m_port.IsOpen());
}

TEST_F(SerialLifecycle, UnplugShowsOneMessageAndLeavesTheProcessIdle)
{
    SLostRecorder lost;
    m_port.SetLineLostHandler(lost.Handler());
    Connect();
    m_device.Flood(1 << 20);
    ASSERT_TRUE(m_sink.WaitForBytes(1000, 5000));
    auto start = Clock::now();
    m_device.HangUp();
    ASSERT_TRUE(lost.Wait(5000));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_NE(lost.thread, std::this_thread::get_id());
    EXPECT_FALSE(m_port.SendByte('x')); // refused at once, no 2 s wait

    // Nothing spins once the line is gone.
    long long cpuBefore = ProcessCpuMs();
    auto windowStart = Clock::now();
    std::this_thread::sleep_for(milliseconds(400)); // the measuring window itself
    long long cpu = ProcessCpuMs() - cpuBefore;
    EXPECT_LT(cpu, MsSince(windowStart) / 4) << "cpu ms " << cpu;

    m_port.Close(); // what the owner's Disconnect does
    EXPECT_EQ(m_prompt.Messages(), std::vector<std::string>{"Unable to wait for commevent"});
    EXPECT_EQ(lost.calls, 1);
}

TEST_F(SerialLifecycle, HandlerMayCloseThePortFromTheReaderThread)
{
    SLostRecorder lost;
    m_port.SetLineLostHandler(lost.Handler([this] { m_port.Close(); }));
    Connect();
    m_device.HangUp();
    ASSERT_TRUE(lost.Wait(5000));
    EXPECT_FALSE(m_port.IsOpen());
    // A new device on the same name opens again; the old reader is joined on the way.
    StartDevice(CDevSim::EMode::Echo);
    Connect();
    EXPECT_TRUE(m_port.SendByte('k'));
    ASSERT_TRUE(m_device.WaitForReceived(1, 5000));
    EXPECT_EQ(m_prompt.Messages().size(), 1u);
}

TEST_F(SerialLifecycle, UnplugWithoutHandlerStillEndsTheThreads)
{
    Connect();
    m_device.HangUp();
    ASSERT_TRUE(m_prompt.WaitForMessages(1, 5000));
    ASSERT_TRUE(WaitUntil([&] { return !m_port.IsOpen(); }, 5000));
    // Opening again releases the dead opening first.
    StartDevice(CDevSim::EMode::Echo);
    Connect();
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_prompt.Messages().size(), 1u);
}

TEST_F(SerialLifecycle, CloseWhileTheLostMessageIsUpDoesNotWaitForIt)
{
    m_prompt.blockUntilAbandoned = true;
    SLostRecorder lost;
    m_port.SetLineLostHandler(lost.Handler());
    Connect();
    m_device.HangUp();
    ASSERT_TRUE(m_prompt.WaitForMessages(1, 5000));
    auto start = Clock::now();
    m_port.Close();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(lost.calls, 0); // closed by the user meanwhile: nothing more to report
}

TEST_F(SerialLifecycle, HangUpWhileSendingEndsTheSender)
{
    SLostRecorder lost;
    m_port.SetLineLostHandler(lost.Handler());
    Connect();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread sender([&] {
        while (!stop && m_port.SendByte('s'))
            ++sent;
    });
    ASSERT_TRUE(m_device.WaitForReceived(100, 5000));
    m_device.HangUp();
    ASSERT_TRUE(lost.Wait(5000));
    stop = true;
    sender.join();
    m_port.Close();
    EXPECT_EQ(lost.calls, 1);
    EXPECT_EQ(m_prompt.Messages(), std::vector<std::string>{"Unable to wait for commevent"});
}

TEST_F(SerialLifecycle, QuickReconnectsWhileDataFlowsInBothDirections)
{
    std::atomic<bool> done{false};
    std::atomic<int> opening{0};
    std::vector<int> trueCount(256, 0), attempts(256, 0);
    std::thread sender([&] {
        while (!done) {
            int value = opening.load();
            bool ok = m_port.SendByte(static_cast<unsigned char>(value));
            ++attempts[value];
            if (ok)
                ++trueCount[value];
        }
    });
    for (int k = 0; k < 100; ++k) {
        opening = k;
        std::size_t before = m_device.ReceivedCount();
        Connect();
        m_device.Inject(std::string(300, 'r'));
        bool carried = m_device.WaitForReceived(before + 1, 5000); // each opening carries bytes
        m_port.Close();
        if (!carried) {
            ADD_FAILURE() << "opening " << k << " sent nothing";
            break;
        }
    }
    done = true;
    sender.join();
    // Every byte reported written reached the device once, and no byte of
    // one opening came after a byte of a later one.
    m_device.WaitUntilAllSent(5000);
    int total = 0;
    for (int v : trueCount)
        total += v;
    ASSERT_TRUE(m_device.WaitForReceived(std::size_t(total), 5000));
    std::string received = m_device.Received();
    EXPECT_GE(received.size(), 100u);
    std::vector<int> count(256, 0);
    for (std::size_t i = 0; i < received.size(); ++i) {
        unsigned char v = static_cast<unsigned char>(received[i]);
        ++count[v];
        if (i > 0) {
            ASSERT_GE(v, static_cast<unsigned char>(received[i - 1])) << "at " << i;
        }
    }
    for (int v = 0; v < 100; ++v) {
        EXPECT_GE(count[v], trueCount[v]) << v;
        EXPECT_LE(count[v], attempts[v]) << v;
    }
    EXPECT_TRUE(m_prompt.Messages().empty());
}

// The reader takes up to 4 KB off the line at once and hands it out in
// chunks: a Close during that hand-out must not drop the rest, which the
// device sent before the close and a reopened port would never see.
TEST_F(SerialLifecycle, CloseDeliversEveryByteTheReaderTookOffTheLine)
{
    Connect(false);
    std::string bytes;
    for (int i = 0; i < 4000; ++i)
        bytes.push_back(static_cast<char>('a' + i % 26));
    InjectAndSettle(bytes);
    m_sink.blockUntilAborted = true; // the reader stops inside its first chunk
    m_port.StartThreads();
    ASSERT_TRUE(m_sink.WaitForChunks(1, 5000));
    m_port.Close();
    EXPECT_EQ(m_sink.Text(), bytes);
}
