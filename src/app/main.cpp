#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>

#include <cstdio>
#include <map>
#include <memory>

#include "devsim/DevSim.h"
#include "app/CommandBar.h"
#include "app/CommandLine.h"
#include "app/MainFrame.h"
#include "core/Version.h"
#include "serial/PortMap.h"

int main(int argc, char** argv)
{
    const SCommandLine line = ParseCommandLine(argc, argv);
    switch (line.action) {
    case SCommandLine::EAction::Help:
        std::fputs(kVorlaUsage, stdout);
        return 0;
    case SCommandLine::EAction::Version:
        std::printf("vorla %s\n", VorlaVersion());
        return 0;
    case SCommandLine::EAction::Error:
        std::fprintf(stderr, "vorla: %s\n%s", line.error.c_str(), kVorlaUsage);
        return 2;
    case SCommandLine::EAction::Run:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppName);
    std::string error;
    const bool demo = line.demo;
    const QString file = QString::fromLocal8Bit(line.file.c_str());
    const std::map<int, std::string>& explicitPaths = line.portPaths;

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
