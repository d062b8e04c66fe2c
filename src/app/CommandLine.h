#pragma once

#include <map>
#include <string>

// What the program was asked to do by its arguments. Read before Qt starts,
// so --help, --version and a bad option answer without a display.
struct SCommandLine {
    enum class EAction { Run, Help, Version, Error };
    EAction action = EAction::Run;
    bool demo = false;
    std::string file;                        // shown in the terminal pane at start; empty for none
    std::map<int, std::string> portPaths;    // --port COMn=PATH, port number -> path
    std::string error;                       // set with EAction::Error
};

SCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text printed by --help and after an error.
extern const char* const kVorlaUsage;
