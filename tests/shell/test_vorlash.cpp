// vorlash run as a user runs it: a subprocess with pipes on its standard
// streams, a simulated modem on a pseudo-terminal as its COM1.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devsim/DevSim.h"

namespace {

using Clock = std::chrono::steady_clock;

// A running vorlash: its standard input to write, its output collected.
class CShellProcess {
public:
    explicit CShellProcess(const std::vector<std::string>& args)
    {
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv;
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
    }
    ~CShellProcess()
    {
        if (m_pid > 0 && m_status < 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_in, m_out, m_err})
            if (fd >= 0)
                close(fd);
    }

    void Write(const std::string& text) { ASSERT_EQ(write(m_in, text.data(), text.size()), ssize_t(text.size())); }
    void CloseInput()
    {
        close(m_in);
        m_in = -1;
    }
    void Signal(int signal) { kill(m_pid, signal); }

    // Reads output until `text` has appeared on standard output, at most timeoutMs.
    bool WaitForOutput(const std::string& text, int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_stdout.find(text) == std::string::npos)
            if (!Pump(deadline))
                return false;
        return true;
    }
    // Reads both streams to their end, then reaps the process; -1 when it
    // did not end within timeoutMs (it is then killed).
    int Wait(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_out >= 0 || m_err >= 0)
            if (!Pump(deadline))
                return -1;
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }

    std::string m_stdout, m_stderr;

private:
    // One poll for output; false at the deadline or when both streams ended.
    bool Pump(Clock::time_point deadline)
    {
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (ms <= 0 || (m_out < 0 && m_err < 0))
            return false;
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (poll(fds, 2, ms) <= 0)
            return false;
        ReadFrom(fds[0], m_out, m_stdout);
        ReadFrom(fds[1], m_err, m_stderr);
        return true;
    }
    static void ReadFrom(const pollfd& p, int& fd, std::string& into)
    {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, size_t(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
    int m_status = -1;
};

// A file that lives as long as the test.
class CTempFile {
public:
    CTempFile(const std::string& name, const std::string& text)
        : m_path(::testing::TempDir() + "vorlash_" + std::to_string(getpid()) + "_" + name)
    {
        std::ofstream(m_path) << text;
    }
    ~CTempFile() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// The output of a shell command line, for the tools the tests lean on.
std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

constexpr int kRunTimeoutMs = 20000;

class VorlashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Modem;
        options.answerDelayMs = 30; // like the demo modem: after SendOutR's echo window
        std::string error;
        ASSERT_TRUE(m_modem.Start(options, error)) << error;
    }
    // vorlash with COM1 on the modem, then `args`.
    std::vector<std::string> Args(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {VORLASH_PATH, "--port", "COM1=" + m_modem.Path()});
        return args;
    }
    CDevSim m_modem;
};

// A script opens the port, talks to the modem, changes and reads the line
// settings (with the dialog's refusal texts), sees tclsh's argv, and leaves
// with its own status.
TEST_F(VorlashTest, ScriptTalksToTheModemAndExitsWithItsStatus)
{
    CTempFile script("modem.tcl", R"(
        puts "args: $argc [lindex $argv 1] [file tail $argv0]"
        puts "opened: [Connect COM1]"
        LogStart [lindex $argv 0] -sent
        puts "again: [catch {Connect COM1} m] $m"
        puts "answer: [regexp {\nOK\r\n$} [SendOutR "AT\r"]]"
        puts "settings: [PortSettings -baud 1200 -flow xonxoff]"
        puts "refused: [catch {PortSettings -baud 0} m] $m"
        puts "parity: [catch {PortSettings -parity even} m] $m"
        DisConnect
        puts "closed: [catch {DisConnect} m] $m"
        exit 3
        puts "not reached"
    )");
    CTempFile log("modem.log", "");
    CShellProcess shell(Args({script.Path(), log.Path(), "two words"}));
    ASSERT_EQ(shell.Wait(kRunTimeoutMs), 3) << shell.m_stderr;
    // The session log, stopped by DisConnect: what went out and what came back.
    std::ifstream logged(log.Path());
    const std::string logText((std::istreambuf_iterator<char>(logged)), std::istreambuf_iterator<char>());
    // The modem's echo may cut the sent line into pieces: gather what the
    // log marks as sent (lines starting "TX: " or, after a cut, "TX~ ").
    std::string sent;
    std::istringstream lines(logText);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 4, "TX: ") == 0 || line.compare(0, 4, "TX~ ") == 0)
            sent += line.substr(4);
    EXPECT_NE(sent.find("AT"), std::string::npos) << logText;
    EXPECT_NE(logText.find("OK"), std::string::npos) << logText;
    const std::string& out = shell.m_stdout;
    EXPECT_NE(out.find("args: 2 two words vorlash_"), std::string::npos) << out;
    EXPECT_NE(out.find("opened: COM1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("again: 1 COM1 is already open\n"), std::string::npos) << out;
    EXPECT_NE(out.find("answer: 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("settings: 1200 8N1 XON/XOFF\n"), std::string::npos) << out;
    EXPECT_NE(out.find("refused: 1 Error : Baud Rate must be a whole number from 1 to 20000000.\n"), std::string::npos)
        << out;
    // A pseudo-terminal has no parity: the engine's refusal and its reason.
    EXPECT_NE(out.find("parity: 1 Unable to configure new configuration: the device does not support this parity"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("closed: 1 No opened port to disconnect\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("not reached"), std::string::npos);
    EXPECT_EQ(m_modem.Received(), "AT\r");
}

// Commands from a pipe: results printed as the console prints them, no
// prompt; the first error stops the run with status 1 and its trace.
TEST_F(VorlashTest, StandardInputRunsCommandsAndStopsAtTheFirstError)
{
    {
        CShellProcess shell(Args({"--connect", "COM1"}));
        shell.Write("SendOutR \"ATI\\r\"\nproc twice {x} {\n  return [expr {$x * 2}]\n}\ntwice 21\nhelp\n");
        shell.CloseInput();
        ASSERT_EQ(shell.Wait(kRunTimeoutMs), 0) << shell.m_stderr;
        EXPECT_NE(shell.m_stdout.find("DEVSIM MODEM"), std::string::npos) << shell.m_stdout; // its identity line
        EXPECT_NE(shell.m_stdout.find("\n42\n"), std::string::npos) << shell.m_stdout;
        EXPECT_EQ(shell.m_stdout.find("VORLA >"), std::string::npos);
        // help lists the window-less program's own commands too, before help and exit.
        const std::size_t own = shell.m_stdout.find("\nPortSettings\t"), help = shell.m_stdout.find("\nhelp\t");
        EXPECT_TRUE(own != std::string::npos && own < help) << shell.m_stdout;
    }
    {
        CShellProcess shell({VORLASH_PATH});
        shell.Write("puts before\nerror boom\nputs after\n");
        shell.CloseInput();
        ASSERT_EQ(shell.Wait(kRunTimeoutMs), 1);
        EXPECT_EQ(shell.m_stdout, "before\n");
        EXPECT_NE(shell.m_stderr.find("boom\n    while executing"), std::string::npos) << shell.m_stderr;
    }
}

TEST_F(VorlashTest, UncaughtErrorInAScriptGivesStatusOneWithItsTrace)
{
    CTempFile script("error.tcl", "proc check {} {\n  error \"no answer from the device\"\n}\nputs start\ncheck\n");
    CShellProcess shell({VORLASH_PATH, script.Path()});
    ASSERT_EQ(shell.Wait(kRunTimeoutMs), 1);
    EXPECT_EQ(shell.m_stdout, "start\n");
    EXPECT_EQ(shell.m_stderr.rfind("no answer from the device\n", 0), 0u) << shell.m_stderr;
    EXPECT_NE(shell.m_stderr.find("(procedure \"check\" line 2)"), std::string::npos) << shell.m_stderr;
}

// tcltest inside vorlash; --junit writes each test, the failure with what
// tcltest said about it, and the status tells that a test failed.
TEST_F(VorlashTest, JUnitReportCountsTestsAndCarriesFailures)
{
    CTempFile script("suite.tcl", R"(
        package require tcltest
        namespace import ::tcltest::*
        test add-1 {adds} {expr {1 + 1}} 2
        test modem-1 {answers AT} -setup {Connect COM1} -body {
            regexp {\nOK\r\n$} [SendOutR "AT\r"]
        } -cleanup {DisConnect} -result 1
        test wrong-1 {fails <on purpose> & says so} {expr {2 * 3}} 7
        test skip-1 {never runs} -constraints nonexistentConstraint -body {error no} -result {}
        cleanupTests
    )");
    CTempFile report("report.xml", "");
    CShellProcess shell(Args({"--junit", report.Path(), script.Path()}));
    EXPECT_EQ(shell.Wait(kRunTimeoutMs), 1) << shell.m_stderr;
    EXPECT_NE(shell.m_stdout.find("==== wrong-1"), std::string::npos) << "tcltest's report still shows";
    const std::string xpath = "xmllint --xpath '";
    const std::string file = "' " + report.Path() + " 2>&1";
    EXPECT_EQ(Capture(xpath + "count(//testcase)" + file), "4");
    EXPECT_EQ(Capture(xpath + "string(//testsuite/@tests)" + file), "4");
    EXPECT_EQ(Capture(xpath + "string(//testsuite/@failures)" + file), "1");
    EXPECT_EQ(Capture(xpath + "count(//testcase[@name=\"skip-1\"]/skipped)" + file), "1");
    EXPECT_EQ(Capture(xpath + "count(//testcase[@name=\"modem-1\"]/*)" + file), "0");
    const std::string message = Capture(xpath + "string(//testcase[@name=\"wrong-1\"]/failure/@message)" + file);
    EXPECT_NE(message.find("Result was:\n6\n"), std::string::npos) << message;
    EXPECT_NE(message.find("\n7"), std::string::npos) << message;
}

std::string SpeedOf(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t {};
    const bool ok = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0)
        close(fd);
    return ok ? std::to_string(cfgetospeed(&t)) : "unreadable";
}

// Ctrl+C and SIGTERM during a long SendOutR wait: the wait ends, the port is
// closed (its settings put back, as only a close does) and vorlash exits
// with 128 + the signal within a second.
TEST_F(VorlashTest, SignalDuringSendOutRClosesThePortAndExitsPromptly)
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer holds an asynchronous signal back until the thread the
    // kernel chose next enters one of its interceptors; a condition wait it
    // does not intercept keeps the signal for the whole 30 s read delay.
    GTEST_SKIP() << "signal timing is not meaningful under ThreadSanitizer";
#endif
    const std::string before = SpeedOf(m_modem.Path());
    CTempFile script("wait.tcl", "SetVorlaReadDelay 30000\nputs ready\nSendOutR \"AT\\r\"\nputs \"not interrupted\"\n");
    for (int signal : {SIGINT, SIGTERM}) {
        m_modem.ClearReceived();
        CShellProcess shell(Args({"--connect", "COM1", "--settings", "1200,8N1,none", script.Path()}));
        ASSERT_TRUE(shell.WaitForOutput("ready\n", kRunTimeoutMs)) << shell.m_stderr;
        ASSERT_TRUE(m_modem.WaitForReceived(3, kRunTimeoutMs)); // SendOutR is in its read delay
        ASSERT_NE(SpeedOf(m_modem.Path()), before) << "the settings took";
        const auto start = Clock::now();
        shell.Signal(signal);
        const int status = shell.Wait(5000);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(status, 128 + signal) << shell.m_stderr;
        EXPECT_LT(ms, 1000);
        EXPECT_EQ(shell.m_stdout.find("not interrupted"), std::string::npos);
        EXPECT_EQ(SpeedOf(m_modem.Path()), before) << "the port was closed, so its settings are back";
    }
}

// Idle at the prompt of standard input, a Ctrl+C ends vorlash at once too.
TEST_F(VorlashTest, SignalWhileWaitingForInputExits)
{
    CShellProcess shell(Args({"--connect", "COM1"}));
    shell.Write("puts ready\n");
    ASSERT_TRUE(shell.WaitForOutput("ready\n", kRunTimeoutMs)) << shell.m_stderr;
    shell.Signal(SIGINT);
    EXPECT_EQ(shell.Wait(1000), 130);
}

// Bad arguments: one clear line (and the usage for options), the documented
// status, and no port touched.
TEST_F(VorlashTest, BadArgumentsAreRefusedWithOneLine)
{
    struct SCase {
        std::vector<std::string> args;
        int status;
        std::string firstLine;
    } cases[] = {
        {{"--bogus"}, 2, "vorlash: unknown option --bogus"},
        {{"--connect", "COM9"}, 2, "vorlash: unknown port COM9 for --connect: should be COM1 to COM8"},
        {{"--port", "COM0=/dev/null"}, 2, "vorlash: "},
        {{"--connect", "COM1", "--settings", "9600,9N1"}, 2, "vorlash: --settings: bad frame \"9N1\""},
        {{"--settings", "9600"}, 2, "vorlash: --settings needs --connect"},
        {{"/nonexistent/dir/script.tcl"}, 2,
         "vorlash: cannot read script /nonexistent/dir/script.tcl: No such file or directory\n"},
        {{"--port", "COM2=/nonexistent/tty", "--connect", "COM2"}, 1, "vorlash: Unable to open port COM2: "},
    };
    for (const SCase& c : cases) {
        CShellProcess shell(Args(c.args));
        shell.CloseInput();
        EXPECT_EQ(shell.Wait(kRunTimeoutMs), c.status) << c.args[0];
        EXPECT_EQ(shell.m_stderr.rfind(c.firstLine, 0), 0u) << shell.m_stderr;
        EXPECT_EQ(shell.m_stdout, "");
    }
    EXPECT_EQ(m_modem.ReceivedCount(), 0u);
}

TEST(VorlashProgram, LinksNoQtLibrary)
{
    const std::string libraries = Capture(std::string("ldd ") + VORLASH_PATH);
    ASSERT_NE(libraries.find("libtcl8.6"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt"), std::string::npos) << libraries;
}

} // namespace
