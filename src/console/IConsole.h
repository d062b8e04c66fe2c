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
    // Appends text in the colour of its kind. Callable from any thread;
    // returns once the text stands in the pane (or at once during shut-down).
    virtual void PrintToConsole(const std::string& text, int kind) = 0;
    // Removes all text of the pane.
    virtual void ClearAll() = 0;
    // Read access to the pane's command history (slot 0 is the newest).
    virtual int HistoryCount() const = 0;
    virtual std::string HistoryAt(int index) const = 0;
};
