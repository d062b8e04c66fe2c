#pragma once

#include <string>

class CCancelSignal;

// What the core asks of the person at the screen. The GUI shows these on the
// UI thread (message boxes titled "VORLA"); tests record them. Callable from
// any thread; each call returns once answered, at once during shut-down, or
// as soon as `abandon` is set: a worker that must be joined (a port's reader,
// a sender, the Tcl thread) passes its stop signal so that it never waits on
// a UI thread that is itself waiting to join it.
class IUserPrompt {
public:
    virtual ~IUserPrompt() = default;
    // An OK box with the text.
    virtual void ShowMessage(const std::string& text, const CCancelSignal* abandon = nullptr) = 0;
    // A Yes/No question box; true for Yes. Returns false during shut-down.
    virtual bool AskYesNo(const std::string& text, const CCancelSignal* abandon = nullptr) = 0;
    // Ends the application's event loop without the main window's close steps.
    virtual void RequestQuit() = 0;
};
