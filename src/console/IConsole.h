#pragma once

#include <string>

// Colour kinds of console output.
enum ConsoleKind : int {
    kConsoleNotice = 0, // blue: the prompt and success notices
    kConsoleError = 1,  // red: errors
    kConsoleOutput = 2  // black: results, channel output, listings
};

// The prompt text; printing exactly this with kind 0 shows a fresh prompt.
inline constexpr const char* kConsolePrompt = "VORLA > ";

// The console pane as the core sees it. Implemented by the GUI pane and by
// recording consoles in tests.
class IConsole {
public:
    virtual ~IConsole() = default;
    // Appends text in the colour of its kind. Callable from any thread, in
    // order with every other print and clear; returns once the text is queued
    // for the pane (a writer may wait while much output is queued), on the
    // pane's own thread once it is shown.
    virtual void PrintToConsole(const std::string& text, int kind) = 0;
    // Removes all text of the pane, in order with the prints around it.
    virtual void ClearAll() = 0;
    // Shut-down of the threads that print: a print waiting for room returns
    // at once, and later prints from other threads are dropped. A console
    // that never holds a writer has nothing to release.
    virtual void AbortOutput() {}
    // Read access to the pane's command history (slot 0 is the newest).
    virtual int HistoryCount() const = 0;
    virtual std::string HistoryAt(int index) const = 0;
};
