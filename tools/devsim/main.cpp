// devsim: runs a simulated serial device until interrupted, e.g.
//   devsim modem --link /tmp/ttyV0
//   VORLA_COM1=/tmp/ttyV0 vorla
// or serves devices to Windows test programs under Wine (see Bridge.h):
//   devsim serve --dir DIR [--first N] [--ports N]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "devsim/Bridge.h"
#include "devsim/DevSim.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: devsim modem|echo|flood [--delay MS] [--bytes N] [--link PATH]\n"
                 "       devsim serve --dir DIR [--first N] [--ports N]\n"
                 "  modem   echoes and answers AT, ATI, ATE0, ATE1 (--delay: answer delay)\n"
                 "  echo    sends back every byte\n"
                 "  flood   sends N bytes of 80-character lines (--bytes, default 1048576)\n"
                 "  --link  makes PATH a symlink to the device while devsim runs\n"
                 "  serve   plays devices for Windows programs under Wine: links DIR/comN\n"
                 "          for COM N (default 5) to N + ports - 1 (default 8 ports)\n");
    return 2;
}

bool ParseCount(const char* text, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    // Signals are taken by sigwait, not by the devices' threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (std::string(argv[1]) == "serve") {
        SBridgeOptions bridge;
        for (int i = 2; i < argc; i += 2) {
            long long value = 0;
            const std::string arg = argv[i];
            if (i + 1 >= argc)
                return Usage();
            if (arg == "--dir")
                bridge.dir = argv[i + 1];
            else if (arg == "--first" && ParseCount(argv[i + 1], value) && value >= 1 && value <= 255)
                bridge.firstPort = static_cast<int>(value);
            else if (arg == "--ports" && ParseCount(argv[i + 1], value) && value >= 1 && value <= 64)
                bridge.ports = static_cast<int>(value);
            else
                return Usage();
        }
        if (bridge.dir.empty())
            return Usage();
        return RunBridge(bridge);
    }

    CDevSim::SOptions options;
    std::string mode = argv[1];
    if (mode == "modem")
        options.mode = CDevSim::EMode::Modem;
    else if (mode == "echo")
        options.mode = CDevSim::EMode::Echo;
    else if (mode == "flood") {
        options.mode = CDevSim::EMode::Flood;
        options.floodBytes = 1 << 20;
    } else
        return Usage();
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        long long value = 0;
        if (i + 1 >= argc)
            return Usage();
        if (arg == "--link")
            options.link = argv[++i];
        else if (arg == "--delay" && ParseCount(argv[i + 1], value) && value <= 60000)
            options.answerDelayMs = static_cast<int>(value), ++i;
        else if (arg == "--bytes" && ParseCount(argv[i + 1], value))
            options.floodBytes = static_cast<std::size_t>(value), ++i;
        else
            return Usage();
    }

    CDevSim device;
    std::string error;
    if (!device.Start(options, error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", device.Path().c_str());
    if (!options.link.empty())
        std::printf("linked as %s\n", options.link.c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&signals, &sig);
    device.Stop();
    return 0;
}
