#pragma once

#include <string>

class QKeyEvent;

// The bytes a key sends to the device while Keys to Device is on, as xterm
// sends them in its normal (VT100) cursor mode: Ctrl+letter as its control
// byte, Escape, Tab, Backspace (DEL, as Linux shells expect), the cursor and
// editing keys and F1-F12 as escape sequences, other keys as their text.
// Empty for keys that stay with the window: Ctrl+Tab, the stop key
// (Ctrl+Break), Ctrl+Shift+C and Ctrl+Shift+V (copy and paste), Alt
// combinations (menus), and keys without text. Enter is the caller's (it
// sends what the Enter choice says).
std::string DeviceKeyBytes(const QKeyEvent& key);
