#pragma once

// Tells when entries appear in, leave or change in a few directories (device
// nodes and the links to them) through a descriptor that becomes readable.
// The owner's event loop watches the descriptor (the main window with a
// QSocketNotifier), so nothing runs while nothing happens and there is no
// thread to stop. The platform folder implements it (serial/linux/ with
// inotify).

#include <memory>
#include <string>
#include <vector>

class CDeviceWatcher {
public:
    // A directory that does not exist yet (/dev/serial/by-id before the
    // first USB adapter) is watched from its nearest existing parent until
    // it appears.
    explicit CDeviceWatcher(const std::vector<std::string>& dirs);
    ~CDeviceWatcher();
    CDeviceWatcher(const CDeviceWatcher&) = delete;
    CDeviceWatcher& operator=(const CDeviceWatcher&) = delete;

    // The descriptor to wait on; -1 when the platform gave no watching (its
    // limits reached): the owner then looks again on a slow timer.
    int Descriptor() const;
    // Reads the events that are waiting, without blocking, and watches the
    // directories that appeared or came back meanwhile. True when there were
    // any: the owner then looks at the directories again.
    bool TakeEvents();
    // For owners without an event loop (tests): waits at most timeoutMs for
    // events; true when some are waiting.
    bool WaitForEvents(int timeoutMs) const;

    struct Native; // the platform's handle, defined in its folder

private:
    std::unique_ptr<Native> m_native;
};
