#include <gtest/gtest.h>


#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TclTestSupport.h"
#include "TempDir.h"

using namespace std::chrono;

namespace {

const SConsoleEntry kPrompt{kConsolePrompt, kConsoleNotice};

std::string CurrentDirectory()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

struct SPromptCase {
    const char* input;
    std::vector<SConsoleEntry> expected;
};

} // namespace

// What one line at the prompt shows, merged by colour.
TEST(TclHost, LinesAtThePromptShowOutputResultAndPrompt)
{
    const std::vector<SPromptCase> cases = {
        {" puts hello\n", {{"hello\n", kConsoleOutput}, kPrompt}},
        {" puts -nonewline abc\n", {{"abc", kConsoleOutput}, kPrompt}}, // the prompt follows on the same line
        {" puts stdout x\n", {{"x\n", kConsoleOutput}, kPrompt}},
        {" puts stdconsole1 y\n", {{"y\n", kConsoleOutput}, kPrompt}},
        // Standard error is the console too, in red, in order with the output.
        {" puts a; puts stderr b; puts c\n",
         {{"a\n", kConsoleOutput}, {"b\n", kConsoleError}, {"c\n", kConsoleOutput}, kPrompt}},
        {" puts stdconsole2 e\n", {{"e\n", kConsoleError}, kPrompt}},
        {" fconfigure stdout -anything x\n", {kPrompt}},
        {" ls\n", {{"invalid command name \"ls\"\n", kConsoleError}, kPrompt}},
        {" set a 5\n", {{"5\n", kConsoleOutput}, kPrompt}},
        {" expr {1/0}\n", {{"divide by zero\n", kConsoleError}, kPrompt}},
        {" \n", {kPrompt}}, // Enter on an empty prompt
        {" set v [GetVorlaVersion]\n", {{"1.0\n", kConsoleOutput}, kPrompt}},
        {" info commands unknown\n", {kPrompt}}, // no script library, no unknown handler
        {" puts \"\\u00e9\"\n", {{"\xc3\xa9\n", kConsoleOutput}, kPrompt}}, // UTF-8 on the channel
        {" puts -nonewline \"a\\x00b\"\n", {{"a", kConsoleOutput}, kPrompt}}, // copy stops at a zero byte
        {" set x 1\nset y 2\n", {{"2\n", kConsoleOutput}, kPrompt}},      // one text, one evaluation
        {" set d [pwd]\n", {{CurrentDirectory() + "\n", kConsoleOutput}, kPrompt}}, // printed, not returned
        {" string length $d\n", {{"0\n", kConsoleOutput}, kPrompt}},
    };
    CTclHostHarness h;
    for (const SPromptCase& c : cases)
        EXPECT_EQ(h.Run(c.input), c.expected) << "input: " << c.input;
}

TEST(TclHost, ConsoleChannelsReportOnlyGenericOptions)
{
    CTclHostHarness h;
    for (const std::string channel : {"stdout", "stderr"}) {
        auto shown = h.Run("fconfigure " + channel + "\n");
        ASSERT_EQ(shown.size(), 2u) << channel;
        const std::string& options = shown[0].text;
        EXPECT_EQ(shown[0].kind, kConsoleOutput);
        for (const char* expected : {"-blocking 0", "-buffering none", "-encoding utf-8", "-translation lf"})
            EXPECT_NE(options.find(expected), std::string::npos) << expected << " in " << options;
        EXPECT_EQ(h.Run("fconfigure " + channel + " -anything x; fconfigure " + channel + "\n")[0].text, options);
    }
}

TEST(TclHost, UnfinishedCommandIsGatheredWithoutPrompt)
{
    CTclHostHarness h;
    EXPECT_TRUE(h.Run(" proc p {} {\n").empty());
    EXPECT_TRUE(h.Run(" puts in-p\n").empty());
    EXPECT_EQ(h.Run(" }\n"), (std::vector<SConsoleEntry>{kPrompt}));
    EXPECT_EQ(h.Run(" p\n"), (std::vector<SConsoleEntry>{{"in-p\n", kConsoleOutput}, kPrompt}));
}

TEST(TclHost, LongCommandsEvaluateWhole)
{
    CTclHostHarness h;
    const std::string word(5000, 'w');
    EXPECT_EQ(h.Run("set long " + word + "\n"), (std::vector<SConsoleEntry>{{word + "\n", kConsoleOutput}, kPrompt}));

    // Gathered over several submissions, each longer than the old 999 bytes.
    const std::string part(3000, 'p');
    EXPECT_TRUE(h.Run("set parts {" + part + "\n").empty());
    EXPECT_TRUE(h.Run(part + "\n").empty());
    EXPECT_EQ(h.Run(part + "}; string length $parts\n"),
              (std::vector<SConsoleEntry>{{std::to_string(3 * 3000 + 2) + "\n", kConsoleOutput}, kPrompt}));
}

// Text submitted while an evaluation runs is evaluated afterwards, in order,
// each exactly once; output of the running one appears while it runs.
TEST(TclHost, SubmissionsDuringAnEvaluationAreQueuedInOrder)
{
    CTclHostHarness h;
    h.Submit(" puts before; exit; puts after\n");
    ASSERT_TRUE(h.owner.prompt.WaitForQuestions(1)); // the evaluation is now waiting in exit
    EXPECT_EQ(h.owner.console.Text(), "before\n");

    h.Submit(" puts one\n");
    h.Submit(" proc two {} {\n");
    h.Submit(" puts two }\n");
    h.Submit(" two; puts three\n");
    EXPECT_FALSE(h.host.WaitIdle(50)); // still held by the question
    EXPECT_EQ(h.owner.console.Text(), "before\n");

    h.owner.prompt.Answer(false);
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(h.owner.console.Text(), std::string("before\nafter\n") + kConsolePrompt + "one\n" + kConsolePrompt +
                                          kConsolePrompt + "two\nthree\n" + kConsolePrompt);
    EXPECT_EQ(h.owner.prompt.QuitRequests(), 0);
}

TEST(TclHost, SubmissionsFromSeveralThreadsAreEachEvaluatedOnce)
{
    CTclHostHarness h;
    h.Run("set seen {}\n");
    h.host.AttachConsole();
    constexpr int kPerThread = 200;
    std::vector<std::thread> submitters;
    for (int t = 0; t < 2; ++t)
        submitters.emplace_back([&h, t] {
            for (int i = 0; i < kPerThread; ++i)
                h.host.SubmitCommandText("lappend seen " + std::to_string(t) + "." + std::to_string(i) + "\n");
        });
    for (std::thread& s : submitters)
        s.join();
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    // Each thread's items arrive once and in its own order.
    auto shown = h.Run("set r {}; foreach t {0 1} { set n 0; foreach x $seen { if {[string match $t.* $x]} {"
                       " if {$x ne \"$t.$n\"} { error \"$x out of order\" }; incr n } }; lappend r $n }; "
                       "set r\n");
    EXPECT_EQ(shown.front(), (SConsoleEntry{"200 200\n", kConsoleOutput}));
}

// Each host's interpreter writes to its own console, although Tcl's standard
// channels are kept per thread.
TEST(TclHost, TwoHostsKeepTheirOutputApart)
{
    CTclHostHarness a;
    CTclHostHarness b;
    a.Submit("puts from-a\n");
    b.Submit("puts from-b\n");
    ASSERT_TRUE(a.host.WaitIdle(kIdleTimeoutMs));
    ASSERT_TRUE(b.host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(a.owner.console.Text(), std::string("from-a\n") + kConsolePrompt);
    EXPECT_EQ(b.owner.console.Text(), std::string("from-b\n") + kConsolePrompt);
}

struct SRunawayCase {
    const char* name;
    const char* script; // prints "started" once it runs
};

const SRunawayCase kRunaways[] = {
    {"busy loop", "puts started; while 1 {}"},
    {"long after", "puts started; after 60000"},
    {"printing loop", "while 1 {puts started}"},
    {"loop that catches", "puts started; while 1 {catch {after 50}}"},
    {"vwait", "puts started; after 100000 {set done 1}; vwait done"},
};

TEST(TclHost, CancelStopsRunawayEvaluationsAndKeepsTheInterpreter)
{
    CTclHostHarness h;
    for (const SRunawayCase& c : kRunaways) {
        SCOPED_TRACE(c.name);
        size_t from = h.owner.console.Size();
        h.Submit(std::string(c.script) + "\n");
        ASSERT_TRUE(h.owner.console.WaitForText("started", kIdleTimeoutMs, from));
        EXPECT_FALSE(h.host.WaitIdle(100)); // it runs away, and the cancel comes mid-wait
        auto start = steady_clock::now();
        h.host.CancelEvaluation();
        ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
        EXPECT_LT(steady_clock::now() - start, seconds(2));
        auto shown = Merged(h.owner.console.Entries(from));
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[shown.size() - 2], (SConsoleEntry{"eval unwound\n", kConsoleError}));
        EXPECT_EQ(shown.back(), kPrompt);
        EXPECT_EQ(h.Run("set a 5\n"), (std::vector<SConsoleEntry>{{"5\n", kConsoleOutput}, kPrompt}));
    }
}

TEST(TclHost, CancelWithNothingRunningDoesNotReachTheNextEvaluation)
{
    CTclHostHarness h;
    h.host.CancelEvaluation();
    EXPECT_EQ(h.Run("set a 5\n"), (std::vector<SConsoleEntry>{{"5\n", kConsoleOutput}, kPrompt}));
}

TEST(TclHost, CancelEndsTheWaitForAnAnswer)
{
    CTclHostHarness h;
    h.Submit("exit\n");
    ASSERT_TRUE(h.owner.prompt.WaitForQuestions(1));
    ASSERT_NE(h.owner.prompt.Abandons().at(0), nullptr);
    h.host.CancelEvaluation();
    ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(Merged(h.owner.console.Entries()),
              (std::vector<SConsoleEntry>{{"eval unwound\n", kConsoleError}, kPrompt}));
    EXPECT_EQ(h.owner.prompt.QuitRequests(), 0);
}

TEST(TclHost, ShutdownDuringRunawayEvaluationsEndsWithinTwoSeconds)
{
    for (const SRunawayCase& c : kRunaways) {
        SCOPED_TRACE(c.name);
        CTclHostHarness h;
        h.Submit(std::string(c.script) + "\n");
        h.Submit("puts queued\n");
        ASSERT_TRUE(h.owner.console.WaitForText("started"));
        EXPECT_FALSE(h.host.WaitIdle(100));
        auto start = steady_clock::now();
        EXPECT_TRUE(h.host.Shutdown(CTclHost::kShutdownTimeoutMs)); // ended and joined
        EXPECT_LT(steady_clock::now() - start, seconds(2));
        EXPECT_EQ(h.owner.console.Text().find("queued"), std::string::npos); // dropped, not run
        EXPECT_EQ(h.owner.console.Text().find(kConsolePrompt), std::string::npos);
    }
}

TEST(TclHost, DeleteInterpreterIsIdempotentAndLaterTextIsIgnored)
{
    CTclHostHarness h;
    EXPECT_EQ(h.Run("set a 1\n").size(), 2u);
    h.host.DeleteInterpreter();
    h.host.DeleteInterpreter();
    h.Submit("puts late\n");
    h.host.CancelEvaluation();
    EXPECT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
    EXPECT_EQ(h.owner.console.Text(), std::string("1\n") + kConsolePrompt);
}

// A console whose UI thread never answers must not hold the shut-down: the
// host gives up on its thread after the timeout.
TEST(TclHost, ShutdownDoesNotWaitForeverOnABlockedConsole)
{
    // Leaked on purpose: the abandoned Tcl thread may still be returning from
    // the console when this test ends.
    static auto* owner = new CTestOwner;
    auto* host = new CTclHost;
    host->SetMainWindow(owner);
    host->AttachConsole();
    owner->console.BlockPrints();
    host->SubmitCommandText("puts blocked\n");
    EXPECT_FALSE(host->WaitIdle(100));
    auto start = steady_clock::now();
    EXPECT_FALSE(host->Shutdown(300));
    EXPECT_LT(steady_clock::now() - start, seconds(2));
    delete host;
    owner->console.ReleasePrints();
}

// The Tcl thread's stack must hold Tcl's own nesting limit, also for
// recursion that goes through C (sorting, substitution).
TEST(TclHost, DeepRecursionIsAnErrorNotACrash)
{
    const char* const scripts[] = {
        "proc r {} {r}; r\n",
        "proc s {a b} {lsort -command s {1 2}}; s 1 2\n",
        "proc t {} {subst {[t]}}; t\n",
        "proc u {} {uplevel 1 u}; u\n",
        "proc v {} {eval [list v]}; v\n",
    };
    CTclHostHarness h;
    for (const char* script : scripts) {
        auto shown = h.Run(script);
        ASSERT_EQ(shown.size(), 2u) << script;
        EXPECT_EQ(shown[0], (SConsoleEntry{"too many nested evaluations (infinite loop?)\n", kConsoleError})) << script;
    }
    EXPECT_EQ(h.Run("set a 5\n").front().text, "5\n");
}

// A script that fails under Run Script names its file and line (and the
// line inside a procedure it called); the same error typed at the prompt
// shows the message only, as Tcl's own consoles do.
TEST(TclHost, RunScriptErrorsNameTheFileAndLine)
{
    CTempDir dir("vorla-script");
    const std::string path = dir.Path() + "/script.tcl";
    const std::string file = std::string("    (file \"") + path + "\" line ";
    const std::string noSuch = "invalid command name \"nosuch\"\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"set a 1\nset b 2\nnosuch 3\nset c 4\n", noSuch + file + "3)\n"},
        {"proc p {} {\n  set x 1\n  nosuch\n}\n\np\n", noSuch + "    (procedure \"p\" line 3)\n" + file + "6)\n"},
        {"set a 1\n", ""},
    };
    CTclHostHarness h;
    for (const auto& c : cases) {
        std::ofstream(path) << c.first;
        const size_t from = h.owner.console.Size();
        h.host.RunScriptFile(path);
        ASSERT_TRUE(h.host.WaitIdle(kIdleTimeoutMs));
        std::vector<SConsoleEntry> expected = {{"\n", kConsoleOutput}, {c.second, kConsoleError}, kPrompt};
        if (c.second.empty())
            expected = {{"\n1\n", kConsoleOutput}, kPrompt};
        EXPECT_EQ(Merged(h.owner.console.Entries(from)), expected) << c.first;
    }
    std::ofstream(path) << cases[0].first;
    EXPECT_EQ(h.Run(MakeSourceCommand(path) + "\n"), (std::vector<SConsoleEntry>{{noSuch, kConsoleError}, kPrompt}));
}
