// Console output rate of the Tcl host: 100,000 lines of puts evaluated on the
// Tcl thread and printed into a console, beside the same loop in tclsh
// writing to a file.
//
//   bench_tcl_console [tclsh-program]

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "console/IConsole.h"
#include "console/TclHost.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLines = 100000;
const std::string kLoop = "for {set i 0} {$i<100000} {incr i} {puts \"line $i\"}";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Counts what it is given, like a pane that costs nothing.
class CCountingConsole : public IConsole {
public:
    void PrintToConsole(const std::string& text, int kind) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls;
        m_bytes += text.size();
        for (char c : text)
            m_lines += c == '\n';
    }
    void ClearAll() override {}
    int HistoryCount() const override { return 0; }
    std::string HistoryAt(int) const override { return {}; }

    std::mutex m_mutex; // guards the counters
    long m_calls = 0;
    long m_bytes = 0;
    long m_lines = 0;
};

// Hands every print to a thread of its own and waits until it is done, as a
// pane on a UI thread does; shows the cost of one synchronous hand-off.
class CHandoffConsole : public CCountingConsole {
public:
    CHandoffConsole() : m_worker([this] { Serve(); }) {}
    ~CHandoffConsole()
    {
        {
            std::lock_guard<std::mutex> lock(m_handoff);
            m_stop = true;
        }
        m_cv.notify_all();
        m_worker.join();
    }
    void PrintToConsole(const std::string& text, int kind) override
    {
        std::unique_lock<std::mutex> lock(m_handoff);
        m_pending = &text;
        m_pendingKind = kind;
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return m_pending == nullptr; });
    }

private:
    void Serve()
    {
        std::unique_lock<std::mutex> lock(m_handoff);
        for (;;) {
            m_cv.wait(lock, [this] { return m_stop || m_pending; });
            if (m_stop)
                return;
            CCountingConsole::PrintToConsole(*m_pending, m_pendingKind);
            m_pending = nullptr;
            m_cv.notify_all();
        }
    }
    std::mutex m_handoff;          // guards the request below
    std::condition_variable m_cv;  // a request, or its completion
    const std::string* m_pending = nullptr;
    int m_pendingKind = 0;
    bool m_stop = false;
    std::thread m_worker;          // the stand-in UI thread
};

class COwner : public ITclHostOwner {
public:
    explicit COwner(IConsole* console) : m_console(console) {}
    IConsole* ConsolePane() override { return m_console; }
    int OpenPort() const override { return 0; }
    CSerialPort& SerialPort() override { std::abort(); }
    IUserPrompt& Prompt() override { std::abort(); }

private:
    IConsole* m_console;
};

void RunHost(const char* label, CCountingConsole& console)
{
    COwner owner(&console);
    CTclHost host;
    host.SetMainWindow(&owner);
    host.AttachConsole();
    Clock::time_point start = Clock::now();
    host.SubmitCommandText(kLoop + "\n");
    if (!host.WaitIdle(600000)) {
        std::printf("%s: did not finish\n", label);
        return;
    }
    double s = Seconds(Clock::now() - start);
    std::lock_guard<std::mutex> lock(console.m_mutex);
    std::printf("%-34s %8.3f s  %9.0f lines/s  %ld prints, %ld lines, %ld bytes\n", label, s, kLines / s,
                console.m_calls, console.m_lines, console.m_bytes);
}

// Runs tclsh on script with standard output into outPath; seconds, or -1.
double RunTclsh(const std::string& tclsh, const std::string& script, const std::string& outPath)
{
    std::fflush(stdout); // the child must not repeat what is still buffered
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout))
            _exit(127);
        execlp(tclsh.c_str(), tclsh.c_str(), script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return Seconds(Clock::now() - start);
}

long CountLines(const std::string& path)
{
    std::ifstream in(path);
    long lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    std::printf("Evaluating: %s\n", kLoop.c_str());
    {
        CCountingConsole counting;
        RunHost("host -> counting console", counting);
    }
    {
        CHandoffConsole handoff;
        RunHost("host -> hand-off console", handoff);
    }

    std::string tclsh = argc > 1 ? argv[1] : "tclsh8.6";
    char dir[] = "/tmp/bench_tcl_XXXXXX";
    if (!mkdtemp(dir)) {
        std::printf("tclsh: no temporary directory\n");
        return 1;
    }
    std::string base = dir;
    std::ofstream(base + "/loop.tcl") << kLoop << "\n";
    std::ofstream(base + "/empty.tcl") << "\n";
    double startup = RunTclsh(tclsh, base + "/empty.tcl", base + "/empty.out");
    double loop = RunTclsh(tclsh, base + "/loop.tcl", base + "/loop.out");
    if (loop < 0) {
        std::printf("%s could not be run\n", tclsh.c_str());
    } else {
        std::printf("%-34s %8.3f s  %9.0f lines/s  (%ld lines; start-up alone %.3f s)\n",
                    (tclsh + " -> file").c_str(), loop, kLines / (loop - startup), CountLines(base + "/loop.out"),
                    startup);
    }
    for (const char* name : {"/loop.tcl", "/empty.tcl", "/loop.out", "/empty.out"})
        std::remove((base + name).c_str());
    rmdir(dir);
    return 0;
}
