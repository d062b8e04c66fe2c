#pragma once

// The Windows state behind CSerialLine and CLineWakeup.

#include "serial/win32/WinApi.h"

#include <cstddef>

#include "serial/SerialLine.h"

struct CLineWakeup::Native {
    HANDLE event = nullptr; // manual-reset: once set by Raise it stays set
};

struct CSerialLine::Native {
    HANDLE handle = INVALID_HANDLE_VALUE; // owned; opened for overlapped I/O
    HANDLE readEvent = nullptr;           // the reader's overlapped reads
    HANDLE writeEvent = nullptr;          // the sender's overlapped writes
    WinDcb savedDcb {};                   // what the port held at Open, put back by Close
    COMMTIMEOUTS savedTimeouts {};

    // A byte that WaitReadable took off the line, handed out first by Read
    // (reader thread only).
    char pending = 0;
    bool hasPending = false;
    DWORD readError = 0; // the read that failed: the line is gone (reader thread only)
};
