// Receive ingest into the real terminal pane (offscreen): a simulated device
// floods 80-character lines through the engine into the pane. Prints MB/s,
// the UI thread's event-loop delay during the flood (worst and 99th
// percentile, from a 1 ms timer's lateness) and resident memory afterwards.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSerialSupport.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"
#include "terminal/ReceivedTextQueue.h"
#include "terminal/TerminalView.h"

namespace {

// No port for the pane to send to: the flood only comes in.
class CReceiveOnlyOwner : public ITerminalPaneOwner {
public:
    int OpenPort() const override { return 0; }
    bool SendByte(unsigned char, const CCancelSignal*) override { return false; }
    bool TranslateKey(QKeyEvent*) override { return false; }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const size_t total = argc > 1 ? std::stoul(argv[1]) : 16u * 1024 * 1024;

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

    std::vector<double> lateness;
    QElapsedTimer tick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (tick.isValid())
            lateness.push_back(std::max(0.0, tick.nsecsElapsed() / 1e6 - 1.0));
        tick.restart();
    });

    // The flood's lines are 80 bytes: 78 characters, CR and LF; the pane
    // shows one line break for the pair.
    const size_t lines = total / 80;
    const qint64 shownTarget = static_cast<qint64>(lines) * 79;
    QElapsedTimer clock;
    clock.start();
    probe.start();
    device.Flood(lines * 80);
    bool done = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (pane.document()->characterCount() - 1 >= shownTarget || clock.elapsed() > 300000) {
            done = true;
            app.quit();
        }
    });
    check.start(20);
    app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    probe.stop();
    engine.Close();
    device.Stop();

    std::sort(lateness.begin(), lateness.end());
    const double worst = lateness.empty() ? 0 : lateness.back();
    const double p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    const qint64 shown = pane.document()->characterCount() - 1;
    std::printf("terminal ingest: %zu bytes in %.2f s = %.2f MB/s (shown %lld of %lld characters%s)\n", lines * 80,
                seconds, lines * 80 / seconds / 1e6, static_cast<long long>(shown),
                static_cast<long long>(shownTarget), done ? "" : ", timed out");
    std::printf("UI event-loop delay during the flood: worst %.1f ms, 99th percentile %.1f ms (%zu samples)\n", worst,
                p99, lateness.size());
    std::printf("resident memory after the flood: %.1f MB\n", bench::ResidentKb() / 1024.0);
    return shown >= shownTarget ? 0 : 1;
}
