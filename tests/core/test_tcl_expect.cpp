// expect and its companions through the interpreter host, against a real
// engine on a pseudo-terminal with a simulated device, and against a second
// pseudo-terminal that the script opens as a Tcl channel.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SerialTestSupport.h"
#include "TclTestSupport.h"
#include "TestPlatform.h"
#include "console/GlobFind.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

using serial_test::Clock;
using serial_test::MsSince;

namespace {

const SConsoleEntry kPrompt{kConsolePrompt, kConsoleNotice};

class TclExpect : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_port.AttachTerminal(&m_sink);
        m_tcl.owner.port = &m_port;
    }

    void Connect()
    {
        ASSERT_TRUE(serial_test::StartSilent(m_device));
        m_ports.Map(1, m_device.Path());
        ASSERT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
        serial_test::ApplyLineSettings(m_port);
        m_port.StartThreads();
        m_tcl.owner.openPort = 1;
    }
    // The device sends bytes; returns once the port's reader has handed them on.
    void Inject(const std::string& bytes)
    {
        m_device.Inject(bytes);
        m_delivered += bytes.size();
        ASSERT_TRUE(m_sink.WaitForBytes(m_delivered, kIdleTimeoutMs));
    }
    std::vector<SConsoleEntry> Run(const std::string& line) { return m_tcl.Run(line + "\n"); }
    // What a command shows: its result or error, without the line feed and prompt.
    std::string Shown(const std::string& line)
    {
        const auto shown = Run(line);
        if (shown.size() == 1 && shown[0] == kPrompt)
            return "";
        if (shown.size() == 2 && shown[1] == kPrompt)
            return shown[0].text.substr(0, shown[0].text.size() - 1);
        return "<unexpected: " + ::testing::PrintToString(shown) + ">";
    }
    // Submits "puts started; line" and returns once the line has begun.
    std::size_t Start(const std::string& line)
    {
        const std::size_t from = m_tcl.owner.console.Size();
        m_tcl.Submit("puts started; " + line + "\n");
        EXPECT_TRUE(m_tcl.owner.console.WaitForText("started\n", kIdleTimeoutMs, from));
        return from;
    }
    std::string Finish(std::size_t from)
    {
        EXPECT_TRUE(m_tcl.host.WaitIdle(kIdleTimeoutMs));
        return m_tcl.owner.console.Text(from);
    }

    serial_test::CRecordingPrompt m_enginePrompt;
    serial_test::CRecordingSink m_sink;
    CDevSim m_device;
    CPortMap m_ports;
    CSerialPort m_port{m_enginePrompt, m_ports};
    CTclHostHarness m_tcl; // declared last: its Tcl thread ends before the engine goes
    std::size_t m_delivered = 0;
};

// A pattern split across two reads matches once its last byte arrives; the
// first listed pattern that matches wins even when another matches earlier;
// the match and what precedes it are consumed, the rest stays.
TEST_F(TclExpect, MatchesAcrossReadsFirstListedWinsAndLeavesTheRest)
{
    Connect();
    std::size_t from = Start("expect -re {O(K+)\\r\\n} {set r ok:$expect_out(1,string)}");
    Inject("noise O");
    Inject("KK\r\nrest");
    EXPECT_EQ(Finish(from), "started\nok:KK\n" + std::string(kConsolePrompt));
    EXPECT_EQ(Shown("string map {\\r R \\n N} $expect_out(buffer)"), "noise OKKRN");

    Inject(" a1 b2 c3;");
    EXPECT_EQ(Shown("expect -re {c(\\d)} {set r c$expect_out(1,string)} -re {a(\\d)} {set r a}"), "c3");
    EXPECT_EQ(Shown("set expect_out(buffer)"), "rest a1 b2 c3");
    EXPECT_EQ(Shown("expect -timeout 0 -ex a1 {set r again} timeout {set r gone}"), "gone");
    // Glob is the default; -ex takes * literally; -nocase folds letters.
    Inject("x*y XyZ end");
    // ^ anchors at the oldest byte still held, also after a consumption.
    EXPECT_EQ(Shown("expect -timeout 0 -re {^x} {set r wrong} -re {^;} {set r anchored}"), "anchored");
    EXPECT_EQ(Shown("expect -ex * {set r star:$expect_out(buffer)}"), "star:x*");
    EXPECT_EQ(Shown("expect -nocase xyz {set r $expect_out(0,string)}"), "XyZ");
    EXPECT_EQ(Shown("expect e?d {set r $expect_out(0,string)}"), "end");

    Inject("x\nx\nx\nstop\n");
    EXPECT_EQ(Shown("set n 0; expect x {incr n; exp_continue} stop {set n}"), "3");
}

// A timeout consumes nothing; the variable timeout (local first, then
// global) takes fractions; a total deadline is not extended by arriving bytes.
TEST_F(TclExpect, TimeoutLeavesTheBufferAlone)
{
    Connect();
    Inject("partial answer");
    auto start = Clock::now();
    EXPECT_EQ(Shown("expect -timeout 0.2 never {set r matched} timeout {set r timed-out}"), "timed-out");
    EXPECT_GE(MsSince(start), 200);
    EXPECT_EQ(Shown("proc p {} {set timeout 0.1; expect never}; p"), "");
    // -timeout inside the braced form: its value is a word of the parsed list
    // and must live as long as the wait (found by fuzzing: it was freed first).
    EXPECT_EQ(Shown("expect {\n  -timeout 0.1 never {set r no} timeout {set r braced}\n}"), "braced");
    EXPECT_EQ(Shown("expect -timeout 0 answer {set expect_out(buffer)}"), "partial answer");

    std::size_t from = Start("set timeout 0.5; expect never {set r no} timeout {set r deadline}");
    for (int i = 0; i < 5; ++i)
        Inject("chatter ");
    EXPECT_EQ(Finish(from), "started\ndeadline\n" + std::string(kConsolePrompt));
}

// The end of the port ends a wait at once: unplugging fires eof, closing
// too; what was left is in expect_out(buffer).
TEST_F(TclExpect, EofOnUnplugAndOnClose)
{
    Connect();
    Inject("last words");
    std::size_t from = Start("expect -timeout -1 never {set r no} eof {set r eof:$expect_out(buffer)}");
    auto start = Clock::now();
    m_device.HangUp();
    EXPECT_EQ(Finish(from), "started\neof:last words\n" + std::string(kConsolePrompt));
    EXPECT_LT(MsSince(start), 2000);

    m_device.Stop();
    m_delivered = 0;
    m_tcl.owner.openPort = 0;
    m_port.Close();
    Connect();
    from = Start("expect -timeout -1 never {set r no} default {set r default-on-eof}");
    m_port.Close();
    EXPECT_EQ(Finish(from), "started\ndefault-on-eof\n" + std::string(kConsolePrompt));
}

// Past match_max bytes the oldest go and expect_out(dropped) counts them.
TEST_F(TclExpect, OverflowDropsTheOldestAndCountsThem)
{
    Connect();
    EXPECT_EQ(Shown("match_max"), "1048576");
    EXPECT_EQ(Shown("match_max 16"), "16");
    Inject("0123456789abcdefghijklmnopqrstuvwxyzABCD");
    EXPECT_EQ(Shown("expect -re {.+} {list $expect_out(dropped) $expect_out(buffer)}"), "24 opqrstuvwxyzABCD");
    Inject("more");
    EXPECT_EQ(Shown("expect_flush; expect -timeout 0 more {set r stale} timeout {set r flushed}"), "flushed");
}

// Bytes are bytes both ways: every value 0..255 goes out with send -raw;
// NUL and bytes above 0x7F arrive in the match buffer unchanged; send
// sends UTF-8 and keeps NUL; send -raw refuses a character above 255 and
// sends nothing.
TEST_F(TclExpect, BytesPassUnchangedBothWays)
{
    Connect();
    EXPECT_EQ(Shown("set s {}; for {set i 0} {$i < 256} {incr i} {append s [format %c $i]}; send -raw $s"), "");
    ASSERT_TRUE(m_device.WaitForReceived(256, kIdleTimeoutMs));
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(m_device.Received(), all);
    m_device.ClearReceived();

    Inject(std::string("a\0b\xff\x80", 5) + "end");
    EXPECT_EQ(Shown("expect end {binary scan $expect_out(buffer) H* h; set h}"), "610062ff80656e64");
    EXPECT_EQ(Shown("send \"x\\0y\u00e9\""), "");
    EXPECT_EQ(Shown("send -raw \"ok\u0100\""),
              "Error : send -raw: character 2 (U+0100) is above 255; nothing sent");
    EXPECT_EQ(Shown("send |"), "");
    ASSERT_TRUE(m_device.WaitForReceived(6, kIdleTimeoutMs));
    EXPECT_EQ(m_device.Received(), std::string("x\0y\xc3\xa9|", 6));
}

// Ctrl+Break ends an endless expect, on the port and on a channel, and so
// does shutting the host down (closing the window).
TEST_F(TclExpect, WaitsEndOnCancelAndOnShutdown)
{
    Connect();
    CDevSim second;
    ASSERT_TRUE(serial_test::StartSilent(second));
    ASSERT_EQ(Shown("set c [open " + second.Path() + " r+]; string range $c 0 3"), "file");
    for (const char* line : {"expect -timeout -1 never", "expect -i $c -timeout -1 never", "after 60000"}) {
        SCOPED_TRACE(line);
        const std::size_t from = Start(line);
        const auto start = Clock::now();
        m_tcl.host.CancelEvaluation();
        EXPECT_EQ(Finish(from), "started\neval unwound\n" + std::string(kConsolePrompt));
        EXPECT_LT(MsSince(start), 2000);
    }
    Start("expect -i $c -timeout -1 never");
    const auto start = Clock::now();
    EXPECT_TRUE(m_tcl.host.Shutdown(CTclHost::kShutdownTimeoutMs));
    EXPECT_LT(MsSince(start), 2000);
}

// With -i every command works on a Tcl channel: a second pseudo-terminal
// the script opened, with no port open in the window.
TEST_F(TclExpect, DashIWorksOnASecondPseudoTerminal)
{
    VORLA_SKIP_UNLESS(ELimit::TclChannelSeesHangUp);
    CDevSim second;
    ASSERT_TRUE(serial_test::StartSilent(second));
    EXPECT_EQ(Shown("expect x {}"), "Error : No Port Open to expect data from");
    EXPECT_EQ(Shown("set c [open " + second.Path() + " r+]; fconfigure $c -mode 115200,n,8,1; string range $c 0 3"),
              "file");

    EXPECT_EQ(Shown("send -i $c -raw \"AT\\0\\xff\"; puts -nonewline $c Z; send -i $c !"), "");
    ASSERT_TRUE(second.WaitForReceived(6, kIdleTimeoutMs));
    EXPECT_EQ(second.Received(), std::string("AT\0\xffZ!", 6));

    std::size_t from = Start("expect -i $c -re {HEL+O\\s} {binary scan $expect_out(buffer) H* h; set h}");
    second.Inject("\x01HEL");
    ASSERT_TRUE(second.WaitUntilAllSent(kIdleTimeoutMs));
    second.Inject("LO\nleft");
    EXPECT_EQ(Finish(from), "started\n0148454c4c4f0a\n" + std::string(kConsolePrompt));
    EXPECT_EQ(Shown("match_max -i $c 2; expect -i $c -timeout 0 * {list $expect_out(dropped) $expect_out(buffer)}"),
              "2 ft");

    EXPECT_EQ(Shown("match_max -i $c 1024; expect_flush -i $c; expect_background -i $c ALERT {puts alert:$expect_out(buffer)}"), "");
    from = m_tcl.owner.console.Size();
    second.Inject("ALERT");
    EXPECT_TRUE(m_tcl.owner.console.WaitForText("alert:ALERT\n", kIdleTimeoutMs, from));
    EXPECT_EQ(Shown("expect_background -i $c"), "");

    from = Start("expect -i $c -timeout -1 never {set r no} eof {set r eof}");
    second.HangUp();
    EXPECT_EQ(Finish(from), "started\neof\n" + std::string(kConsolePrompt));
    EXPECT_EQ(Shown("close $c; expect -i $c x {}"), "can not find channel named \"" +
                                                       Shown("set c") + "\"");
}

// expect_background runs its body when the pattern arrives while the
// interpreter is idle or waits (vwait, after), never in the middle of an
// evaluation; without arguments it stops, and the bytes stay for expect;
// Ctrl+Break stops a body that runs away.
TEST_F(TclExpect, BackgroundTriggersRunOnlyWhenIdleOrWaiting)
{
    Connect();
    EXPECT_EQ(Shown("set ::seen {}; expect_background -re {PING(\\d)} {lappend ::seen $expect_out(1,string); "
                    "puts fired$expect_out(1,string)}"),
              "");
    std::size_t from = Start("set t [clock milliseconds]; while {[clock milliseconds] - $t < 300} {}; "
                             "puts during:$::seen");
    Inject("PING1 ");
    EXPECT_TRUE(m_tcl.owner.console.WaitForText("fired1\n", kIdleTimeoutMs, from));
    EXPECT_EQ(m_tcl.owner.console.Text(from).find("during:\n"), 8u) << m_tcl.owner.console.Text(from);

    from = Start("vwait ::seen; puts vwait:$::seen");
    Inject("PING2 ");
    EXPECT_EQ(Finish(from), "started\nfired2\nvwait:1 2\n" + std::string(kConsolePrompt));

    from = Start("after 2000; puts after:$::seen");
    Inject("PING3 ");
    EXPECT_EQ(Finish(from), "started\nfired3\nafter:1 2 3\n" + std::string(kConsolePrompt));

    EXPECT_EQ(Shown("expect_background"), "");
    Inject("PING4 ");
    EXPECT_EQ(Shown("expect -timeout 1 PING4 {set ::seen}"), "1 2 3");

    // A trigger that never ends is stopped by Ctrl+Break like an evaluation.
    EXPECT_EQ(Shown("expect_background SPIN {puts spinning; while 1 {}}"), "");
    from = m_tcl.owner.console.Size();
    Inject("SPIN");
    ASSERT_TRUE(m_tcl.owner.console.WaitForText("spinning\n", kIdleTimeoutMs, from));
    m_tcl.host.CancelEvaluation();
    // Reported as Tcl reports an event handler's error, then the host goes on.
    EXPECT_TRUE(m_tcl.owner.console.WaitForText("eval unwound\n", kIdleTimeoutMs, from));
    EXPECT_TRUE(m_tcl.owner.console.WaitForText("(body of an expect_background pattern)\n", kIdleTimeoutMs, from));
    EXPECT_EQ(Shown("expect_background; set ::seen"), "1 2 3");
}

// Bad arguments are refused with a message naming the problem, and
// nothing reaches the line.
TEST_F(TclExpect, BadArgumentsAreRefusedAndSendNothing)
{
    Connect();
    const std::string usage = "Error : wrong # args: should be \"expect ?-i chan? ?-timeout seconds? ?-nocase? "
                              "?-gl|-re|-ex? pattern body ...\"";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"expect", usage},
        {"expect -timeout 1", usage},
        {"expect -foo x {}", "Error : unknown option \"-foo\": should be -i, -timeout, -nocase, -gl, -re, -ex or --"},
        {"expect -re {(} {send no}",
         "couldn't compile regular expression pattern: parentheses () not balanced"},
        {"expect -timeout -2 x {send no}", "Error : timeout must be -1 (wait for ever) or seconds from 0 up, not -2"},
        {"expect -timeout abc x {send no}", "expected floating-point number but got \"abc\""},
        {"set timeout soon; expect x {send no}",
         "expected floating-point number but got \"soon\" (in the variable timeout)"},
        {"unset timeout; expect a {send no} b", "Error : pattern \"b\" has no body"},
        {"expect x {send no} -nocase", "Error : an option is not followed by a pattern"},
        {"expect x {} -i foo y {}", "Error : -i must come before the patterns of expect"},
        {"expect -i nosuch x {send no}", "can not find channel named \"nosuch\""},
        {"expect \u20ac {send no}", "Error : pattern \"\u20ac\" has a character above 255 (U+20AC); expect "
                                     "matches bytes: use [encoding convertto utf-8 ...]"},
        {"send", "Error : wrong # args: should be \"send ?-i chan? ?-raw? ?--? string\""},
        {"send a b", "Error : wrong # args: should be \"send ?-i chan? ?-raw? ?--? string\""},
        {"send -x y", "Error : unknown option \"-x\": should be -i chan, -raw or --"},
        {"match_max 0", "Error : match_max must be at least 1 byte"},
        {"match_max -5", "Error : match_max must be at least 1 byte"},
        {"match_max lots", "expected integer but got \"lots\""},
        {"match_max 1 2", "Error : wrong # args: should be \"match_max ?-i chan? ?bytes?\""},
        {"expect_flush now", "Error : wrong # args: should be \"expect_flush ?-i chan?\""},
        {"exp_continue now", "Error : wrong # args: should be \"exp_continue ?-continue_timer?\""},
        {"expect_background timeout {send no}",
         "Error : expect_background pattern \"timeout\" needs a body (timeout and default do not apply)"},
    };
    for (const auto& [line, error] : cases)
        EXPECT_EQ(Run(line), (std::vector<SConsoleEntry>{{error + "\n", kConsoleError}, kPrompt})) << line;
    EXPECT_EQ(Shown("match_max"), "1048576");
    EXPECT_EQ(Shown("send |"), "");
    ASSERT_TRUE(m_device.WaitForReceived(1, kIdleTimeoutMs));
    EXPECT_EQ(m_device.Received(), "|");

    m_tcl.owner.openPort = 0;
    EXPECT_EQ(Shown("expect x {}"), "Error : No Port Open to expect data from");
    EXPECT_EQ(Shown("send x"), "Error : No Port Open to send data out");
}

// Glob as expect finds it: earliest start, a * inside takes as little as it
// can and one at the end takes the rest; ^ and $ anchor at the ends of the
// buffer; classes, escapes and nocase; a
// pattern that cannot match a long text gives up in one pass.
TEST(GlobFind, FindsAsExpectDoes)
{
    struct SCase {
        const char* text;
        const char* pattern;
        bool nocase;
        long start, end; // -1: not found
    };
    const SCase cases[] = {
        {"xx abc abc", "a*c", false, 3, 6},      {"xx abc abc", "b*", false, 4, 10},
        {"login: ", "*:", false, 0, 6},          {"Value=42;", "=[0-9][0-9]", false, 5, 8},
        {"a*b", "\\*", false, 1, 2},             {"OK", "ok", true, 0, 2},
        {"OK", "ok", false, -1, -1},             {"abc", "[bx]?", false, 1, 3},
        {"abc", "[b", false, 1, 2},              {"", "*", false, 0, 0},
        // Classes and escapes as Tcl's string match reads them (found by fuzzing).
        {"a]", "[]a]", false, -1, -1},           {"x]", "[a-]]", false, 1, 2},
        {"\\]", "[\\]]", false, 0, 2},          {"a\\", "a\\", false, -1, -1},
        // "-]" ends a range, so where the class ends depends on the character.
        {".\\", "[Y-.Y-]*5", false, 1, 2},      {"b\\a]]", "*[b[-]?*[", false, 0, 2},
        {"hiccup sushi", "^hi", false, 0, 2},    {"sushi hiccup", "^hi", false, -1, -1},
        {"hiccup sushi", "hi$", false, 10, 12},  {"hi", "^hi$", false, 0, 2},
        {"cost 5$", "5\\$", false, 5, 7},
    };
    for (const SCase& c : cases) {
        SFoundSpan span;
        const bool found = FindGlob(c.text, c.pattern, c.nocase, span);
        EXPECT_EQ(found, c.start >= 0) << c.text << " / " << c.pattern;
        if (found && c.start >= 0) {
            EXPECT_EQ(static_cast<long>(span.start), c.start) << c.text << " / " << c.pattern;
            EXPECT_EQ(static_cast<long>(span.end), c.end) << c.text << " / " << c.pattern;
        }
    }
    const std::string megabyte(1 << 20, 'a');
    SFoundSpan span;
    const auto start = Clock::now();
    EXPECT_FALSE(FindGlob(megabyte, "a*b*c", false, span));
    EXPECT_LT(MsSince(start), 5000); // quadratic would take hours
}

} // namespace
