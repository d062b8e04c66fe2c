// The typed keys' sender on a real line: stopping it (shut-down) while the
// device does not read ends at once, drops the waiting keys and reports no
// loss; it starts again on the next key.
#include "SerialTestSupport.h"

#include <algorithm>

#include "terminal/KeySender.h"

using namespace serial_test;

namespace {

class KeySender : public CSerialFixture {
protected:
    void SetUp() override
    {
        StartDevice(CDevSim::EMode::Silent);
        Connect();
    }
    std::string Typed() const
    {
        std::string r = m_device.Received();
        r.erase(std::remove(r.begin(), r.end(), CDevSim::FillerByte()), r.end());
        return r;
    }

    std::atomic<int> m_sends{0};
    std::atomic<int> m_losses{0};
    CKeySender m_sender{[this](unsigned char b, const CCancelSignal* stop) {
                            ++m_sends;
                            return m_port.SendByte(b, stop);
                        },
                        [this] { ++m_losses; }};
};

} // namespace

TEST_F(KeySender, StopOnAHeldLineEndsAtOnceAndDropsTheWaitingKeys)
{
    ASSERT_TRUE(m_device.HoldLine());
    m_sender.Send("abc");
    ASSERT_TRUE(WaitUntil([&] { return m_sends.load() == 1; }, 1000)); // 'a' waits for the line
    auto start = Clock::now();
    m_sender.Stop();
    EXPECT_LT(MsSince(start), 500); // not the write time-out of over 1 s
    EXPECT_FALSE(m_sender.IsBusy());
    EXPECT_EQ(m_losses.load(), 0); // stopping is not a loss

    m_device.ReleaseLine();
    m_sender.Send("d");
    ASSERT_TRUE(WaitUntil([&] { return Typed().find('d') != std::string::npos; }, 5000));
    // Stopping ended the write of 'a' without it; "bc" never go either.
    EXPECT_EQ(Typed(), "d");
    EXPECT_EQ(m_sends.load(), 2);
    EXPECT_EQ(m_losses.load(), 0);
}
