#pragma once

// The Linux state behind CSerialLine and CLineWakeup. It holds the kernel's
// termios2, whose header clashes with <termios.h>: a file that includes this
// one must not include <termios.h>.

#include <asm/termbits.h>
#include <linux/serial.h>

#include "serial/SerialLine.h"

struct CLineWakeup::Native {
    int fd = -1; // an eventfd; written once by Raise, never read
};

// What the device held when it was opened, put back when it is closed.
struct SSavedLine {
    termios2 settings {};
    bool hasModemLines = false; // pseudo-terminals and some adapters have none
    int modemLines = 0;         // TIOCM_* bits; only DTR and RTS are put back
    bool hasRs485 = false;      // the driver reported its RS-485 mode
    serial_rs485 rs485 {};
};

struct CSerialLine::Native {
    int fd = -1;               // owned
    bool rs485 = false;        // RTS toggling is switched on by ApplyDcb now
    bool rs485Changed = false; // ApplyDcb changed the RS-485 mode since Open
    SSavedLine saved;
};
