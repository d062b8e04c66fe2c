// Reconnect after a replug, as the main window does it: the device watcher's
// descriptor wakes a look at the devices, then the reconnect reopens the
// port. Prints the time from the device's return to the reopened port, and
// the process's CPU time while it waits for the device.
#include <algorithm>
#include <filesystem>
#include <vector>

#include <poll.h>
#include <time.h>

#include "BenchSerialSupport.h"
#include "serial/DeviceWatcher.h"
#include "serial/PortReconnect.h"
#include "serial/SerialDevices.h"

using namespace bench;

namespace {

// The loss message comes once per round: not worth printing.
class CQuietPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string&, const CCancelSignal*) override {}
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
};

double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

struct SRig {
    SDeviceDirs dirs;
    std::string link;
    CQuietPrompt prompt;
    CCountingSink sink;
    CPortMap ports;
    CSerialPort port{prompt, ports};
    CPortReconnect reconnect{port, ports};
    std::unique_ptr<CDeviceWatcher> watcher;

    SRig()
    {
        char name[] = "/tmp/vorla-bench-replug-XXXXXX";
        if (!mkdtemp(name))
            std::exit(1);
        dirs = {std::string(name) + "/dev", std::string(name) + "/serial/by-id", std::string(name) + "/sys"};
        std::filesystem::create_directories(dirs.dev);
        std::filesystem::create_directories(dirs.byId);
        link = dirs.byId + "/usb-Bench_Sim_0001-if00-port0";
        watcher = std::make_unique<CDeviceWatcher>(std::vector<std::string>{dirs.dev, dirs.byId});
        port.AttachTerminal(&sink);
        reconnect.SetEnabled(true);
    }
    ~SRig()
    {
        reconnect.Shutdown();
        port.Close();
        std::filesystem::remove_all(std::filesystem::path(dirs.dev).parent_path());
    }
    void Plug(CDevSim& device)
    {
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Echo;
        options.link = link;
        std::string error;
        if (!device.Start(options, error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            std::exit(1);
        }
    }
    // One turn of the window's event loop: wait for the descriptor, look.
    CPortReconnect::SAttempt::EKind Turn(int timeoutMs)
    {
        pollfd p{watcher->Descriptor(), POLLIN, 0};
        ::poll(&p, 1, timeoutMs);
        watcher->TakeEvents();
        ports.Update(ScanSerialDevices(dirs), ResolveDevicePath, 1);
        return reconnect.TryReopen().kind;
    }
};

} // namespace

int main()
{
    constexpr int kRounds = 20;
    constexpr int kWaitMs = 2000;
    SRig rig;
    std::vector<double> latencies;
    double cpuWaiting = 0, waited = 0;
    auto device = std::make_unique<CDevSim>();
    rig.Plug(*device);
    rig.Turn(0);
    if (!rig.port.Open("COM1")) {
        std::fprintf(stderr, "open: %s\n", rig.port.LastOpenError().c_str());
        return 1;
    }
    rig.port.StartThreads();
    rig.reconnect.Opened(1);
    for (int round = 0; round < kRounds; ++round) {
        // Unplug as udev does: the device goes, then its link.
        device->HangUp();
        while (rig.port.IsOpen() && rig.port.ReadState())
            rig.Turn(10);
        rig.port.Close();
        rig.reconnect.Lost(1);
        std::filesystem::remove(rig.link);
        rig.Turn(0);
        if (round < 3) { // a few rounds with a long wait, for the CPU figure
            const double cpu = ProcessCpuMs();
            const auto start = Clock::now();
            for (auto end = start + std::chrono::milliseconds(kWaitMs); Clock::now() < end;)
                rig.Turn(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
            cpuWaiting += ProcessCpuMs() - cpu;
            waited += MsBetween(start, Clock::now());
        }
        device = std::make_unique<CDevSim>();
        const auto back = Clock::now();
        rig.Plug(*device);
        while (rig.Turn(5000) != CPortReconnect::SAttempt::EKind::Reopened)
            if (MsBetween(back, Clock::now()) > 5000) {
                std::fprintf(stderr, "round %d: no reconnect within 5 s\n", round);
                return 1;
            }
        latencies.push_back(MsBetween(back, Clock::now()));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("reconnect after the device's return (%d rounds): median %.2f ms, max %.2f ms\n", kRounds,
                latencies[latencies.size() / 2], latencies.back());
    std::printf("CPU while waiting for the device: %.2f ms over %.0f ms (%.3f%%)\n", cpuWaiting, waited,
                100.0 * cpuWaiting / waited);
    return 0;
}
