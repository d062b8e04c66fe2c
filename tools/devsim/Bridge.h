#pragma once

#include <string>

// The device side for Windows test programs run under Wine: each connection
// to a loopback TCP port drives one simulated device (CDevSim) whose
// pseudo-terminal is reached through a fixed link, dir/comN, that the Wine
// prefix maps as the COM port COMn. One request line, one answer line:
//   start MODE DELAY_MS FLOOD_BYTES  -> ok COMn
//   inject HEX | flood N | clear | release | hangup | stop -> ok
//   received -> ok HEX          count | sent | waiting -> ok N
//   waitreceived N MS | waitsent MS | hold -> ok 1 (or ok 0)
// Anything else, or a start with every port taken, answers "err TEXT".
// Closing the connection stops its device.
struct SBridgeOptions {
    std::string dir;   // where the comN links are
    int firstPort = 5; // COM numbers firstPort .. firstPort + ports - 1
    int ports = 8;
};

// Serves until SIGINT, SIGTERM or SIGHUP (blocked by the caller); prints the
// TCP port on the first line of standard output once it listens.
int RunBridge(const SBridgeOptions& options);
