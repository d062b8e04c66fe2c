#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// Where the port names COM1..COM8 lead on this machine: a device path for
// each, taken from the command line (--port COMn=PATH), then the environment
// (VORLA_COMn), then the serial devices present at start. Built and changed
// on the UI thread before ports are opened; read by CSerialPort::Open.
class CPortMap {
public:
    static constexpr int kPortCount = 8;

    enum class ESource { None, Argument, Environment, Present, Demo };

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

    // The device path of COMn, empty if n is unmapped or out of range.
    std::string PathFor(int n) const;
    ESource SourceOf(int n) const;
    // Maps COMn to path (demo mode: the simulated device). Out of range is ignored.
    void Map(int n, const std::string& path, ESource source = ESource::Demo);
    // One line for the port list's tool tip, e.g. "/dev/ttyUSB0 (found at start)".
    std::string Description(int n) const;

private:
    struct SEntry {
        std::string path;
        ESource source = ESource::None;
    };
    SEntry m_entries[kPortCount + 1]; // index 1..8; UI thread only
};
