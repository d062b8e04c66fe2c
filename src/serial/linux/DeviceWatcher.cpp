#include "serial/DeviceWatcher.h"

#include <cerrno>
#include <filesystem>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

struct CDeviceWatcher::Native {
    int fd = -1;                   // the inotify instance; owned
    std::vector<std::string> dirs; // what the owner asked for
    std::vector<int> watchOf;      // each dir's own watch, -1 while it is missing
};

namespace {

// Entries created, removed, renamed or changed (udev sets a new node's group
// and mode after creating it), and the directory itself going away.
constexpr uint32_t kMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Watches each directory that has no watch of its own yet; for one that is
// missing, its nearest existing parent, whose events tell when it appears.
// Every watch uses the same mask, so a parent that is also watched for its
// own sake keeps all its events.
void Arm(CDeviceWatcher::Native& n)
{
    for (std::size_t i = 0; i < n.dirs.size(); ++i) {
        if (n.watchOf[i] >= 0)
            continue;
        n.watchOf[i] = ::inotify_add_watch(n.fd, n.dirs[i].c_str(), kMask);
        if (n.watchOf[i] >= 0 || errno != ENOENT)
            continue;
        std::filesystem::path parent = std::filesystem::path(n.dirs[i]).parent_path();
        while (!parent.empty() && ::inotify_add_watch(n.fd, parent.c_str(), kMask) < 0 && errno == ENOENT) {
            if (parent == parent.parent_path())
                break;
            parent = parent.parent_path();
        }
    }
}

} // namespace

CDeviceWatcher::CDeviceWatcher(const std::vector<std::string>& dirs) : m_native(std::make_unique<Native>())
{
    m_native->dirs = dirs;
    m_native->watchOf.assign(dirs.size(), -1);
    m_native->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_native->fd >= 0)
        Arm(*m_native);
}

CDeviceWatcher::~CDeviceWatcher()
{
    if (m_native->fd >= 0)
        ::close(m_native->fd);
}

int CDeviceWatcher::Descriptor() const { return m_native->fd; }

bool CDeviceWatcher::TakeEvents()
{
    Native& n = *m_native;
    if (n.fd < 0)
        return false;
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(n.fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break; // EAGAIN: nothing more waiting
        any = true;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // A directory moved away is watched again where it is named.
            if (event->mask & IN_MOVE_SELF)
                ::inotify_rm_watch(n.fd, event->wd);
            if (event->mask & IN_IGNORED) {
                for (int& wd : n.watchOf)
                    if (wd == event->wd)
                        wd = -1;
            }
        }
    }
    Arm(n);
    return any;
}

bool CDeviceWatcher::WaitForEvents(int timeoutMs) const
{
    if (m_native->fd < 0)
        return false;
    pollfd p{m_native->fd, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return r > 0;
}
