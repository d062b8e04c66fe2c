#include "serial/SerialDevices.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <dirent.h>

#include "serial/SerialLine.h"

namespace {

namespace fs = std::filesystem;

// Descriptor strings come from the device: at most this much is kept.
constexpr std::size_t kMaxAttribute = 126;
// The USB device sits a few levels above the tty's device directory.
constexpr int kMaxLevelsUp = 8;

// The first line of a sysfs attribute, trimmed, with control bytes made
// visible as '?'. Empty when the file is missing or unreadable.
std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    char buffer[kMaxAttribute + 1];
    in.read(buffer, sizeof buffer);
    std::string text(buffer, static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    text = text.substr(0, text.find('\n'));
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    text.erase(0, std::min(text.size(), text.find_first_not_of(" \t\r")));
    if (text.size() > kMaxAttribute) {
        text.resize(kMaxAttribute);
        // Never end inside a UTF-8 sequence: drop a last one cut short.
        std::size_t start = text.size();
        while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start > 0) {
            const unsigned char lead = static_cast<unsigned char>(text[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (text.size() - (start - 1) < length)
                text.resize(start - 1);
        }
    }
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

bool IsWithin(const fs::path& path, const fs::path& root)
{
    const std::string p = path.string(), r = root.string();
    return p.size() > r.size() && p.compare(0, r.size(), r) == 0 && (r.back() == '/' || p[r.size()] == '/');
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

SUsbIdentity ReadUsbIdentity(const std::string& ttyName, const std::string& sysRoot)
{
    SUsbIdentity identity;
    if (ttyName.empty() || ttyName == "." || ttyName == ".." || ttyName.find('/') != std::string::npos)
        return identity;
    std::error_code error;
    const fs::path root = fs::canonical(sysRoot, error);
    if (error)
        return identity;
    fs::path at = fs::canonical(fs::path(sysRoot) / "class" / "tty" / ttyName / "device", error);
    // Up from the tty's device (a USB interface, or a port below one) to the
    // first directory with a vendor id: the USB device. Never out of sysfs.
    for (int level = 0; !error && level < kMaxLevelsUp && IsWithin(at, root); ++level) {
        if (fs::exists(at / "idVendor", error)) {
            identity.found = true;
            identity.maker = ReadAttribute(at / "manufacturer");
            identity.product = ReadAttribute(at / "product");
            identity.serial = ReadAttribute(at / "serial");
            identity.vendorId = ReadAttribute(at / "idVendor");
            identity.productId = ReadAttribute(at / "idProduct");
            break;
        }
        at = at.parent_path();
    }
    return identity;
}

std::string ResolveDevicePath(const std::string& path)
{
    char resolved[PATH_MAX];
    return !path.empty() && ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<SSerialDevice> ScanSerialDevices(const SDeviceDirs& dirs)
{
    struct SLink {
        std::string path;
        std::string target;
        bool used = false;
    };
    std::vector<SLink> links;
    if (DIR* dir = ::opendir(dirs.byId.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = dirs.byId + "/" + name;
            std::string target = ResolveDevicePath(path);
            if (!target.empty())
                links.push_back({path, std::move(target)});
        }
        ::closedir(dir);
    }
    std::sort(links.begin(), links.end(), [](const SLink& a, const SLink& b) { return a.path < b.path; });

    std::vector<SSerialDevice> devices;
    for (const std::string& node : FindSerialDevices(dirs.dev, dirs.sys + "/class/tty")) {
        SSerialDevice device{node, node, ResolveDevicePath(node), {}};
        if (device.target.empty())
            continue; // a link to a device that is gone
        device.description = DescribeUsbIdentity(ReadUsbIdentity(BaseName(node), dirs.sys));
        for (SLink& link : links) {
            if (!link.used && link.target == device.target) {
                link.used = true;
                device.path = link.path;
                break;
            }
        }
        devices.push_back(std::move(device));
    }
    for (SLink& link : links) {
        if (link.used)
            continue;
        for (SLink& same : links)
            if (same.target == link.target)
                same.used = true;
        devices.push_back(
            {link.path, link.target, link.target, DescribeUsbIdentity(ReadUsbIdentity(BaseName(link.target), dirs.sys))});
    }
    return devices;
}
