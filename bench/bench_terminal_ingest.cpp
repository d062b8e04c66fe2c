// Receive ingest into the real terminal pane (offscreen), through a simulated
// device on a pseudo-terminal and the real engine.
//
// Flood: 8 MiB of 80-character lines as fast as the line takes them. Prints
// the rate from the first byte sent to the first paint that shows the last
// line, the UI thread's event-loop delay meanwhile (the lateness of a 1 ms
// timer: 99th percentile and worst) and the resident memory the pane added
// per character it holds.
//
// Long line: 10,000,000 bytes without a line break. Prints the time until
// the pane shows all of it and the event-loop delay meanwhile.
//
// --ansi-utf8 turns on ANSI and UTF-8 display (the text is the same plain
// ASCII, so the figures show what the decoding costs).
//
// Usage: bench_terminal_ingest [--flood BYTES] [--line BYTES] [--timeout SECONDS] [--only flood|line] [--ansi-utf8]

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchSerialSupport.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"
#include "terminal/ReceivedTextQueue.h"
#include "terminal/TerminalView.h"

namespace {

// No port for the pane to send to: the text only comes in.
class CReceiveOnlyOwner : public ITerminalPaneOwner {
public:
    int OpenPort() const override { return 0; }
    bool SendByte(unsigned char, const CCancelSignal*) override { return false; }
    bool TranslateKey(QKeyEvent*) override { return false; }
};

qint64 HeldCharacters(const CVORLAView& pane) { return pane.CharacterCount(); }

// How late a 1 ms timer fires on the UI thread.
class CLatenessProbe {
public:
    CLatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_tick.isValid())
                m_samples.push_back(std::max(0.0, m_tick.nsecsElapsed() / 1e6 - 1.0));
            m_tick.restart();
        });
    }
    void Start()
    {
        m_samples.clear();
        m_tick.invalidate();
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }
    double Percentile(int p)
    {
        if (m_samples.empty())
            return 0;
        std::sort(m_samples.begin(), m_samples.end());
        return m_samples[std::min(m_samples.size() - 1, m_samples.size() * p / 100)];
    }
    double Worst() { return m_samples.empty() ? 0 : *std::max_element(m_samples.begin(), m_samples.end()); }
    std::size_t Count() const { return m_samples.size(); }

private:
    QTimer m_timer;
    QElapsedTimer m_tick;
    std::vector<double> m_samples;
};

// Runs the event loop until the pane holds `target` characters and has
// painted since, or until the time-out. Returns the seconds from `clock`'s
// start to that paint, or a negative number on time-out.
class CShownWatcher : public QObject {
public:
    CShownWatcher(CVORLAView& pane, qint64 target, const QElapsedTimer& clock, int timeoutMs)
        : m_pane(pane), m_target(target), m_clock(clock), m_timeoutMs(timeoutMs)
    {
        m_pane.viewport()->installEventFilter(this);
    }
    ~CShownWatcher() override { m_pane.viewport()->removeEventFilter(this); }

    int Paints() const { return m_paints; }

    double Run()
    {
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [this] {
            if (m_clock.elapsed() > m_timeoutMs)
                m_loop.exit(1);
        });
        check.start(50);
        return m_loop.exec() == 0 ? m_shownAt : -1;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        // The paint about to happen shows the last text: the time is taken
        // once it is done.
        if (event->type() == QEvent::Paint && !m_pending && HeldCharacters(m_pane) >= m_target) {
            m_pending = true;
            QTimer::singleShot(0, this, [this] {
                m_shownAt = m_clock.nsecsElapsed() / 1e9;
                m_loop.exit(0);
            });
        }
        return false;
    }

private:
    CVORLAView& m_pane;
    const qint64 m_target;
    const QElapsedTimer& m_clock;
    const int m_timeoutMs;
    QEventLoop m_loop;
    bool m_pending = false;
    double m_shownAt = -1;
    int m_paints = 0;
};

void Settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::size_t floodBytes = 8u << 20;
    std::size_t lineBytes = 10000000;
    int timeoutS = 120;
    std::string only;
    bool ansiUtf8 = false;
    for (int i = 1; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (!std::strcmp(argv[i], "--ansi-utf8"))
            ansiUtf8 = true;
        else if (valued && !std::strcmp(argv[i], "--flood"))
            floodBytes = std::stoul(argv[++i]);
        else if (valued && !std::strcmp(argv[i], "--line"))
            lineBytes = std::stoul(argv[++i]);
        else if (valued && !std::strcmp(argv[i], "--timeout"))
            timeoutS = std::stoi(argv[++i]);
        else if (valued && !std::strcmp(argv[i], "--only"))
            only = argv[++i];
    }

    CDevSim device;
    std::string error;
    CDevSim::SOptions options;
    options.mode = CDevSim::EMode::Silent;
    if (!device.Start(options, error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    CPortMap ports;
    ports.Map(1, device.Path());
    bench::CPrintingPrompt prompt;
    CSerialPort engine(prompt, ports);
    CReceivedTextQueue received;
    received.SetShowAnsi(ansiUtf8);
    received.SetShowUtf8(ansiUtf8);
    CReceiveOnlyOwner owner;
    CVORLAView pane(prompt, owner, received);
    pane.resize(1000, 600);
    pane.show();
    engine.AttachTerminal(&received);
    if (!engine.Open("COM1") || !engine.ReadState()) {
        std::fprintf(stderr, "cannot open the device\n");
        return 1;
    }
    engine.ApplySettings(engine.Dcb());
    engine.StartThreads();
    CLatenessProbe probe;
    bool ok = true;

    if (only.empty() || only == "flood") {
        // The flood's lines are 80 bytes: 78 characters, CR and LF; the pane
        // shows one line break for the pair.
        const std::size_t lines = floodBytes / 80;
        const qint64 target = static_cast<qint64>(lines) * 79;
        Settle(200);
        malloc_trim(0);
        const long residentBefore = bench::ResidentKb();
        QElapsedTimer clock;
        clock.start();
        probe.Start();
        device.Flood(lines * 80);
        CShownWatcher watcher(pane, target, clock, timeoutS * 1000);
        const double seconds = watcher.Run();
        probe.Stop();
        const int paints = watcher.Paints();
        Settle(200); // let what the flood left behind (queues, buffers) go
        const long residentAfter = bench::ResidentKb();
        const qint64 held = HeldCharacters(pane);
        if (seconds > 0)
            std::printf("flood: %zu bytes, first byte to last line shown %.3f s = %.1f MB/s\n", lines * 80, seconds,
                        lines * 80 / seconds / 1e6);
        else
            std::printf("flood: timed out after %d s, shown %lld of %lld characters\n", timeoutS,
                        static_cast<long long>(held), static_cast<long long>(target));
        std::printf("flood: UI event-loop delay p99 %.1f ms, worst %.1f ms (%zu samples); %d paints\n",
                    probe.Percentile(99), probe.Worst(), probe.Count(), paints);
        std::printf("flood: resident memory added %.1f MB for %lld characters held = %.2f B per character\n",
                    (residentAfter - residentBefore) / 1024.0, static_cast<long long>(held),
                    held > 0 ? (residentAfter - residentBefore) * 1024.0 / held : 0.0);
        ok = ok && seconds > 0;
        pane.ClearText();
    }

    if (only.empty() || only == "line") {
        // One line without a break, fed to the device in pieces so that the
        // device never holds more than one piece.
        Settle(200);
        std::atomic<bool> stop{false};
        QElapsedTimer clock;
        clock.start();
        probe.Start();
        std::thread feeder([&] {
            const std::size_t piece = 64 << 10;
            for (std::size_t sent = 0; sent < lineBytes && !stop; sent += piece) {
                device.Inject(std::string(std::min(piece, lineBytes - sent), 'z'));
                while (!stop && !device.WaitUntilAllSent(100)) {
                }
            }
        });
        const double seconds =
            CShownWatcher(pane, static_cast<qint64>(lineBytes), clock, timeoutS * 1000).Run();
        probe.Stop();
        stop = true;
        const qint64 held = HeldCharacters(pane);
        engine.Close(); // releases the reader if the pane fell behind
        feeder.join();
        if (seconds > 0)
            std::printf("long line: %zu bytes without a line break shown after %.3f s\n", lineBytes, seconds);
        else
            std::printf("long line: timed out after %d s, shown %lld of %zu characters\n", timeoutS,
                        static_cast<long long>(held), lineBytes);
        std::printf("long line: UI event-loop delay p99 %.1f ms, worst %.1f ms (%zu samples)\n", probe.Percentile(99),
                    probe.Worst(), probe.Count());
        ok = ok && seconds > 0;
    }
    engine.Close();
    device.Stop();
    return ok ? 0 : 1;
}
