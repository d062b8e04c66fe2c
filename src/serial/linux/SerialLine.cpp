#include "serial/SerialLine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/CancelSignal.h"
#include "serial/linux/LineNative.h"
#include "serial/linux/LineSettings.h"
#include "serial/SerialDevices.h"

namespace {

bool IsLineGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF;
}

CSerialLine::EOpenFailure OpenFailure(int err, const std::string& path, std::string& reason)
{
    using EOpenFailure = CSerialLine::EOpenFailure;
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        reason = "no such device";
        return EOpenFailure::NoDevice;
    case EACCES:
    case EPERM:
        reason = PermissionDeniedReason(path);
        return EOpenFailure::Permission;
    case EBUSY:
    case EWOULDBLOCK:
        reason = "busy (held by another program)";
        return EOpenFailure::Busy;
    case ENOTTY:
        reason = "not a serial device";
        return EOpenFailure::NotSerial;
    default:
        reason = std::strerror(err);
        return EOpenFailure::Other;
    }
}

std::string GroupName(gid_t gid)
{
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

bool SessionHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(0, count), gid) != groups.begin() + std::max(0, count);
}

// The user's groups as the group database lists them now: a group added
// since the session began is there, though the session lacks it.
bool UserListedInGroup(gid_t gid)
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// A driver without modem-control support answers ENOTTY (pseudo-terminals,
// most USB adapters); some older ones answer EINVAL.
CSerialLine::EControl ControlFailure(std::string& reason)
{
    const int err = errno;
    reason = std::strerror(err);
    const bool unsupported = err == ENOTTY || err == EINVAL || err == EOPNOTSUPP;
    return unsupported ? CSerialLine::EControl::Unsupported : CSerialLine::EControl::Failed;
}

CSerialLine::EControl ReadLines(int fd, SModemLines& lines, std::string& reason)
{
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0)
        return ControlFailure(reason);
    lines.cts = (bits & TIOCM_CTS) != 0;
    lines.dsr = (bits & TIOCM_DSR) != 0;
    lines.ri = (bits & TIOCM_RNG) != 0;
    lines.dcd = (bits & TIOCM_CAR) != 0;
    lines.dtr = (bits & TIOCM_DTR) != 0;
    lines.rts = (bits & TIOCM_RTS) != 0;
    return CSerialLine::EControl::Done;
}

CSerialLine::EControl NotOpen(std::string& reason)
{
    reason = "the port is not open";
    return CSerialLine::EControl::Failed;
}

} // namespace

// The wake-up is the last call, so that errno still says why when it fails.
CLineWakeup::CLineWakeup() : m_native(std::make_unique<Native>())
{
    m_native->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CLineWakeup::~CLineWakeup()
{
    if (m_native->fd >= 0)
        ::close(m_native->fd);
}

bool CLineWakeup::IsValid() const { return m_native->fd >= 0; }

void CLineWakeup::Raise()
{
    uint64_t one = 1;
    // The counter only grows; a full counter (never in practice) is still
    // readable, which is all the waits look at.
    [[maybe_unused]] ssize_t n = ::write(m_native->fd, &one, sizeof one);
}

CSerialLine::CSerialLine() : m_native(std::make_unique<Native>()) {}

CSerialLine::~CSerialLine()
{
    Close();
}

bool CSerialLine::IsOpen() const { return m_native->fd >= 0; }

bool CSerialLine::Open(const std::string& path, std::string& reason, EOpenFailure* failure)
{
    Close();
    auto fail = [&](int err) {
        const EOpenFailure kind = OpenFailure(err, path, reason);
        if (failure)
            *failure = kind;
        return false;
    };
    if (failure)
        *failure = EOpenFailure::None;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // Take the lock before touching any setting, so a line held by another
    // program is left exactly as it is.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err == EWOULDBLOCK ? EBUSY : err);
    }
    Native& line = *m_native;
    line = Native();
    if (::ioctl(fd, TIOCEXCL) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err == EINVAL ? ENOTTY : err);
    }
    if (!linux_line::SaveLine(fd, line.saved) || !linux_line::MakeRaw(fd)) {
        int err = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return fail(err == EINVAL ? ENOTTY : err);
    }
    line.fd = fd;
    return true;
}

void CSerialLine::Close()
{
    Native& line = *m_native;
    if (line.fd < 0)
        return;
    linux_line::RestoreLine(line.fd, line.saved, line.rs485Changed);
    // The exclusive flag belongs to the device, not to this descriptor: it
    // would outlive us while another descriptor (a simulator's) stays open.
    ::ioctl(line.fd, TIOCNXCL);
    ::close(line.fd); // also drops the flock
    line.fd = -1;
}

CSerialLine::EWait CSerialLine::WaitReadable(const CLineWakeup& wake) const
{
    for (;;) {
        pollfd fds[2] = {{m_native->fd, POLLIN, 0}, {wake.m_native->fd, POLLIN, 0}};
        int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return EWait::Ended;
        }
        if (fds[1].revents)
            return EWait::Woken;
        // Bytes that arrived before a hang-up are read first; the read that
        // follows them reports the end.
        if (fds[0].revents & POLLIN)
            return EWait::Readable;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return EWait::Ended;
    }
}

long CSerialLine::Read(char* buffer, std::size_t size) const
{
    for (;;) {
        ssize_t n = ::read(m_native->fd, buffer, size);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0)
            return -1; // end of file: the terminal was hung up
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

CSerialLine::EWrite CSerialLine::WriteByte(unsigned char byte, int timeoutMs, const CLineWakeup& wake,
                                           const CCancelSignal* cancel, int& error) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = m_native->fd;
    error = 0;
    // The cancel signal gets a descriptor of its own only when the driver has
    // no room: most bytes go out at the first write and need none. Declared
    // before the subscription that raises it, so it outlives it.
    std::unique_ptr<CLineWakeup> cancelWake;
    CCancelSignal::Subscription raiseOnCancel;
    for (;;) {
        ssize_t n = ::write(fd, &byte, 1);
        if (n == 1)
            return EWrite::Written;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            return IsLineGone(error) ? EWrite::Ended : EWrite::Failed;
        }
        // The driver's buffer is full (flow control holds the line): wait for
        // room, for the wake-up, for cancel or for the time-out.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return EWrite::TimedOut;
        if (cancel && !cancelWake) {
            // Without a descriptor (none left) the wait still ends at the time-out.
            cancelWake = std::make_unique<CLineWakeup>();
            if (cancelWake->IsValid())
                raiseOnCancel = cancel->OnCancel([w = cancelWake.get()] { w->Raise(); });
        }
        if (cancel && cancel->IsCancelled())
            return EWrite::Woken;
        const int cancelFd = cancelWake ? cancelWake->m_native->fd : -1; // poll skips a negative descriptor
        pollfd fds[3] = {{fd, POLLOUT, 0}, {wake.m_native->fd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        int r = ::poll(fds, 3, static_cast<int>(left));
        if (r < 0 && errno != EINTR) {
            error = errno;
            return EWrite::WaitFailed;
        }
        if (r > 0 && (fds[1].revents || fds[2].revents))
            return EWrite::Woken;
        if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)))
            return EWrite::Ended;
    }
}

CSerialLine::EControl CSerialLine::SetOutputLine(EOutputLine line, bool asserted, std::string& reason)
{
    if (m_native->fd < 0)
        return NotOpen(reason);
    int bit = line == EOutputLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(m_native->fd, asserted ? TIOCMBIS : TIOCMBIC, &bit) != 0)
        return ControlFailure(reason);
    return EControl::Done;
}

CSerialLine::EControl CSerialLine::ReadModemLines(SModemLines& lines, std::string& reason) const
{
    if (m_native->fd < 0)
        return NotOpen(reason);
    return ReadLines(m_native->fd, lines, reason);
}

CSerialLine::EControl CSerialLine::SetBreak(bool on, std::string& reason)
{
    if (m_native->fd < 0)
        return NotOpen(reason);
    if (::ioctl(m_native->fd, on ? TIOCSBRK : TIOCCBRK) != 0)
        return ControlFailure(reason);
    return EControl::Done;
}

CSerialLine::EControl ReadModemLinesOf(void* handle, SModemLines& lines, std::string& reason)
{
    // Tcl keeps a descriptor in the pointer-sized handle.
    return ReadLines(static_cast<int>(reinterpret_cast<intptr_t>(handle)), lines, reason);
}

std::string PermissionDeniedReason(const std::string& path)
{
    std::string device = ResolveDevicePath(path);
    if (device.empty())
        device = path;
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return "permission denied";
    const std::string group = GroupName(st.st_gid);
    const std::string prefix = "permission denied: " + device + " belongs to group " + group;
    if (SessionHasGroup(st.st_gid)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return prefix + ", which this session is in, but its mode " + mode +
               " does not let the group read and write it";
    }
    if (st.st_gid == 0)
        return prefix + " only; a udev rule must give it a group such as dialout (GROUP=\"dialout\"), "
                        "then add yourself to that group";
    if (UserListedInGroup(st.st_gid))
        return prefix + "; you were added to " + group + " after this session began: log in again";
    return prefix + "; add yourself with: sudo usermod -aG " + group + " $USER, then log in again";
}

std::vector<std::string> FindSerialDevices(const std::string& devDir, const std::string& sysDir)
{
    static const char* const kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<std::pair<unsigned long, std::string>> found[3];
    if (DIR* dir = ::opendir(devDir.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            for (int f = 0; f < 3; ++f) {
                std::string prefix = kFamilies[f];
                if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
                    continue;
                std::string digits = name.substr(prefix.size());
                if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](char c) {
                        return c >= '0' && c <= '9';
                    }))
                    continue;
                // The kernel makes ttyS0..ttyS31 whether or not a UART sits
                // behind them; the port type in sysfs is 0 for the empty ones.
                if (f == 2) {
                    std::ifstream type(sysDir + "/" + name + "/type");
                    int value = -1;
                    if (type >> value && value == 0)
                        continue;
                }
                found[f].emplace_back(std::stoul(digits), devDir + "/" + name);
            }
        }
        ::closedir(dir);
    }
    std::vector<std::string> paths;
    for (auto& family : found) {
        std::sort(family.begin(), family.end());
        for (auto& entry : family)
            paths.push_back(entry.second);
    }
    return paths;
}
