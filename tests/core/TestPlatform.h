#pragma once

// What the system under test cannot do, for the few shared tests that need
// it: each such test skips with the reason printed. posix/ and win32/ give
// the answers; an empty reason means the test runs.

#include <string>

enum class ELimit {
    ModemLinesOnTestDevices, // the simulated devices' lines have modem lines to refuse or read
    TclChannelSeesHangUp,    // Tcl's own serial channel reads the end of an unplugged device
    RemoveCurrentDirectory,  // the working directory can be removed while in use
    AnyByteInFileNames,      // file names may hold '\', newlines and other control bytes
    LongWorkingDirectory,    // the working directory may be longer than 259 characters, with '/' between parts
};

std::string WhyNot(ELimit limit);

// A port path that leads to no device on this system.
std::string MissingPortPath();

#define VORLA_SKIP_UNLESS(limit)                                                                                   \
    if (const std::string why = WhyNot(limit); !why.empty())                                                       \
    GTEST_SKIP() << why
