#pragma once

#include <string>
#include <utility>

// The outcome of a step that can fail, as a value. On failure it carries the
// message the user is shown and the underlying reason (the device's or the
// system's words); the edge facing the user decides where each goes (a
// message box, the status bar, the console).
struct SResult {
    bool ok = true;
    std::string message; // what the user is told, e.g. "Unable to configure new configuration "
    std::string reason;  // why, in a few words, e.g. "the device has no 7-bit mode"

    static SResult Success() { return {}; }
    static SResult Failure(std::string message, std::string reason)
    {
        return {false, std::move(message), std::move(reason)};
    }
};
