#include "log/FileSizeSignal.h"

// Windows has no file-size signal: a write past a limit just fails with its
// error, which the log writer reports.
void BlockFileSizeSignalInThisThread() {}
