#include "shell/ShellOptions.h"

#include <cstring>

#include "serial/PortMap.h"

const char* const kShellUsage =
    "usage: vorlash [--port COMn=PATH]... [--connect COMn] [--settings RATE,FRAME,FLOW] [--echo]\n"
    "               [--junit FILE] [--] [script.tcl [arg ...]]\n"
    "       vorlash --help | --version\n"
    "  --port COMn=PATH  map the port name COMn (1..8) to a device path\n"
    "  --connect COMn    open COMn before the first command\n"
    "  --settings S      apply line settings after --connect, e.g. 115200,8N1,none\n"
    "  --echo            copy the bytes the device sends to standard output\n"
    "  --junit FILE      write the tcltest results as JUnit XML to FILE\n"
    "  script.tcl        run the script with its arguments and exit; without it,\n"
    "                    commands are read from standard input\n";

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; false
// when arg is not that option. A missing value is an error.
bool TakeValue(const char* name, int argc, const char* const* argv, int& i, std::string& value, std::string& error)
{
    const std::size_t length = std::strlen(name);
    const char* arg = argv[i];
    if (std::strncmp(arg, name, length) != 0)
        return false;
    if (arg[length] == '=') {
        value = arg + length + 1;
        return true;
    }
    if (arg[length] != '\0')
        return false;
    if (i + 1 >= argc) {
        error = std::string(name) + " needs a value";
        return true;
    }
    value = argv[++i];
    return true;
}

} // namespace

SShellOptions ParseShellOptions(int argc, const char* const* argv)
{
    SShellOptions options;
    auto fail = [&options](std::string error) {
        options.action = SShellOptions::EAction::Error;
        options.error = std::move(error);
        return options;
    };
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        std::string value, error;
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (arg[0] != '-' || arg[1] == '\0')
            break; // the script ("-" alone is a file name too, as for tclsh)
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.action = SShellOptions::EAction::Help;
            return options;
        }
        if (std::strcmp(arg, "--version") == 0) {
            options.action = SShellOptions::EAction::Version;
            return options;
        }
        if (std::strcmp(arg, "--echo") == 0) {
            options.echo = true;
        } else if (TakeValue("--port", argc, argv, i, value, error)) {
            if (!error.empty())
                return fail(error);
            const char* pair[] = {"vorlash", "--port", value.c_str()};
            if (!CPortMap::ParseArguments(3, pair, options.portPaths, error))
                return fail(error);
        } else if (TakeValue("--connect", argc, argv, i, value, error)) {
            if (!error.empty())
                return fail(error);
            options.connect = CPortMap::PortNumber(value);
            if (options.connect == 0)
                return fail("unknown port " + value + " for --connect: should be COM1 to COM8");
        } else if (TakeValue("--settings", argc, argv, i, value, error)) {
            if (!error.empty())
                return fail(error);
            if (!ParseSettingsSpec(value, options.settings, error))
                return fail("--settings: " + error);
            options.hasSettings = true;
        } else if (TakeValue("--junit", argc, argv, i, value, error)) {
            if (!error.empty())
                return fail(error);
            if (value.empty())
                return fail("--junit needs a file name");
            options.junitPath = value;
        } else {
            return fail(std::string("unknown option ") + arg);
        }
    }
    if (options.hasSettings && options.connect == 0)
        return fail("--settings needs --connect");
    if (i < argc) {
        options.script = argv[i];
        for (++i; i < argc; ++i)
            options.scriptArgs.push_back(argv[i]);
    }
    return options;
}
