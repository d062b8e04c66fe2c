// Console output rate through the real console pane (offscreen): the Tcl
// thread evaluates a loop of 100,000 puts and every line goes through the
// console channel into the pane. Prints the time until the fresh prompt
// stands after the last line, beside the same loop in tclsh writing to a file.
//
//   bench_console_output [lines]       the rate (default 100,000 lines)
//   bench_console_output --endless S   resident memory while `while 1 {puts ...}`
//                                      prints for S seconds, sampled every second
//   bench_console_output --long N      one line of N characters

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/IUserPrompt.h"
#include "widgets/UiBridge.h"
#include "console/ConsoleView.h"
#include "console/TclHost.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

namespace {

int g_lines = 100000;

class CBenchPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string&, const CCancelSignal*) override {}
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
};

// Nothing is typed into the pane: the host is fed directly.
class CUntypedConsoleOwner : public IConsolePaneOwner {
public:
    void AttachConsole() override {}
    void SubmitCommandText(const std::string&) override {}
    bool TranslateKey(QKeyEvent*) override { return false; }
};

class CBenchOwner : public ITclHostOwner {
public:
    CBenchOwner(CConsoleView& pane, CSerialPort& port, IUserPrompt& prompt) : m_pane(pane), m_port(port), m_prompt(prompt) {}
    IConsole* ConsolePane() override { return &m_pane; }
    int OpenPort() const override { return 0; }
    CSerialPort& SerialPort() override { return m_port; }
    IUserPrompt& Prompt() override { return m_prompt; }

private:
    CConsoleView& m_pane;
    CSerialPort& m_port;
    IUserPrompt& m_prompt;
};

double TclshSeconds()
{
    const std::string script = "/tmp/vorla-bench-loop.tcl";
    std::ofstream(script) << "set f [open /tmp/vorla-bench-loop.out w]\n"
                          << "for {set i 0} {$i<100000} {incr i} {puts $f \"line $i\"}\nclose $f\n";
    QElapsedTimer clock;
    clock.start();
    if (std::system(("tclsh8.6 " + script).c_str()) != 0)
        return -1;
    return clock.nsecsElapsed() / 1e9;
}

// The pane's last line.
std::string LastLine(const CConsoleView& pane)
{
    const CLineStore& store = pane.Store();
    std::string line;
    store.Read(store.LineStart(store.LineCount() - 1), 64, line);
    return line;
}

// Resident memory of this process in kB (VmRSS), 0 if unknown.
long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        long kb = 0;
        if (key == "VmRSS:" && status >> kb)
            return kb;
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

// How late the event loop answers while output comes in: a 5 ms timer's
// gaps beyond its interval.
class CLoopLatency {
public:
    CLoopLatency()
    {
        m_sinceTick.start();
        QObject::connect(&m_tick, &QTimer::timeout,
                         [this] { m_lateMs.push_back(std::max<qint64>(0, m_sinceTick.restart() - 5)); });
        m_tick.start(5);
    }
    void Print(const char* what)
    {
        m_tick.stop();
        std::sort(m_lateMs.begin(), m_lateMs.end());
        if (!m_lateMs.empty())
            std::printf("%s: event loop late by p99 %lld ms, worst %lld ms\n", what,
                        static_cast<long long>(m_lateMs[m_lateMs.size() * 99 / 100]),
                        static_cast<long long>(m_lateMs.back()));
    }

private:
    std::vector<qint64> m_lateMs;
    QElapsedTimer m_sinceTick;
    QTimer m_tick;
};

// Samples the resident memory once a second while a script prints without
// end; the pane stays on screen, so painting and trimming are part of it.
int EndlessPrint(QApplication& app, CConsoleView& pane, CTclHost& host, int seconds)
{
    const long startKb = ResidentKb();
    std::printf("endless puts: resident %ld kB at start\n", startKb);
    host.SubmitCommandText("set i 0; while 1 {puts \"line [incr i]\"}\n");
    QElapsedTimer clock;
    clock.start();
    QTimer sample;
    int second = 0;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        ++second;
        std::printf("  %2d s: resident %ld kB (+%ld), pane %d characters in %d lines\n", second, ResidentKb(),
                    ResidentKb() - startKb, static_cast<int>(pane.CharacterCount()),
                    static_cast<int>(pane.Store().LineCount()));
        std::fflush(stdout);
        if (second >= seconds)
            app.quit();
    });
    sample.start(1000);
    CLoopLatency latency;
    app.exec();
    sample.stop();
    latency.Print("endless puts");

    // Ctrl+Break: how long until the fresh prompt stands after what was queued.
    QElapsedTimer stop;
    stop.start();
    host.CancelEvaluation();
    qint64 stoppedMs = -1;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (stoppedMs < 0 && !host.IsEvaluating())
            stoppedMs = stop.elapsed();
        if (LastLine(pane) == "VORLA > " || stop.elapsed() > 60000)
            app.quit();
    });
    check.start(1);
    app.exec();
    std::printf("endless puts: Ctrl+Break: script stopped after %lld ms, the next prompt shown after %lld ms\n",
                static_cast<long long>(stoppedMs), static_cast<long long>(stop.elapsed()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int endlessSeconds = 0;
    int longLine = 0;
    if (argc > 2 && std::string(argv[1]) == "--endless")
        endlessSeconds = std::atoi(argv[2]);
    else if (argc > 2 && std::string(argv[1]) == "--long")
        longLine = std::atoi(argv[2]);
    else if (argc > 1)
        g_lines = std::atoi(argv[1]);
    CUiBridge bridge;
    CBenchPrompt prompt;
    CPortMap ports;
    CSerialPort port(prompt, ports);
    CUntypedConsoleOwner paneOwner;
    CConsoleView pane(bridge, prompt, paneOwner);
    pane.resize(1000, 300);
    pane.show();
    CBenchOwner owner(pane, port, prompt);
    double seconds = 0;
    {
        CTclHost host;
        host.SetMainWindow(&owner);
        host.AttachConsole();
        if (endlessSeconds > 0) {
            EndlessPrint(app, pane, host, endlessSeconds);
            QElapsedTimer stop;
            stop.start();
            bridge.Shutdown();
            host.DeleteInterpreter();
            std::printf("endless puts: stopped in %lld ms\n", static_cast<long long>(stop.elapsed()));
            return 0;
        }
        QElapsedTimer clock;
        clock.start();
        if (longLine > 0) {
            g_lines = 1;
            host.SubmitCommandText("puts [string repeat z " + std::to_string(longLine) + "]\n");
        } else {
            host.SubmitCommandText("for {set i 0} {$i<" + std::to_string(g_lines) + "} {incr i} {puts \"line $i\"}\n");
        }
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (LastLine(pane) == "VORLA > " && pane.Store().LineCount() + pane.Store().DroppedLines() > static_cast<uint64_t>(g_lines)) {
                seconds = clock.nsecsElapsed() / 1e9;
                app.quit();
            } else if (clock.elapsed() > 600000) {
                app.quit();
            }
        });
        check.start(5);
        CLoopLatency latency;
        app.exec();
        latency.Print("console pane");
        bridge.Shutdown();
        host.DeleteInterpreter();
    }
    if (longLine > 0) {
        std::printf("console pane: one line of %d characters shown in %.2f s\n", longLine, seconds);
        return seconds > 0 ? 0 : 1;
    }
    std::printf("console pane: %d lines of puts shown in %.2f s (%.0f lines/s)\n", g_lines, seconds,
                seconds > 0 ? g_lines / seconds : 0.0);
    std::printf("tclsh8.6 writing the same loop to a file: %.2f s\n", TclshSeconds());
    return seconds > 0 ? 0 : 1;
}
