#include "serial/PortMap.h"

#include <cctype>
#include <cstdlib>

#include "serial/SerialLine.h"

namespace {

bool ParseMapping(const std::string& text, std::map<int, std::string>& paths, std::string& error)
{
    auto eq = text.find('=');
    if (eq == std::string::npos) {
        error = "--port " + text + ": expected COMn=PATH, e.g. --port COM1=/dev/ttyUSB0";
        return false;
    }
    std::string name = text.substr(0, eq);
    for (auto& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string path = text.substr(eq + 1);
    int n = CPortMap::PortNumber(name);
    if (n == 0) {
        error = "--port " + text + ": the port name must be COM1 to COM8";
        return false;
    }
    if (path.empty()) {
        error = "--port " + text + ": the device path is empty";
        return false;
    }
    paths[n] = path;
    return true;
}

} // namespace

bool CPortMap::ParseArguments(int argc, const char* const* argv, std::map<int, std::string>& paths,
                              std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        if (!argv[i])
            continue;
        std::string arg = argv[i];
        if (arg == "--port") {
            if (i + 1 >= argc || !argv[i + 1]) {
                error = "--port needs COMn=PATH, e.g. --port COM1=/dev/ttyUSB0";
                return false;
            }
            if (!ParseMapping(argv[++i], paths, error))
                return false;
        } else if (arg.compare(0, 7, "--port=") == 0) {
            if (!ParseMapping(arg.substr(7), paths, error))
                return false;
        }
    }
    return true;
}

int CPortMap::PortNumber(const std::string& name)
{
    if (name.size() != 4 || name.compare(0, 3, "COM") != 0)
        return 0;
    char digit = name[3];
    return digit >= '1' && digit <= '0' + kPortCount ? digit - '0' : 0;
}

void CPortMap::Build(const std::map<int, std::string>& explicitPaths)
{
    Build(explicitPaths, [](const char* name) { return std::getenv(name); }, FindSerialDevices());
}

void CPortMap::Build(const std::map<int, std::string>& explicitPaths,
                     const std::function<const char*(const char*)>& getEnv, const std::vector<std::string>& present)
{
    for (auto& entry : m_entries)
        entry = SEntry();
    for (auto& [n, path] : explicitPaths)
        Map(n, path, ESource::Argument);
    for (int n = 1; n <= kPortCount; ++n) {
        if (!m_entries[n].path.empty())
            continue;
        std::string var = "VORLA_COM" + std::to_string(n);
        const char* value = getEnv(var.c_str());
        if (value && *value)
            Map(n, value, ESource::Environment);
    }
    // Devices already named explicitly do not take a second number.
    auto taken = [this](const std::string& path) {
        for (int n = 1; n <= kPortCount; ++n)
            if (m_entries[n].path == path)
                return true;
        return false;
    };
    int n = 1;
    for (const auto& path : present) {
        if (taken(path))
            continue;
        while (n <= kPortCount && !m_entries[n].path.empty())
            ++n;
        if (n > kPortCount)
            break;
        Map(n, path, ESource::Present);
    }
}

std::string CPortMap::PathFor(int n) const
{
    return n >= 1 && n <= kPortCount ? m_entries[n].path : std::string();
}

CPortMap::ESource CPortMap::SourceOf(int n) const
{
    return n >= 1 && n <= kPortCount ? m_entries[n].source : ESource::None;
}

void CPortMap::Map(int n, const std::string& path, ESource source)
{
    if (n < 1 || n > kPortCount)
        return;
    m_entries[n].path = path;
    m_entries[n].source = path.empty() ? ESource::None : source;
}

std::string CPortMap::Description(int n) const
{
    const std::string name = "COM" + std::to_string(n);
    switch (SourceOf(n)) {
    case ESource::Argument: return PathFor(n) + " (from --port)";
    case ESource::Environment: return PathFor(n) + " (from VORLA_" + name + ")";
    case ESource::Present: return PathFor(n) + " (found at start)";
    case ESource::Demo: return PathFor(n) + " (simulated modem)";
    case ESource::None: break;
    }
    return name + " is not mapped to a device";
}
