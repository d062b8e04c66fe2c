#pragma once

// Switches of the terminal pane, set by the command bar's check boxes.
struct TerminalOptions {
    bool localEcho = false; // typed characters are shown as well as sent
    bool sendCrLf = false;  // Enter sends CR LF instead of LF
};
