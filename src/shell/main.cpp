// vorlash: VORLA's Tcl interpreter and commands without a window.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/Version.h"
#include "shell/Shell.h"
#include "shell/ShellOptions.h"

namespace {

// Bad arguments end here, before any port opens: one line, and status 2.
int Refuse(const std::string& line, bool usage)
{
    std::fprintf(stderr, "vorlash: %s\n%s", line.c_str(), usage ? kShellUsage : "");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const SShellOptions options = ParseShellOptions(argc, argv);
    switch (options.action) {
    case SShellOptions::EAction::Help:
        std::fputs(kShellUsage, stdout);
        return 0;
    case SShellOptions::EAction::Version:
        std::printf("vorlash %s\n", VorlaVersion());
        return 0;
    case SShellOptions::EAction::Error:
        return Refuse(options.error, true);
    case SShellOptions::EAction::Run:
        break;
    }
    if (!options.script.empty()) {
        std::error_code ec;
        if (std::filesystem::is_directory(options.script, ec))
            return Refuse("cannot read script " + options.script + ": it is a directory", false);
        std::ifstream script(options.script);
        if (!script)
            return Refuse("cannot read script " + options.script + ": " + std::strerror(errno), false);
    }
    if (!options.junitPath.empty()) {
        std::ofstream report(options.junitPath, std::ios::app);
        if (!report)
            return Refuse("cannot write " + options.junitPath + ": " + std::strerror(errno), false);
    }
    CShell shell(options);
    shell.Run(argv[0]);
}
