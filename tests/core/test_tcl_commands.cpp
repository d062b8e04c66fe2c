#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <string>
#include <vector>

#include "TclTestSupport.h"
#include "TempDir.h"
#include "TestPlatform.h"
#include "console/TclCommands.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

namespace fs = std::filesystem;

namespace {

const SConsoleEntry kPrompt{kConsolePrompt, kConsoleNotice};

// Makes dir the process's current directory while it lives.
class CCurrentDir {
public:
    explicit CCurrentDir(const std::string& dir) : m_saved(fs::current_path()) { fs::current_path(dir); }
    ~CCurrentDir()
    {
        std::error_code ignored;
        fs::current_path(m_saved, ignored);
    }

private:
    fs::path m_saved;
};

// The name is UTF-8, as Tcl's are; u8path keeps it so where narrow names are not.
void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(fs::u8path(path), std::ios::binary) << content;
}

std::vector<std::string> ReadDirectoryInOrder(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

} // namespace

TEST(TclCommands, HelpPrintsOneLinePerCommand)
{
    const std::vector<std::string> lines = {
        "pwd\t\t\t\t(prints present working directory) \n",
        "dir\t\t\t\t(prints files/dir present in pwd)\n",
        "SendOut\t\t\t(Sends string out to serial port) \n",
        "SendOutR\t\t\t(Sends string out to serial port and reads data back) \n",
        "clear\t\t\t\t(clears VORLA window) \n",
        "cmdhist\t\t\t(Previous commands history) \n",
        "SetVorlaReadDelay\t\t(sets read delay in ms) \n",
        "GetVorlaReadDelay\t\t(gets read delay) \n",
        "ResetVorlaReadDelay\t(resets to original delay value) \n",
        "SetReadBufferSize\t\t(sets read buffer size) \n",
        "GetReadBufferSize\t\t(gets read buffer size) \n",
        "ResetReadBufferSize\t\t(resets to original buffer size) \n",
        "GetVorlaVersion\t\t(prints Vorla Version) \n",
        "SetDTR\t\t\t(sets DTR to 0 or 1: SetDTR ?-i chan? 0|1) \n",
        "SetRTS\t\t\t(sets RTS to 0 or 1: SetRTS ?-i chan? 0|1) \n",
        "PulseDTR\t\t(drops DTR for ms, then raises it: PulseDTR ?-i chan? ms) \n",
        "SendBreak\t\t(sends a break, 250 ms by default: SendBreak ?-i chan? ?ms?) \n",
        "GetModemLines\t\t(returns CTS DSR RI DCD DTR RTS as a dict: GetModemLines ?-i chan?) \n",
        "ListPorts\t\t(a dict per COM name: name path device present description source) \n",
        "WaitForPort\t\t(waits until the lost port is reopened: WaitForPort ?-timeout seconds?) \n",
        "expect\t\t\t(waits for a pattern, runs its body: expect ?-i chan? ?-timeout s? ?-nocase? ?-gl|-re|-ex? "
        "pattern body ... ?timeout|eof|default body?) \n",
        "exp_continue\t\t(in an expect body: waits again, the timeout restarted) \n",
        "send\t\t\t(sends a string as UTF-8, with -raw each character 0..255 as a byte: send ?-i chan? ?-raw? "
        "string) \n",
        "expect_flush\t\t(empties the match buffer: expect_flush ?-i chan?) \n",
        "match_max\t\t(match buffer size, 1 MB by default; expect_out(dropped) counts overflow: match_max ?-i "
        "chan? ?bytes?) \n",
        "expect_background\t(runs bodies as patterns arrive while idle; none removes: expect_background ?-i chan? "
        "?pattern body ...?) \n",
        "LogStart\t\t(logs the port to a file: LogStart path ?-timestamps? ?-sent? ?-raw? ?-append?) \n",
        "LogStop\t\t\t(stops the log and closes its file) \n",
        "LogStatus\t\t(the running log's path and bytes written, or empty) \n",
        "help\t\t\t\t(help command) \n",
        "exit\t\t\t\t(Exit VORLA Application)\n",
    };
    CTclHostHarness h;
    h.Submit("help\n");
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    std::vector<SConsoleEntry> expected;
    for (const std::string& line : lines)
        expected.push_back({line, kConsoleOutput});
    expected.push_back(kPrompt);
    EXPECT_EQ(h.owner.console.Entries(), expected);
}

TEST(TclCommands, DirListsTheCurrentDirectoryThenAnEmptyLine)
{
    CTempDir dir("vorla tcl");
    ASSERT_FALSE(dir.Path().empty());
    WriteFile(dir.Path() + "/a.txt", "a");
    WriteFile(dir.Path() + "/with blank", "b");
    fs::create_directory(dir.Path() + "/sub");
    CCurrentDir here(dir.Path());

    CTclHostHarness h;
    h.Submit("dir\n");
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    // "." and ".." first, the others in the file system's order.
    std::vector<SConsoleEntry> expected = {{".\n", kConsoleOutput}, {"..\n", kConsoleOutput}};
    for (const std::string& name : ReadDirectoryInOrder("."))
        if (name != "." && name != "..")
            expected.push_back({name + "\n", kConsoleOutput});
    ASSERT_EQ(expected.size(), 5u); // ".", "..", and the three entries
    expected.push_back({"\n", kConsoleNotice});
    expected.push_back(kPrompt);
    EXPECT_EQ(h.owner.console.Entries(), expected);
}

TEST(TclCommands, PwdAndDirInARemovedDirectoryPrintNothingButTheEmptyLine)
{
    VORLA_SKIP_UNLESS(ELimit::RemoveCurrentDirectory);
    CTclHostHarness h;
    {
        CTempDir dir("vorla tcl");
        ASSERT_FALSE(dir.Path().empty());
        CCurrentDir here(dir.Path());
        fs::remove(dir.Path());
        EXPECT_EQ(h.Run("pwd\n"), (std::vector<SConsoleEntry>{kPrompt}));
        EXPECT_EQ(h.Run("dir\n"), (std::vector<SConsoleEntry>{{"\n" + std::string(kConsolePrompt), kConsoleNotice}}));
    }
}

TEST(TclCommands, CmdhistPrintsOldestFirst)
{
    CTclHostHarness h;
    EXPECT_EQ(h.Run("cmdhist\n"), (std::vector<SConsoleEntry>{kPrompt}));
    h.owner.console.SetHistory({"newest", "middle", "oldest"});
    EXPECT_EQ(h.Run("cmdhist\n"),
              (std::vector<SConsoleEntry>{{"oldest\nmiddle\nnewest\n", kConsoleOutput}, kPrompt}));
}

TEST(TclCommands, ClearEmptiesThePaneBeforeTheFreshPrompt)
{
    CTclHostHarness h;
    EXPECT_EQ(h.Run("puts x; clear; puts y\n"),
              (std::vector<SConsoleEntry>{{"x\n", kConsoleOutput}, {"", kClearMark}, {"y\n", kConsoleOutput}, kPrompt}));
}

TEST(TclCommands, ExitAsksAndQuitsOnlyOnYes)
{
    struct SCase {
        const char* input;
        bool answer;
        int quits;
    };
    for (const SCase& c : {SCase{"exit\n", false, 0}, SCase{"exit 3\n", true, 1}}) {
        SCOPED_TRACE(c.input);
        CTclHostHarness h;
        h.owner.prompt.Answer(c.answer);
        EXPECT_EQ(h.Run(c.input), (std::vector<SConsoleEntry>{kPrompt}));
        EXPECT_EQ(h.owner.prompt.Questions(), std::vector<std::string>{"Are you sure want to exit?"});
        EXPECT_EQ(h.owner.prompt.QuitRequests(), c.quits);
    }
}

// Run Script sources exactly the chosen file, whatever its name holds, and
// nothing in the name is run as a command.
TEST(TclCommands, RunScriptSourcesExactlyTheChosenFile)
{
    std::vector<std::string> names = {
        "with blank.tcl",
        "back\\slash.tcl",
        "back\\n.tcl",
        "trailing\\",
        "dollar$tcl_version.tcl",
        "a[set pwned 1].tcl",
        "open{brace.tcl",
        "close}brace.tcl",
        "{both}.tcl",
        "quote\"d.tcl",
        "semi;set pwned 1;.tcl",
        "line\nfeed.tcl",
        "tab\there.tcl",
        "ctl\x01" "abc.tcl",
        "#hash.tcl",
        "~tilde.tcl",
        "uni\xc3\xa9.tcl",
    };
    // Where names cannot hold such bytes, the names that can still run.
    if (const std::string why = WhyNot(ELimit::AnyByteInFileNames); !why.empty()) {
        std::cout << "[ NOTE     ] names with '\\', '\"' or control bytes left out: " << why << "\n";
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string& n) { return n.find_first_of("\\\"\n\t\x01") != std::string::npos; }),
                    names.end());
    }
    CTempDir dir("vorla tcl");
    ASSERT_FALSE(dir.Path().empty());
    for (size_t i = 0; i < names.size(); ++i)
        WriteFile(dir.Path() + "/" + names[i], "set ::sourced " + std::to_string(i) + "\nreturn ok-" + std::to_string(i));

    CTclHostHarness h;
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        size_t from = h.owner.console.Size();
        h.host.RunScriptFile(dir.Path() + "/" + names[i]);
        ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
        EXPECT_EQ(h.owner.console.Entries(from),
                  (std::vector<SConsoleEntry>{{"\n", kConsoleOutput}, {"ok-" + std::to_string(i) + "\n", kConsoleOutput},
                                              kPrompt}));
    }
    EXPECT_EQ(h.Run("info exists pwned\n").front().text, "0\n");

    // A relative name starting with ~ is a file here, not a home directory.
    CCurrentDir here(dir.Path());
    h.owner.prompt.Answer(false);
    const auto tilde = std::find(names.begin(), names.end(), "~tilde.tcl") - names.begin();
    EXPECT_EQ(h.Run(MakeSourceCommand("~tilde.tcl") + "\n").front().text, "ok-" + std::to_string(tilde) + "\n");
}

TEST(TclCommands, RunScriptReadsUtf8AndReportsUnreadableFilesInRed)
{
    CTempDir dir("vorla tcl");
    ASSERT_FALSE(dir.Path().empty());
    WriteFile(dir.Path() + "/utf.tcl", "puts \"\xc3\xa9t\xc3\xa9\"\n");
    CTclHostHarness h;
    h.host.RunScriptFile(dir.Path() + "/utf.tcl");
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(Merged(h.owner.console.Entries()),
              (std::vector<SConsoleEntry>{{"\n\xc3\xa9t\xc3\xa9\n", kConsoleOutput}, kPrompt}));

    size_t from = h.owner.console.Size();
    h.host.RunScriptFile(dir.Path() + "/missing.tcl");
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    auto shown = Merged(h.owner.console.Entries(from));
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].kind, kConsoleError);
    EXPECT_EQ(shown[1].text.rfind("couldn't read file", 0), 0u) << shown[1].text;
}

// A number argument is a Tcl integer from 0 to INT_MAX, or the command fails
// and the setting stays: no prefix is read, nothing wraps or is clamped.
TEST(TclCommands, NumberArgumentsAreTclIntegersInRange)
{
    const std::string notInteger = "expected integer but got ";
    const std::string tooLarge = "Error : delay must be from 0 to 2147483647 ms, not ";
    const std::string negative = "Error : delay must not be negative";
    const std::vector<std::pair<const char*, std::string>> cases = { // "" for accepted
        {"10", ""},
        {"+7", ""},
        {" 12 ", ""},          // Tcl allows blanks around an integer
        {"0x10", ""},          // and its other integer forms
        {"2147483647", ""},
        {"abc", notInteger + "\"abc\""},
        {"12abc", notInteger + "\"12abc\""},
        {"1e30", notInteger + "\"1e30\""},
        {"1.5", notInteger + "\"1.5\""},
        {"", notInteger + "\"\""},
        {"\t12 3", notInteger + "\"\t12 3\""},
        {"- 4", notInteger + "\"- 4\""},
        {"2147483648", tooLarge + "2147483648"},
        {"3000000000", tooLarge + "3000000000"}, // would wrap to a negative int
        {"99999999999", tooLarge + "99999999999"},
        {"99999999999999999999999", "integer value too large to represent"},
        {"-1", negative},
        {"-99999999999", negative},
    };
    CRecordingPrompt enginePrompt;
    const CPortMap ports;
    CSerialPort port(enginePrompt, ports);
    CTclHostHarness h; // declared last: its Tcl thread ends before the engine goes
    h.owner.port = &port;
    for (const auto& [text, error] : cases) {
        port.SetInternalReadDelay(77);
        auto shown = h.Run(std::string("SetVorlaInternalReadDelay {") + text + "}\n");
        if (error.empty()) {
            EXPECT_EQ(shown, (std::vector<SConsoleEntry>{kPrompt})) << text;
            EXPECT_EQ(port.InternalReadDelay(), std::stoll(text, nullptr, 0)) << text;
        } else {
            EXPECT_EQ(shown, (std::vector<SConsoleEntry>{{error + "\n", kConsoleError}, kPrompt})) << text;
            EXPECT_EQ(port.InternalReadDelay(), 77) << text; // unchanged
        }
    }
    EXPECT_EQ(h.Run("catch {SetVorlaInternalReadDelay x} e; set e\n"),
              (std::vector<SConsoleEntry>{{notInteger + "\"x\"\n", kConsoleOutput}, kPrompt}));
}
