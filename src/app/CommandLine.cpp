#include "app/CommandLine.h"

#include <cstring>

#include "serial/PortMap.h"

const char* const kVorlaUsage =
    "usage: vorla [--demo] [--port COMn=PATH]... [FILE]\n"
    "       vorla --help | --version\n"
    "  --demo            map COM1 to a built-in simulated modem\n"
    "  --port COMn=PATH  map the port name COMn (1..8) to a device path\n"
    "  --help            print this text and exit\n"
    "  --version         print the version and exit\n"
    "  FILE              a text file shown in the terminal pane at start\n";

namespace {

// Qt's own options (see QGuiApplication and QApplication) are left for Qt,
// which reads them when the application object is made after this parse.
const char* const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "style", "stylesheet", "session", "display", "geometry", "name", "title",
};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// 0 when `arg` is not a Qt option, else how many arguments it takes up.
int QtOptionLength(const char* arg)
{
    const char* name = arg + (arg[1] == '-' ? 2 : 1);
    const char* equals = std::strchr(name, '=');
    const std::size_t length = equals ? std::size_t(equals - name) : std::strlen(name);
    for (const char* option : kQtOptionsWithValue)
        if (std::strlen(option) == length && std::strncmp(name, option, length) == 0)
            return equals ? 1 : 2;
    for (const char* flag : kQtFlags)
        if (!equals && std::strcmp(name, flag) == 0)
            return 1;
    return 0;
}

} // namespace

SCommandLine ParseCommandLine(int argc, const char* const* argv)
{
    SCommandLine line;
    // --help and --version win wherever they stand, as in most programs.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            line.action = SCommandLine::EAction::Help;
            return line;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            line.action = SCommandLine::EAction::Version;
            return line;
        }
    }
    if (!CPortMap::ParseArguments(argc, argv, line.portPaths, line.error)) {
        line.action = SCommandLine::EAction::Error;
        return line;
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--demo") == 0) {
            line.demo = true;
        } else if (std::strcmp(arg, "--port") == 0) {
            ++i; // its mapping was read above
        } else if (std::strncmp(arg, "--port=", 7) == 0) {
            continue;
        } else if (arg[0] == '-' && arg[1] != '\0' && QtOptionLength(arg) > 0) {
            i += QtOptionLength(arg) - 1;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            line.action = SCommandLine::EAction::Error;
            line.error = std::string("unknown option ") + arg;
            return line;
        } else {
            line.file = arg;
        }
    }
    return line;
}
