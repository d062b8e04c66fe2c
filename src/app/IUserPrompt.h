#pragma once

#include <string>

// What the core asks of the person at the screen. The GUI shows these on the
// UI thread (message boxes titled "VORLA"); tests record them. Callable from
// any thread; each call returns once answered, or at once during shut-down.
class IUserPrompt {
public:
    virtual ~IUserPrompt() = default;
    // An OK box with the text.
    virtual void ShowMessage(const std::string& text) = 0;
    // A Yes/No question box; true for Yes. Returns false during shut-down.
    virtual bool AskYesNo(const std::string& text) = 0;
    // Ends the application's event loop without the main window's close steps.
    virtual void RequestQuit() = 0;
};
