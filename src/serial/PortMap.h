#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/SerialDevices.h"

// Where the port names COM1..COM8 lead on this machine: a device path for
// each, taken from the command line (--port COMn=PATH), then the environment
// (VORLA_COMn), then the serial devices present at start; devices plugged in
// later take the names left free. The UI thread builds and updates it; any
// thread may read it (CSerialPort::Open, the Tcl commands).
class CPortMap {
public:
    static constexpr int kPortCount = 8;

    enum class ESource { None, Argument, Environment, Present, Plugged, Demo };

    // One name's mapping, as the last look at the devices found it.
    struct SEntry {
        std::string path;        // as given, or the stable path of the device found
        ESource source = ESource::None;
        bool present = true;     // the path leads to a device (until a look finds it gone)
        std::string node;        // the device node it led to when last seen, e.g. /dev/ttyUSB0
        std::string description; // maker, product and serial number, when the device has them
    };

    // Collects every "--port COMn=PATH" (or "--port=COMn=PATH") of argv into
    // `paths` (port number -> path; a later one wins). Other arguments are
    // left alone. False with a readable `error` on the first bad mapping.
    static bool ParseArguments(int argc, const char* const* argv, std::map<int, std::string>& paths,
                               std::string& error);
    // 1..8 for "COM1".."COM8" (case as given by the port list), else 0.
    static int PortNumber(const std::string& name);

    // Fills every number: `explicitPaths` first, then VORLA_COMn from the
    // process environment, then FindSerialDevices() for the numbers left.
    void Build(const std::map<int, std::string>& explicitPaths);
    // The same with the environment and the device list given, for tests.
    void Build(const std::map<int, std::string>& explicitPaths,
               const std::function<const char*(const char*)>& getEnv, const std::vector<std::string>& present);

    // Follows the devices present now (ScanSerialDevices). A name whose
    // device is gone is marked absent and keeps its path, so the device gets
    // its name back when it returns. A device without a name takes the first
    // free one, else the name of an absent device found earlier (never
    // `keep`: the port that is open or waits for its device). Names given by
    // argument, environment or demo keep their paths; `resolve`
    // (ResolveDevicePath) tells whether they lead anywhere. True when
    // anything the port list shows changed.
    bool Update(const std::vector<SSerialDevice>& devices,
                const std::function<std::string(const std::string&)>& resolve, int keep = 0);

    // The device path of COMn, empty if n is unmapped or out of range.
    std::string PathFor(int n) const;
    ESource SourceOf(int n) const;
    // Mapped, and its device there as far as the last look knows.
    bool IsPresent(int n) const;
    SEntry Entry(int n) const;
    // Maps COMn to path (demo mode: the simulated device). Out of range is ignored.
    void Map(int n, const std::string& path, ESource source = ESource::Demo);
    // The port list's entry in words: "COM3 — /dev/ttyUSB0 — FTDI FT232R
    // USB UART (A10KXYZ)", "(absent)" added when the device is gone, just
    // "COM5" when unmapped.
    std::string ListText(int n) const;
    // One line for the port list's tool tip, e.g. "/dev/ttyUSB0 (found at start)".
    std::string Description(int n) const;

private:
    mutable std::mutex m_mutex;       // guards m_entries
    SEntry m_entries[kPortCount + 1]; // index 1..8
};
