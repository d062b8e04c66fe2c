#pragma once

// What the Enter key sends to the device.
enum class EEnterSends { Lf, Cr, CrLf };

// Switches of the terminal pane, set by the command bar's check boxes and the menus.
struct TerminalOptions {
    bool localEcho = false;             // typed characters are shown as well as sent
    EEnterSends enter = EEnterSends::Lf; // the CR+LF check box shows CrLf
    bool keysToDevice = false;          // every typed key goes to the device (control keys too)

    bool SendsCrLf() const { return enter == EEnterSends::CrLf; }
};
