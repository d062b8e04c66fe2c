#pragma once

#include <map>
#include <string>
#include <vector>

#include "serial/PortSession.h"

// What vorlash was asked to do by its arguments. Options come first; the
// first other argument names the script, and every argument after it is the
// script's own (argv), as tclsh takes them.
struct SShellOptions {
    enum class EAction { Run, Help, Version, Error };
    EAction action = EAction::Run;
    std::map<int, std::string> portPaths; // --port COMn=PATH
    int connect = 0;                      // --connect COMn: 1..8, 0 for none
    bool hasSettings = false;             // --settings given
    SLineChoice settings;
    bool echo = false;                    // --echo: received bytes to standard output
    std::string junitPath;                // --junit FILE; empty for none
    std::string script;                   // empty: commands from standard input
    std::vector<std::string> scriptArgs;
    std::string error;                    // with EAction::Error: one line, without the program's name
};

SShellOptions ParseShellOptions(int argc, const char* const* argv);

// The usage text of --help; its first line follows an error.
extern const char* const kShellUsage;
