#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "devsim/DevSim.h"
#include "app/CommandBar.h"
#include "app/MainFrame.h"
#include "core/Version.h"
#include "serial/PortMap.h"

namespace {

const char* const kUsage =
    "usage: vorla [--demo] [--port COMn=PATH]... [FILE]\n"
    "  --demo            map COM1 to a built-in simulated modem\n"
    "  --port COMn=PATH  map the port name COMn (1..8) to a device path\n"
    "  FILE              a text file shown in the terminal pane at start\n";

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppName);

    std::map<int, std::string> explicitPaths;
    std::string error;
    if (!CPortMap::ParseArguments(argc, argv, explicitPaths, error)) {
        std::fprintf(stderr, "vorla: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    bool demo = false;
    QString file;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--demo") == 0) {
            demo = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(arg, "--port") == 0) {
            ++i; // its mapping was read above
        } else if (std::strncmp(arg, "--port=", 7) == 0) {
            continue;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "vorla: unknown option %s\n%s", arg, kUsage);
            return 2;
        } else {
            file = QString::fromLocal8Bit(arg);
        }
    }

    CPortMap ports;
    ports.Build(explicitPaths);
    // The demo modem runs in this process on a pseudo-terminal of its own.
    std::unique_ptr<CDevSim> modem;
    if (demo) {
        modem = std::make_unique<CDevSim>();
        CDevSim::SOptions options;
        options.mode = CDevSim::EMode::Modem;
        // Like a modem at 9600 baud: the answer comes a little after the
        // command, so SendOutR's echo window does not swallow it.
        options.answerDelayMs = 30;
        if (!modem->Start(options, error)) {
            std::fprintf(stderr, "vorla: cannot start the demo modem: %s\n", error.c_str());
            return 1;
        }
        ports.Map(1, modem->Path());
    }

    int result = 0;
    {
        CMainFrame frame(ports);
        frame.WatchDevices(SDeviceDirs());
        if (!file.isEmpty() && !frame.OpenDocument(file))
            return 1;
        frame.showMaximized();
        result = app.exec();
    }
    if (modem)
        modem->Stop();
    return result;
}
