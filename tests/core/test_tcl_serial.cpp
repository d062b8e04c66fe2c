// The Tcl commands that reach the serial line, run through the interpreter
// host against a real engine on a pseudo-terminal with a simulated device.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "SerialTestSupport.h"
#include "TclTestSupport.h"
#include "TestPlatform.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

using serial_test::Clock;
using serial_test::MsSince;

namespace {

const SConsoleEntry kPrompt{kConsolePrompt, kConsoleNotice};
const char kNoPort[] = "Error : No Port Open to send data out\n";

std::vector<SConsoleEntry> Shows(const std::string& result, int kind = kConsoleOutput)
{
    if (result.empty())
        return {kPrompt};
    return {{result, kind}, kPrompt};
}

// An engine whose COM1 leads to a simulated device, reached by the commands
// through a host whose owner reports the port as open when the test says so.
class TclSerial : public ::testing::Test {
protected:
    void StartDevice(CDevSim::EMode mode, int answerDelayMs = 0)
    {
        CDevSim::SOptions options;
        options.mode = mode;
        options.answerDelayMs = answerDelayMs;
        std::string error;
        ASSERT_TRUE(m_device.Start(options, error)) << error;
        m_ports.Map(1, m_device.Path());
    }
    // What Connect does to the engine; the owner's open port is set apart.
    void OpenEngine()
    {
        ASSERT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
        serial_test::ApplyLineSettings(m_port);
        m_port.StartThreads();
    }
    void Connect(CDevSim::EMode mode, int answerDelayMs = 0)
    {
        StartDevice(mode, answerDelayMs);
        OpenEngine();
        m_tcl.owner.openPort = 1;
    }
    std::vector<SConsoleEntry> Run(const std::string& line) { return m_tcl.Run(line + "\n"); }
    // The result of a command that succeeds, as the console shows it.
    std::string Result(const std::string& line)
    {
        auto shown = Run(line);
        if (shown.size() == 1 && shown[0] == kPrompt)
            return "";
        if (shown.size() == 2 && shown[0].kind == kConsoleOutput && shown[1] == kPrompt && !shown[0].text.empty())
            return shown[0].text.substr(0, shown[0].text.size() - 1); // the line feed the host adds
        ADD_FAILURE() << "unexpected output of " << line << ": " << ::testing::PrintToString(shown);
        return "<failed>";
    }
    // Sends a marker and waits for it: every byte sent before it has arrived.
    std::string ReceivedUpToMarker()
    {
        m_tcl.owner.openPort = 1;
        EXPECT_EQ(Run("SendOut |"), (std::vector<SConsoleEntry>{kPrompt}));
        if (!WaitForByte('|'))
            return "<no marker>";
        std::string received = m_device.Received();
        EXPECT_EQ(received.back(), '|');
        received.pop_back();
        m_device.ClearReceived();
        return received;
    }
    // Waits until the device has received the byte c (a byte still on its
    // way from an earlier command does not count).
    bool WaitForByte(char c)
    {
        std::string received;
        while (received.find(c) == std::string::npos) {
            if (!m_device.WaitForReceived(received.size() + 1, kIdleTimeoutMs)) {
                ADD_FAILURE() << "'" << c << "' never arrived; received: " << received;
                return false;
            }
            received = m_device.Received();
        }
        return true;
    }
    // Runs line, waits until the device has received the byte `sent` (the
    // command is then in its wait), calls interrupt and returns how long the
    // command took from then on and what it showed.
    template <typename F>
    std::vector<SConsoleEntry> Interrupt(const std::string& line, char sent, F interrupt, long long& ms)
    {
        const size_t from = m_tcl.owner.console.Size();
        m_tcl.Submit(line + "\n");
        EXPECT_TRUE(WaitForByte(sent));
        const auto start = Clock::now();
        interrupt();
        EXPECT_TRUE(m_tcl.host.WaitIdle(kIdleTimeoutMs));
        ms = MsSince(start);
        return Merged(m_tcl.owner.console.Entries(from));
    }

    // The count N of the command's error "Error : sent N of <total> bytes:
    // <why>", or a failure when it showed anything else.
    std::size_t SentCount(const std::vector<SConsoleEntry>& shown, std::size_t total, const std::string& why)
    {
        const std::string pattern = "Error : sent %zu of %zu bytes: %n";
        std::size_t sent = 0, of = 0;
        int at = -1;
        if (shown.size() != 2 || shown[0].kind != kConsoleError || !(shown[1] == kPrompt) ||
            std::sscanf(shown[0].text.c_str(), pattern.c_str(), &sent, &of, &at) != 2 || at < 0 || of != total ||
            sent >= total || shown[0].text.substr(static_cast<std::size_t>(at)) != why + "\n") {
            ADD_FAILURE() << "expected a send error (" << why << "), shown: " << ::testing::PrintToString(shown);
            return 0;
        }
        return sent;
    }

    serial_test::CRecordingPrompt m_enginePrompt;
    serial_test::CRecordingSink m_sink;
    CDevSim m_device;
    CPortMap m_ports;
    CSerialPort m_port{m_enginePrompt, m_ports};
    CTclHostHarness m_tcl; // declared last: its Tcl thread ends before the engine goes

    void SetUp() override
    {
        m_port.AttachTerminal(&m_sink);
        m_tcl.owner.port = &m_port;
    }
};

} // namespace

TEST_F(TclSerial, CommandsAreRegistered)
{
    const char* names[] = {"SendOut",           "SendOutR",          "SetVorlaReadDelay",
                           "GetVorlaReadDelay", "ResetVorlaReadDelay", "SetVorlaInternalReadDelay",
                           "SetReadBufferSize", "GetReadBufferSize", "ResetReadBufferSize",
                           "SetDTR",            "SetRTS",            "PulseDTR",
                           "SendBreak",         "GetModemLines"};
    for (const char* name : names)
        EXPECT_EQ(Result(std::string("llength [info commands ") + name + "]"), "1") << name;
}

// With no port open neither command sends anything, even with the engine
// ready on the line: the owner's open port is the one test.
TEST_F(TclSerial, NoPortOpenGivesTheErrorAndSendsNothing)
{
    StartDevice(CDevSim::EMode::Silent);
    OpenEngine();
    for (const char* line : {"SendOut AT\\r", "SendOutR AT\\r", "SendOut", "SendOutR"})
        EXPECT_EQ(Run(line), Shows(kNoPort, kConsoleError)) << line;
    EXPECT_EQ(ReceivedUpToMarker(), "");
}

struct SSendCase {
    const char* line;
    std::string sent;
};

// What reaches the line for each argument; the result is always empty.
TEST_F(TclSerial, SendOutSendsTheArgumentsBytesUpToTheFirstZero)
{
    const std::vector<SSendCase> cases = {
        {"SendOut AT\\r", "AT\r"},
        {"SendOut", ""},
        {"SendOut {}", ""},
        {"SendOut a b c", "a"},                       // further arguments are ignored
        {"SendOut \"A T\\n\"", "A T\n"},
        {"SendOut [binary format a3 x]", "x"},        // Tcl hands a zero character as C0 80
        {"SendOut \"A\\x00B\"", "A"},
        {"SendOut \\x01\\x7f", "\x01\x7f"},
        {"SendOut \\u00e9", "\xc3\xa9"},              // UTF-8, as the console channel writes it
        {"SetVorlaReadDelay 0; SendOutR \"A\\x00B\"", "A"},
        {"SendOutR [binary format a2 y]", "y"},
    };
    Connect(CDevSim::EMode::Silent);
    for (const SSendCase& c : cases) {
        EXPECT_EQ(Run(c.line), (std::vector<SConsoleEntry>{kPrompt})) << c.line;
        EXPECT_EQ(ReceivedUpToMarker(), c.sent) << c.line;
    }
}

TEST_F(TclSerial, SendOutRTowardASilentDeviceIsEmptyAfterBothDelays)
{
    Connect(CDevSim::EMode::Silent);
    const auto start = Clock::now();
    EXPECT_EQ(Run("SendOutR x"), (std::vector<SConsoleEntry>{kPrompt}));
    const long long ms = MsSince(start);
    EXPECT_GE(ms, 5 + 200);
    EXPECT_LT(ms, 205 + 2000); // catches a hang or a delay taken in the wrong unit
    EXPECT_EQ(m_device.Received(), "x");
}

struct SModemCase {
    int answerDelayMs;
    const char* settings;  // Tcl commands run first
    const char* line;
    std::string result;
};

// The modem echoes at once and answers after its answer delay. Delays wide
// enough apart that the outcome does not depend on the machine's load.
TEST_F(TclSerial, SendOutRCollectsWhatArrivesBetweenTheClearAndTheReadDelay)
{
    const std::vector<SModemCase> cases = {
        // The echo comes within the internal read delay and is dropped.
        {100, "SetVorlaInternalReadDelay 50", "SendOutR AT\\r", "\r\nOK\r\n"},
        {100, "SetVorlaInternalReadDelay 50", "SendOutR ATI\\r", "\r\nDEVSIM MODEM 1.0\r\n\r\nOK\r\n"},
        {100, "SetVorlaInternalReadDelay 50", "SendOutR ATX\\r", "\r\nERROR\r\n"},
        // An answer as quick as the echo is dropped with it.
        {0, "SetVorlaInternalReadDelay 100", "SendOutR AT\\r", ""},
        // An answer later than the read delay is not part of the result.
        {400, "SetVorlaInternalReadDelay 50; SetVorlaReadDelay 100", "SendOutR AT\\r", ""},
        // Only the last ReadBufferSize bytes are kept.
        {100, "SetVorlaInternalReadDelay 50; SetReadBufferSize 3", "SendOutR ATI\\r", "K\r\n"},
    };
    for (const SModemCase& c : cases) {
        SCOPED_TRACE(c.line);
        m_port.Close(); // a fresh modem for each case
        Connect(CDevSim::EMode::Modem, c.answerDelayMs);
        ASSERT_EQ(Run(std::string("ResetVorlaReadDelay; SetVorlaInternalReadDelay 5; ResetReadBufferSize; ") +
                      c.settings),
                  (std::vector<SConsoleEntry>{kPrompt}));
        EXPECT_EQ(Result(c.line), c.result);
    }
}

// A late answer still reaches the terminal and the buffer; the next SendOutR
// drops it before it collects.
TEST_F(TclSerial, LateAnswerIsDroppedByTheNextSendOutR)
{
    Connect(CDevSim::EMode::Modem, 300);
    EXPECT_EQ(Result("SetVorlaInternalReadDelay 50; SetVorlaReadDelay 50; SendOutR ATE0\\r"), "");
    ASSERT_TRUE(m_sink.WaitForBytes(5 + 6, kIdleTimeoutMs)); // echo and the late OK
    EXPECT_EQ(Result("SetVorlaInternalReadDelay 100; SetVorlaReadDelay 1000; SendOutR ATI\\r"),
              "\r\nDEVSIM MODEM 1.0\r\n\r\nOK\r\n"); // no echo any more, no stale OK
}

struct SSettingCase {
    const char* line;
    std::vector<SConsoleEntry> shown;
};

// The read settings work with or without a port; run in order.
TEST_F(TclSerial, ReadSettingsCommands)
{
    const auto error = [](const char* text) { return Shows(std::string(text) + "\n", kConsoleError); };
    const auto missingDelay = error("Error : parameter missing, example SetVorlaReadDelay 10");
    const auto missingInternal = error("Error : parameter missing, example SetVorlaInternalReadDelay 10");
    const auto missingSize = error("Error : parameter missing, example SetReadBufferSize 1000");
    const auto negativeDelay = error("Error : delay must not be negative");
    const auto negativeSize = error("Error : buffer size must not be negative");
    const auto notInteger = [&](const std::string& text) {
        return error(("expected integer but got \"" + text + "\"").c_str());
    };
    const std::vector<SSettingCase> cases = {
        {"GetVorlaReadDelay", Shows("200\n")},
        {"GetReadBufferSize", Shows("1000\n")},
        {"SetVorlaReadDelay", missingDelay},
        {"SetVorlaReadDelay 1 2", missingDelay},
        {"GetVorlaReadDelay", Shows("200\n")},
        {"SetVorlaReadDelay abc", notInteger("abc")},
        {"SetVorlaReadDelay {  75ms}", notInteger("  75ms")},
        {"SetVorlaReadDelay 1e30", notInteger("1e30")},
        {"GetVorlaReadDelay", Shows("200\n")}, // refused values change nothing
        {"SetVorlaReadDelay 50", Shows("")},
        {"GetVorlaReadDelay", Shows("50\n")},
        {"SetVorlaReadDelay -5", negativeDelay},
        {"SetVorlaReadDelay 99999999999", error("Error : delay must be from 0 to 2147483647 ms, not 99999999999")},
        {"GetVorlaReadDelay", Shows("50\n")},
        {"SetVorlaReadDelay 2147483647", Shows("")}, // large delays stand: a cancel ends them
        {"GetVorlaReadDelay", Shows("2147483647\n")},
        {"ResetVorlaReadDelay", Shows("")},
        {"GetVorlaReadDelay", Shows("200\n")},
        {"ResetVorlaReadDelay extra args", Shows("")},
        {"SetVorlaInternalReadDelay", missingInternal},
        {"SetVorlaInternalReadDelay 1 2", missingInternal},
        {"SetVorlaInternalReadDelay -1", negativeDelay},
        {"SetVorlaInternalReadDelay 12abc", notInteger("12abc")},
        {"SetVorlaInternalReadDelay 12", Shows("")},
        {"SetReadBufferSize", missingSize},
        {"SetReadBufferSize 1 2", missingSize},
        {"SetReadBufferSize -1", negativeSize},
        {"GetReadBufferSize", Shows("1000\n")},
        {"SetReadBufferSize 3", Shows("")},
        {"SetReadBufferSize 12abc", notInteger("12abc")},
        {"SetReadBufferSize 99999999999",
         error("Error : buffer size must be from 0 to 2147483647 bytes, not 99999999999")},
        {"GetReadBufferSize", Shows("3\n")},
        {"SetReadBufferSize 0", Shows("")},
        {"GetReadBufferSize", Shows("0\n")},
        {"ResetReadBufferSize", Shows("")},
        {"GetReadBufferSize", Shows("1000\n")},
        {"set d [GetVorlaReadDelay]; incr d", Shows("201\n")},
    };
    for (const SSettingCase& c : cases)
        EXPECT_EQ(Run(c.line), c.shown) << c.line;
    EXPECT_EQ(m_port.InternalReadDelay(), 12);
}

// SetReadBufferSize empties the buffer; ResetReadBufferSize only restores
// the size, so a fuller buffer keeps its length and new bytes displace the
// oldest.
TEST_F(TclSerial, BufferSizeCommandsAndTheReceiveBuffer)
{
    Connect(CDevSim::EMode::Silent);
    m_device.Inject("old");
    ASSERT_TRUE(m_sink.WaitForBytes(3, kIdleTimeoutMs));
    m_port.Close(); // joins the reader: everything shown is stored
    ASSERT_EQ(m_port.ReceiveBufferContents(), "old");
    EXPECT_EQ(Run("SetReadBufferSize 1e3"), Shows("expected integer but got \"1e3\"\n", kConsoleError));
    EXPECT_EQ(m_port.ReceiveBufferContents(), "old"); // a refused size empties nothing
    EXPECT_EQ(Run("SetReadBufferSize 1500"), (std::vector<SConsoleEntry>{kPrompt}));
    EXPECT_EQ(m_port.ReceiveBufferContents(), "");

    OpenEngine();
    m_device.Inject(std::string(1200, 'a'));
    ASSERT_TRUE(m_sink.WaitForBytes(3 + 1200, kIdleTimeoutMs));
    m_port.Close();
    EXPECT_EQ(Run("ResetReadBufferSize; GetReadBufferSize"), Shows("1000\n"));
    OpenEngine();
    m_device.Inject("bcd");
    ASSERT_TRUE(m_sink.WaitForBytes(3 + 1203, kIdleTimeoutMs));
    m_port.Close();
    const std::string contents = m_port.ReceiveBufferContents();
    EXPECT_EQ(contents.size(), 1200u);
    EXPECT_EQ(contents.substr(contents.size() - 4), "abcd");
}

// Ctrl+Break, shut-down and a closed port each end a long wait at once.
TEST_F(TclSerial, InterruptedWaitsEndPromptly)
{
    Connect(CDevSim::EMode::Silent);
    long long ms = 0;
    EXPECT_EQ(Interrupt("SetVorlaReadDelay 60000; SendOutR x", 'x', [&] { m_tcl.host.CancelEvaluation(); }, ms),
              Shows("eval unwound\n", kConsoleError));
    EXPECT_LT(ms, 2000);
    EXPECT_EQ(Run("GetVorlaReadDelay"), Shows("60000\n")); // the interpreter goes on

    // Each byte waits 100 ms after it is written: a long text is cut short.
    m_port.SetTransmitDelays(100, 100);
    m_device.ClearReceived();
    EXPECT_EQ(Interrupt("SendOut [string repeat a 1000]", 'a', [&] { m_tcl.host.CancelEvaluation(); }, ms),
              Shows("eval unwound\n", kConsoleError));
    EXPECT_LT(ms, 2000);
    EXPECT_LT(m_device.ReceivedCount(), 100u);
    m_port.SetTransmitDelays(0, 0);

    // The port closes under the command: it ends with what it collected.
    m_device.ClearReceived();
    EXPECT_EQ(Interrupt("SendOutR y", 'y', [&] { m_port.Close(); }, ms), (std::vector<SConsoleEntry>{kPrompt}));
    EXPECT_LT(ms, 2000);
    // A text cut short by the close fails, and says how much of it went out.
    OpenEngine();
    m_port.SetTransmitDelays(100, 100);
    m_device.ClearReceived();
    auto shown = Interrupt("SendOut [string repeat b 1000]", 'b', [&] { m_port.Close(); }, ms);
    EXPECT_LT(ms, 2000);
    m_port.SetTransmitDelays(0, 0);
    const std::size_t sent = SentCount(shown, 1000, "the port was closed");
    ASSERT_TRUE(m_device.WaitForReceived(sent, kIdleTimeoutMs));
    EXPECT_EQ(m_device.Received(), std::string(sent, 'b')); // exactly the bytes counted

    // The application closes: the host ends and joins its thread in time.
    OpenEngine();
    m_device.ClearReceived();
    m_tcl.Submit("SendOutR z\n");
    ASSERT_TRUE(WaitForByte('z'));
    const auto start = Clock::now();
    EXPECT_TRUE(m_tcl.host.Shutdown(CTclHost::kShutdownTimeoutMs));
    EXPECT_LT(MsSince(start), 2000);
}

const char kNotReading[] = "the device is not reading (write timed out)";

// Towards a device that does not read (the line held by flow control) each
// byte is lost to its write time-out: the command fails, saying so, a script
// can catch it, and SendOutR does not go on to collect.
TEST_F(TclSerial, SendsThatTheDeviceDoesNotTakeFail)
{
    Connect(CDevSim::EMode::Silent);
    ASSERT_TRUE(m_device.HoldLine());
    const std::string none = std::string("Error : sent 0 of 5 bytes: ") + kNotReading;
    EXPECT_EQ(Run("SendOut HELLO"), Shows(none + "\n", kConsoleError));
    EXPECT_EQ(Result("list [catch {SendOut HELLO} e] $e"), "1 {" + none + "}");
    // Collecting would take the minute of the read delay, beyond Run's patience.
    EXPECT_EQ(Run("SetVorlaReadDelay 60000; SendOutR HELLO"), Shows(none + "\n", kConsoleError));
    m_device.ReleaseLine();
    EXPECT_EQ(Run("ResetVorlaReadDelay; SendOut ok"), (std::vector<SConsoleEntry>{kPrompt}));
}

// The line fills up part way through a text (the held line still takes
// what the kernel has room for): the count is exactly the bytes that reached
// the device, and they are the start of the text.
TEST_F(TclSerial, SendCutShortByAFullLineCountsWhatWentOut)
{
    Connect(CDevSim::EMode::Silent);
    ASSERT_EQ(Run("SendOut HEL"), (std::vector<SConsoleEntry>{kPrompt}));
    ASSERT_TRUE(m_device.WaitForReceived(3, kIdleTimeoutMs));
    ASSERT_TRUE(m_device.HoldLine());
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += static_cast<char>('0' + i % 10);
    const std::size_t sent = SentCount(Run("SendOut " + text), text.size(), kNotReading);
    m_device.ReleaseLine();
    auto textReceived = [&] {
        std::string r = m_device.Received();
        r.erase(std::remove(r.begin(), r.end(), CDevSim::FillerByte()), r.end());
        return r;
    };
    const std::string expected = "HEL" + text.substr(0, sent);
    serial_test::WaitUntil([&] { return textReceived().size() >= expected.size(); }, kIdleTimeoutMs);
    EXPECT_EQ(textReceived(), expected);
}

// Unplugging the device during a long SendOut or SendOutR fails the command
// with how much went out; the device got no more than that.
TEST_F(TclSerial, UnplugMidSendFails)
{
    for (const char* command : {"SendOut", "SendOutR"}) {
        SCOPED_TRACE(command);
        m_port.Close();
        Connect(CDevSim::EMode::Silent);
        m_port.SetTransmitDelays(10, 10);
        long long ms = 0;
        auto shown = Interrupt(std::string(command) + " [string repeat u 1000]", 'u', [&] { m_device.HangUp(); }, ms);
        const std::size_t sent = SentCount(shown, 1000, "the device was unplugged");
        EXPECT_GE(sent, m_device.ReceivedCount());
        EXPECT_GE(sent, 1u);
    }
}

// The modem check script that ships with the tests, as Run Script sources it.
TEST_F(TclSerial, ModemCheckScriptPassesOnlyAgainstTheModem)
{
    std::string path = __FILE__;
    path = path.substr(0, path.rfind('/')) + "/../scripts/modem_check.tcl";
    Connect(CDevSim::EMode::Modem, 30); // default delays, as a user would have them
    auto shown = Run(MakeSourceCommand(path));
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown.back(), kPrompt);
    EXPECT_NE(shown[0].text.find("all 8 checks passed\nPASS\n"), std::string::npos) << shown[0].text;
    EXPECT_EQ(shown.size(), 2u) << ::testing::PrintToString(shown);
    EXPECT_EQ(Result("GetVorlaReadDelay"), "200");

    m_port.Close();
    Connect(CDevSim::EMode::Silent);
    shown = Run(MakeSourceCommand(path));
    ASSERT_EQ(shown.size(), 3u) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown[1], (SConsoleEntry{"FAIL: 8 of 8 checks failed: AT AT AT ATI ATE0 AT ATE1 ATQ9\n", kConsoleError}));
}

const char kNoModemLines[] = "Error : the device has no modem lines (COM1: Inappropriate ioctl for device)\n";

// A pseudo-terminal has no modem lines: each command that needs them fails
// with the system's reason, a script can catch it, and the port stays open
// and working. A break needs no modem line, and the pseudo-terminal takes it.
TEST_F(TclSerial, ControlLinesOnAPseudoTerminalFailCleanlyAndKeepThePort)
{
    VORLA_SKIP_UNLESS(ELimit::ModemLinesOnTestDevices);
    Connect(CDevSim::EMode::Modem, 100);
    for (const char* line : {"SetDTR 1", "SetDTR 0", "SetRTS 1", "SetRTS 0", "PulseDTR 10", "GetModemLines"})
        EXPECT_EQ(Run(line), Shows(kNoModemLines, kConsoleError)) << line;
    EXPECT_EQ(Result("catch {PulseDTR 1}"), "1");
    const auto start = Clock::now();
    EXPECT_EQ(Run("SendBreak"), Shows(""));
    EXPECT_GE(MsSince(start), 250); // the default length
    EXPECT_EQ(Run("SendBreak 0"), Shows(""));
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(Result("SetVorlaInternalReadDelay 50; SendOutR AT\\r"), "\r\nOK\r\n");
}

// Bad arguments are refused with a message naming the problem before
// anything reaches the line; without a port each command says so.
TEST_F(TclSerial, ControlLineCommandsRefuseBadArguments)
{
    StartDevice(CDevSim::EMode::Silent);
    OpenEngine(); // the window has no port open
    const auto error = [](const std::string& text) { return Shows(text + "\n", kConsoleError); };
    const auto usage = [&](const std::string& form) {
        return error("Error : wrong # args: should be \"" + form + "\"");
    };
    const auto level = [&](const std::string& arg) {
        return error("Error : level must be 0 or 1, not \"" + arg + "\"");
    };
    const std::vector<SSettingCase> noPort = {
        {"SetDTR 1", error("Error : No Port Open to set DTR")},
        {"SetRTS 0", error("Error : No Port Open to set RTS")},
        {"PulseDTR 10", error("Error : No Port Open to pulse DTR")},
        {"SendBreak", error("Error : No Port Open to send a break")},
        {"GetModemLines", error("Error : No Port Open to read the modem lines")},
    };
    for (const SSettingCase& c : noPort)
        EXPECT_EQ(Run(c.line), c.shown) << c.line;
    m_tcl.owner.openPort = 1;
    const std::vector<SSettingCase> cases = {
        {"SetDTR", usage("SetDTR ?-i chan? 0|1")},
        {"SetDTR 1 0", usage("SetDTR ?-i chan? 0|1")},
        {"SetRTS", usage("SetRTS ?-i chan? 0|1")},
        {"SetDTR 2", level("2")},
        {"SetRTS on", level("on")},
        {"SetDTR -1", level("-1")},
        {"PulseDTR", usage("PulseDTR ?-i chan? ms")},
        {"PulseDTR -5", error("Error : duration must not be negative")},
        {"PulseDTR 1.5", error("expected integer but got \"1.5\"")},
        {"SendBreak 60000 1", usage("SendBreak ?-i chan? ?ms?")},
        {"SendBreak abc", error("expected integer but got \"abc\"")},
        {"SendBreak 99999999999", error("Error : duration must be from 0 to 2147483647 ms, not 99999999999")},
        {"SendBreak -x 10", error("Error : unknown option \"-x\": should be -i chan")},
        {"SendBreak -i", usage("SendBreak ?-i chan? ?ms?")},
        {"SendBreak -i nosuch 60000", error("can not find channel named \"nosuch\"")},
        {"GetModemLines 1", usage("GetModemLines ?-i chan?")},
    };
    for (const SSettingCase& c : cases)
        EXPECT_EQ(Run(c.line), c.shown) << c.line;
    EXPECT_EQ(ReceivedUpToMarker(), "");
}

// A long break holds the line against the other senders, and Ctrl+Break or
// a close ends it at once; after a cancel the port goes on sending.
TEST_F(TclSerial, LongBreakEndsOnCancelAndOnClose)
{
    struct SInterrupt {
        std::function<void()> interrupt;
        std::vector<SConsoleEntry> shown;
    };
    const std::vector<SInterrupt> cases = {
        {[&] { m_tcl.host.CancelEvaluation(); }, Shows("eval unwound\n", kConsoleError)},
        {[&] { m_port.Close(); }, Shows("Error : the port was closed\n", kConsoleError)},
    };
    Connect(CDevSim::EMode::Silent);
    for (const SInterrupt& c : cases) {
        const std::size_t from = m_tcl.owner.console.Size();
        m_tcl.Submit("SendBreak 60000\n");
        // Once the break holds the line a byte of another sender waits out its
        // 2000 ms and does not go out; until then the probes go out.
        const auto deadline = Clock::now() + std::chrono::milliseconds(kIdleTimeoutMs);
        bool held = false;
        while (!held && Clock::now() < deadline)
            held = !m_port.SendByte('p');
        ASSERT_TRUE(held);
        const std::size_t probes = m_device.ReceivedCount();
        const auto start = Clock::now();
        c.interrupt();
        ASSERT_TRUE(m_tcl.host.WaitIdle(kIdleTimeoutMs));
        EXPECT_LT(MsSince(start), 2000);
        EXPECT_EQ(Merged(m_tcl.owner.console.Entries(from)), c.shown);
        if (m_port.IsOpen()) {
            EXPECT_EQ(Run("SendOut q"), Shows(""));
            ASSERT_TRUE(WaitForByte('q'));
            EXPECT_EQ(m_device.Received(), std::string(probes, 'p') + "q"); // the refused probe never went out
            m_device.ClearReceived();
        }
    }
}

// With -i the commands work on a serial channel the script opened itself,
// with no port open in the window. On a pseudo-terminal the modem lines are
// refused as on the port (Tcl's own -ttystatus would report made-up levels),
// a break is taken and Ctrl+Break ends a long one; a channel of another kind
// gets Tcl's own error.
TEST_F(TclSerial, DashIWorksOnATclSerialChannel)
{
    VORLA_SKIP_UNLESS(ELimit::ModemLinesOnTestDevices);
    CDevSim second;
    ASSERT_TRUE(serial_test::StartSilent(second));
    const std::string chan = Result("set c [open " + second.Path() + " r+]; fconfigure $c -mode 9600,n,8,1; set c");
    const std::string noLines =
        "Error : the device has no modem lines (" + chan + ": Inappropriate ioctl for device)\n";
    for (const char* line : {"SetDTR -i $c 1", "SetRTS -i $c 0", "PulseDTR -i $c 10", "GetModemLines -i $c"})
        EXPECT_EQ(Run(line), Shows(noLines, kConsoleError)) << line;
    EXPECT_EQ(Run("SendBreak -i $c 10"), Shows(""));
    EXPECT_EQ(Run("puts -nonewline $c hi; flush $c"), Shows(""));
    ASSERT_TRUE(second.WaitForReceived(2, kIdleTimeoutMs));
    EXPECT_EQ(second.Received(), "hi");

    ASSERT_EQ(Result("set f [open /dev/null r]").substr(0, 4), "file");
    auto first = [&](const std::string& line) {
        const auto shown = Run(line);
        return shown.empty() ? std::string() : shown[0].text.substr(0, shown[0].text.find(':'));
    };
    EXPECT_EQ(first("SetDTR -i $f 1"), "bad option \"-ttystatus\"");
    EXPECT_EQ(first("GetModemLines -i $f"), "bad option \"-ttystatus\"");
    EXPECT_EQ(first("SendBreak -i $f 60000"), "bad option \"-ttycontrol\"");

    const std::size_t from = m_tcl.owner.console.Size();
    m_tcl.Submit("puts started; SendBreak -i $c 60000\n");
    ASSERT_TRUE(m_tcl.owner.console.WaitForText("started", kIdleTimeoutMs, from));
    const auto start = Clock::now();
    m_tcl.host.CancelEvaluation();
    ASSERT_TRUE(m_tcl.host.WaitIdle(kIdleTimeoutMs));
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(Merged(m_tcl.owner.console.Entries(from)),
              (std::vector<SConsoleEntry>{{"started\n", kConsoleOutput}, {"eval unwound\n", kConsoleError}, kPrompt}));
    EXPECT_EQ(Run("close $c; close $f"), Shows(""));
}
