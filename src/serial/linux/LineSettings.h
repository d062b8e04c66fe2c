#pragma once

// termios work on an open descriptor (LineSettings.cpp), for Open and Close.

struct SSavedLine;

namespace linux_line {

// Records the line's termios2, its DTR and RTS levels and its RS-485 mode,
// each where the device has one. False with errno set when fd is no terminal.
bool SaveLine(int fd, SSavedLine& saved);

// Puts back what SaveLine recorded; the RS-485 mode only if `rs485Changed`.
// A device that is gone refuses quietly: there is nothing left to restore.
void RestoreLine(int fd, const SSavedLine& saved, bool rs485Changed);

// Switches off every kind of input and output processing (canonical mode,
// echo, signals, CR/LF translation, software flow control) and makes reads
// return at once; the rate, frame and hardware flow control stay as they were.
// False with errno set when fd is not a terminal or refuses the change.
bool MakeRaw(int fd);

} // namespace linux_line
