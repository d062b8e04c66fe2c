#pragma once

// Makes a write past the user's file-size limit (ulimit -f) fail in the
// calling thread with "File too large" instead of ending the process with
// SIGXFSZ, so a log writer can stop with that reason.
void BlockFileSizeSignalInThisThread();
