// Hot-plug and reconnect on pseudo-terminals: a by-id style link in a
// temporary directory leads to a simulated device that is unplugged (its
// pseudo-terminal closes) and plugged in again (a new one behind the link).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <time.h>

#include "SerialTestSupport.h"
#include "TclTestSupport.h"
#include "console/TclCommands.h"
#include "serial/DeviceWatcher.h"
#include "serial/PortReconnect.h"
#include "serial/PortSettings.h"
#include "serial/SerialDevices.h"

namespace {

using serial_test::Clock;
using serial_test::MsSince;
using EKind = CPortReconnect::SAttempt::EKind;
using EWait = CPortReconnect::EWait;

long long ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

class PortReconnect : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/vorla-replug-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        m_dirs = {std::string(name) + "/dev", std::string(name) + "/serial/by-id", std::string(name) + "/sys"};
        std::filesystem::create_directories(m_dirs.dev);
        // The by-id directory appears after the watcher starts, as udev
        // makes it for the first USB adapter.
        m_watcher = std::make_unique<CDeviceWatcher>(std::vector<std::string>{m_dirs.dev, m_dirs.byId});
        std::filesystem::create_directories(m_dirs.byId);
        m_link = m_dirs.byId + "/usb-VORLA_Sim_0001-if00-port0";
        m_port.AttachTerminal(&m_sink);
        m_port.SetLineLostHandler([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_losses;
            m_lost.notify_all();
        });
    }
    void TearDown() override
    {
        m_reconnect.Shutdown();
        m_port.Close();
        std::filesystem::remove_all(std::filesystem::path(m_dirs.dev).parent_path());
    }

    void Plug(CDevSim& device)
    {
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Echo;
        options.link = m_link;
        std::string error;
        ASSERT_TRUE(device.Start(options, error)) << error;
    }
    // Looks at the devices after each event, as the window does, until
    // COM1's device is there (or gone).
    bool UntilPresent(bool present)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        for (;;) {
            m_watcher->TakeEvents();
            m_ports.Update(ScanSerialDevices(m_dirs), ResolveDevicePath, 1);
            if (m_ports.IsPresent(1) == present)
                return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            m_watcher->WaitForEvents(static_cast<int>(left));
        }
    }
    // Connect: COM1 at 57600 8N2 with XON/XOFF (a pseudo-terminal carries
    // 8 data bits without parity only).
    void Connect()
    {
        ASSERT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
        ASSERT_TRUE(m_port.ReadState());
        DCB dcb = m_port.Dcb();
        dcb.BaudRate = 57600;
        dcb.StopBits = TWOSTOPBITS;
        dcb.fOutX = dcb.fInX = 1;
        const SResult applied = m_port.ApplySettings(dcb);
        ASSERT_TRUE(applied.ok) << applied.reason;
        m_port.StartThreads();
        m_reconnect.Opened(1);
    }
    // Unplugs: the engine reports the loss, then the owner closes the
    // opening and tells the reconnect. True when it waits for the device.
    bool Unplug(CDevSim& device)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const int before = m_losses;
        lock.unlock();
        device.HangUp();
        lock.lock();
        EXPECT_TRUE(m_lost.wait_for(lock, std::chrono::seconds(5), [&] { return m_losses > before; }));
        lock.unlock();
        m_port.Close();
        return m_reconnect.Lost(1);
    }

    SDeviceDirs m_dirs;
    std::string m_link;
    std::unique_ptr<CDeviceWatcher> m_watcher;
    std::mutex m_mutex;
    std::condition_variable m_lost;
    int m_losses = 0; // guarded by m_mutex
    serial_test::CRecordingPrompt m_prompt;
    serial_test::CRecordingSink m_sink;
    CPortMap m_ports;
    CSerialPort m_port{m_prompt, m_ports};
    CPortReconnect m_reconnect{m_port, m_ports};
};

} // namespace

TEST_F(PortReconnect, ReopensWithTheSameSettingsAndTheStreamGoesOn)
{
    CDevSim first, second;
    Plug(first);
    ASSERT_TRUE(UntilPresent(true));
    EXPECT_EQ(m_ports.PathFor(1), m_link);
    m_reconnect.SetEnabled(true);
    Connect();
    int port = 0;
    EXPECT_EQ(m_reconnect.WaitForPort(0, nullptr, port), EWait::Open);
    EWait waited = EWait::Ended;
    std::thread script([&] { waited = m_reconnect.WaitForPort(-1, nullptr, port); });

    ASSERT_TRUE(Unplug(first));
    ASSERT_TRUE(UntilPresent(false));
    EXPECT_EQ(m_reconnect.TryReopen().kind, EKind::None);
    // Waiting costs nothing: no spin in the script's wait nor in the watch.
    const long long cpuBefore = ProcessCpuMs();
    const auto window = Clock::now();
    EXPECT_FALSE(m_watcher->WaitForEvents(500));
    EXPECT_LT(ProcessCpuMs() - cpuBefore, 50 + MsSince(window) / 10);

    Plug(second);
    const auto back = Clock::now();
    ASSERT_TRUE(UntilPresent(true));
    const CPortReconnect::SAttempt attempt = m_reconnect.TryReopen();
    ASSERT_EQ(attempt.kind, EKind::Reopened) << m_port.LastOpenError();
    EXPECT_TRUE(attempt.settings.ok) << attempt.settings.reason;
    EXPECT_LT(MsSince(back), 1000);
    script.join();
    EXPECT_EQ(waited, EWait::Open);

    ASSERT_TRUE(m_port.ReadState());
    EXPECT_EQ(DescribeLineSettings(m_port.Dcb()), "57600 8N2 XON/XOFF");
    second.Inject("back\r\n");
    EXPECT_TRUE(m_sink.WaitForBytes(6, 5000));
    EXPECT_NE(m_sink.Text().find("back\r\n"), std::string::npos);
    EXPECT_TRUE(m_port.SendByte('z'));
    EXPECT_TRUE(second.WaitForReceived(1, 5000));
    EXPECT_EQ(m_prompt.Messages(), std::vector<std::string>{"Unable to wait for commevent"});
}

TEST_F(PortReconnect, NothingReopensWhenOffNorAfterDisConnect)
{
    CDevSim first, second, third;
    Plug(first);
    ASSERT_TRUE(UntilPresent(true));
    Connect();
    EXPECT_FALSE(Unplug(first)); // off: the loss closes the port for good
    int port = 0;
    EXPECT_EQ(m_reconnect.WaitForPort(-1, nullptr, port), EWait::Ended);
    Plug(second);
    ASSERT_TRUE(UntilPresent(true));
    EXPECT_EQ(m_reconnect.TryReopen().kind, EKind::None);
    EXPECT_FALSE(m_port.IsOpen());

    // On, and DisConnect while waiting: the script's wait ends, the device's
    // return changes nothing.
    m_reconnect.SetEnabled(true);
    Connect();
    EWait waited = EWait::Open;
    ASSERT_TRUE(Unplug(second));
    std::thread script([&] { waited = m_reconnect.WaitForPort(-1, nullptr, port); });
    EXPECT_EQ(m_reconnect.WaitForPort(20, nullptr, port), EWait::TimedOut);
    m_reconnect.Closed();
    script.join();
    EXPECT_EQ(waited, EWait::Ended);
    Plug(third);
    ASSERT_TRUE(UntilPresent(true));
    EXPECT_EQ(m_reconnect.TryReopen().kind, EKind::None);
    EXPECT_FALSE(m_port.IsOpen());
}

// A device back but held by another program: one report, after the grace
// that udev's permissions need; then quiet tries until it can be opened.
TEST_F(PortReconnect, ARefusedReturnIsReportedOnce)
{
    CDevSim first, second;
    Plug(first);
    ASSERT_TRUE(UntilPresent(true));
    m_reconnect.SetEnabled(true);
    Connect();
    ASSERT_TRUE(Unplug(first));
    Plug(second);
    CSerialLine holder;
    std::string reason;
    ASSERT_TRUE(holder.Open(second.Path(), reason)) << reason;
    ASSERT_TRUE(UntilPresent(true));

    const auto t0 = Clock::now();
    CPortReconnect::SAttempt attempt = m_reconnect.TryReopen(t0);
    EXPECT_EQ(attempt.kind, EKind::None);
    EXPECT_EQ(attempt.recheckMs, CPortReconnect::kReportAfterMs);
    attempt = m_reconnect.TryReopen(t0 + std::chrono::milliseconds(CPortReconnect::kReportAfterMs));
    EXPECT_EQ(attempt.kind, EKind::Refused);
    EXPECT_NE(attempt.reason.find("busy"), std::string::npos) << attempt.reason;
    attempt = m_reconnect.TryReopen(t0 + std::chrono::seconds(5));
    EXPECT_EQ(attempt.kind, EKind::None);
    EXPECT_EQ(attempt.recheckMs, CPortReconnect::kRetryRefusedMs);

    holder.Close();
    EXPECT_EQ(m_reconnect.TryReopen().kind, EKind::Reopened);
}

namespace {

// The main window as the port commands see it.
struct CPortTclOwner : CTestOwner, ITclPortOwner {
    const CPortMap* map = nullptr;
    CPortReconnect* reconnect = nullptr;
    const CPortMap& Ports() const override { return *map; }
    CPortReconnect& Reconnect() override { return *reconnect; }
};

} // namespace

TEST_F(PortReconnect, ScriptsListThePortsAndWaitForTheReturn)
{
    CPortTclOwner owner;
    owner.port = &m_port;
    owner.map = &m_ports;
    owner.reconnect = &m_reconnect;
    CTclHost host;
    host.SetMainWindow(&owner);
    auto submit = [&](const std::string& line) {
        const std::size_t from = owner.console.Size();
        host.AttachConsole();
        host.SubmitCommandText(line);
        return from;
    };
    // What an evaluation printed, without the prompt that follows it.
    auto shown = [&](std::size_t from) {
        std::string text = owner.console.Text(from);
        const std::string prompt = kConsolePrompt;
        if (text.size() >= prompt.size() && text.compare(text.size() - prompt.size(), prompt.size(), prompt) == 0)
            text.resize(text.size() - prompt.size());
        return text;
    };
    auto eval = [&](const std::string& line) {
        const std::size_t from = submit(line);
        EXPECT_TRUE(host.WaitIdle(kIdleTimeoutMs));
        return shown(from);
    };
    CDevSim first, second;
    Plug(first);
    ASSERT_TRUE(UntilPresent(true));
    EXPECT_EQ(eval("llength [ListPorts]"), "8\n");
    EXPECT_EQ(eval("dict get [lindex [ListPorts] 0] path"), m_link + "\n");
    EXPECT_EQ(eval("dict get [lindex [ListPorts] 0] present"), "1\n");
    EXPECT_EQ(eval("dict get [lindex [ListPorts] 0] device"), first.Path() + "\n");
    EXPECT_EQ(eval("lmap k {path present source} {dict get [lindex [ListPorts] 1] $k}"), "{} 0 none\n");

    const struct {
        const char* line;
        const char* says;
    } refused[] = {
        {"ListPorts all", "should be \"ListPorts\""},
        {"WaitForPort -timeout", "should be \"WaitForPort ?-timeout seconds?\""},
        {"WaitForPort 1 2 3", "should be \"WaitForPort ?-timeout seconds?\""},
        {"WaitForPort -time 1", "unknown option \"-time\""},
        {"WaitForPort -timeout soon", "-timeout expects a number of seconds from 0 up, got \"soon\""},
        {"WaitForPort -timeout -1", "got \"-1\""},
        {"WaitForPort -timeout Inf", "got \"Inf\""},
        {"WaitForPort", "no port is open or waiting for its device"},
    };
    for (const auto& c : refused)
        EXPECT_NE(eval(c.line).find(c.says), std::string::npos) << c.line;

    m_reconnect.SetEnabled(true);
    Connect();
    EXPECT_EQ(eval("WaitForPort"), "COM1\n");
    ASSERT_TRUE(Unplug(first));
    EXPECT_NE(eval("WaitForPort -timeout 0.05").find("COM1 did not come back within 0.05 s"), std::string::npos);
    std::size_t from = submit("WaitForPort");
    ASSERT_TRUE(serial_test::WaitUntil([&] { return host.IsEvaluating(); }, 5000));
    host.CancelEvaluation(); // Ctrl+Break
    ASSERT_TRUE(host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(shown(from), "eval unwound\n");

    from = submit("WaitForPort -timeout 30");
    Plug(second);
    ASSERT_TRUE(UntilPresent(true));
    ASSERT_EQ(m_reconnect.TryReopen().kind, EKind::Reopened);
    ASSERT_TRUE(host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(shown(from), "COM1\n");
}
