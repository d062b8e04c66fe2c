#pragma once

// termios work that needs the kernel's termios2 (exact rates through BOTHER).
// Its header clashes with <termios.h>, so only LineSettings.cpp includes it.

namespace posix_line {

// Switches off every kind of input and output processing (canonical mode,
// echo, signals, CR/LF translation, software flow control) and makes reads
// return at once; the rate, frame and hardware flow control stay as they were.
// False with errno set when fd is not a terminal or refuses the change.
bool MakeRaw(int fd);

} // namespace posix_line
