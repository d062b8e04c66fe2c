#include "serial/PortMap.h"

#include <algorithm>
#include <cctype>
#include <iterator>
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
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_entries)
        entry = SEntry();
    auto map = [this](int n, const std::string& path, ESource source) {
        m_entries[n] = SEntry();
        m_entries[n].path = path;
        m_entries[n].source = source;
    };
    for (auto& [n, path] : explicitPaths)
        if (n >= 1 && n <= kPortCount && !path.empty())
            map(n, path, ESource::Argument);
    for (int n = 1; n <= kPortCount; ++n) {
        if (!m_entries[n].path.empty())
            continue;
        std::string var = "VORLA_COM" + std::to_string(n);
        const char* value = getEnv(var.c_str());
        if (value && *value)
            map(n, value, ESource::Environment);
    }
    // Devices already named explicitly do not take a second number.
    auto taken = [this](const std::string& path) {
        for (int n = 1; n <= kPortCount; ++n)
            if (m_entries[n].path == path)
                return true;
        return false;
    };
    // A device named like a port (Windows lists its ports as COM1, COM2...)
    // keeps its own number; the others fill the numbers left, in order.
    for (const auto& path : present) {
        const int own = PortNumber(path);
        if (own && !taken(path) && m_entries[own].path.empty())
            map(own, path, ESource::Present);
    }
    int n = 1;
    for (const auto& path : present) {
        if (taken(path))
            continue;
        while (n <= kPortCount && !m_entries[n].path.empty())
            ++n;
        if (n > kPortCount)
            break;
        map(n, path, ESource::Present);
    }
}

namespace {

bool IsGiven(CPortMap::ESource source)
{
    return source == CPortMap::ESource::Argument || source == CPortMap::ESource::Environment ||
           source == CPortMap::ESource::Demo;
}

// A name found by its node (the device had no by-id link then, or the name
// comes from the devices present at start): the node is its identity.
bool NamedByNode(const CPortMap::SEntry& entry)
{
    return entry.node.empty() || entry.path == entry.node;
}

bool SameShown(const CPortMap::SEntry& a, const CPortMap::SEntry& b)
{
    return a.path == b.path && a.source == b.source && a.present == b.present && a.node == b.node &&
           a.description == b.description;
}

} // namespace

bool CPortMap::Update(const std::vector<SSerialDevice>& devices,
                      const std::function<std::string(const std::string&)>& resolve, int keep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SEntry before[kPortCount + 1];
    std::copy(std::begin(m_entries), std::end(m_entries), std::begin(before));
    std::vector<bool> taken(devices.size(), false);
    auto take = [&](const std::string& target) {
        for (std::size_t j = 0; j < devices.size(); ++j)
            if (devices[j].target == target)
                taken[j] = true;
    };
    auto seen = [&](SEntry& entry, const SSerialDevice& device) {
        entry.present = true;
        entry.node = device.node;
        entry.description = device.description;
        take(device.target);
    };

    // Given paths lead where they lead; the device behind one takes no
    // second name.
    for (int n = 1; n <= kPortCount; ++n) {
        SEntry& entry = m_entries[n];
        if (entry.path.empty() || !IsGiven(entry.source))
            continue;
        const std::string target = resolve(entry.path);
        entry.present = !target.empty();
        if (!entry.present)
            continue;
        entry.node = target;
        entry.description.clear();
        for (const SSerialDevice& device : devices)
            if (device.target == target)
                seen(entry, device);
        take(target);
    }
    // Devices found earlier, by their stable path.
    std::vector<int> unmatched;
    for (int n = 1; n <= kPortCount; ++n) {
        SEntry& entry = m_entries[n];
        if (entry.path.empty() || IsGiven(entry.source))
            continue;
        bool found = false;
        for (std::size_t j = 0; j < devices.size() && !found; ++j) {
            if (!taken[j] && devices[j].path == entry.path) {
                seen(entry, devices[j]);
                found = true;
            }
        }
        if (!found)
            unmatched.push_back(n);
    }
    // Names found by their node follow the node to its by-id link once udev
    // has made one. A name that stood for a node now named by its link
    // elsewhere (the node appeared before its link) goes.
    for (int n : unmatched) {
        SEntry& entry = m_entries[n];
        entry.present = false;
        if (!NamedByNode(entry))
            continue;
        for (std::size_t j = 0; j < devices.size() && !entry.present; ++j) {
            if (!taken[j] && devices[j].node == entry.path) {
                entry.path = devices[j].path;
                seen(entry, devices[j]);
            }
        }
        if (entry.present || n == keep)
            continue;
        for (std::size_t j = 0; j < devices.size(); ++j) {
            if (taken[j] && devices[j].node == entry.path) {
                entry = SEntry();
                break;
            }
        }
    }
    // New devices take free names.
    for (std::size_t j = 0; j < devices.size(); ++j) {
        if (taken[j])
            continue;
        const int own = PortNumber(devices[j].path);
        int free = own && m_entries[own].path.empty() ? own : 0;
        for (int n = 1; n <= kPortCount && !free; ++n)
            if (m_entries[n].path.empty())
                free = n;
        for (int n = 1; n <= kPortCount && !free; ++n)
            if (!m_entries[n].present && !IsGiven(m_entries[n].source) && n != keep)
                free = n;
        if (!free)
            break;
        m_entries[free] = SEntry{devices[j].path, ESource::Plugged, true, {}, {}};
        seen(m_entries[free], devices[j]);
    }
    for (int n = 1; n <= kPortCount; ++n)
        if (!SameShown(before[n], m_entries[n]))
            return true;
    return false;
}

std::string CPortMap::PathFor(int n) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return n >= 1 && n <= kPortCount ? m_entries[n].path : std::string();
}

CPortMap::ESource CPortMap::SourceOf(int n) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return n >= 1 && n <= kPortCount ? m_entries[n].source : ESource::None;
}

bool CPortMap::IsPresent(int n) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return n >= 1 && n <= kPortCount && !m_entries[n].path.empty() && m_entries[n].present;
}

CPortMap::SEntry CPortMap::Entry(int n) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return n >= 1 && n <= kPortCount ? m_entries[n] : SEntry();
}

void CPortMap::Map(int n, const std::string& path, ESource source)
{
    if (n < 1 || n > kPortCount)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[n] = SEntry();
    m_entries[n].path = path;
    m_entries[n].source = path.empty() ? ESource::None : source;
}

std::string CPortMap::ListText(int n) const
{
    const SEntry entry = Entry(n);
    std::string text = "COM" + std::to_string(n);
    if (entry.path.empty())
        return text;
    text += " — " + (entry.node.empty() ? entry.path : entry.node);
    if (!entry.description.empty())
        text += " — " + entry.description;
    if (!entry.present)
        text += " (absent)";
    return text;
}

std::string CPortMap::Description(int n) const
{
    const SEntry entry = Entry(n);
    const std::string name = "COM" + std::to_string(n);
    std::string origin;
    switch (entry.source) {
    case ESource::Argument: origin = "from --port"; break;
    case ESource::Environment: origin = "from VORLA_" + name; break;
    case ESource::Present: origin = "found at start"; break;
    case ESource::Plugged: origin = "plugged in"; break;
    case ESource::Demo: origin = "simulated modem"; break;
    case ESource::None: return name + " is not mapped to a device";
    }
    return entry.path + " (" + origin + (entry.present ? "" : ", absent") + ")";
}
