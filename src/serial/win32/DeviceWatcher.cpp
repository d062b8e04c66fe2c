#include "serial/win32/WinApi.h"

#include "serial/DeviceWatcher.h"

// Windows lists its serial ports in one registry key; a port that comes or
// goes changes its values. The key only exists once a port has been seen
// since start-up, so until then its parent is watched for it to appear.
// There is no descriptor for a Qt socket notifier: the owner looks again on
// its slow timer and TakeEvents tells whether anything changed.

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr wchar_t kDeviceMapKey[] = L"HARDWARE\\DEVICEMAP";
constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// Keeps the request alive when the thread that made it ends (Windows 8 and
// later); older systems refuse it and are asked without.
constexpr DWORD kThreadAgnostic = 0x10000000L;

} // namespace

struct CDeviceWatcher::Native {
    HKEY key = nullptr;     // SERIALCOMM, or DEVICEMAP while SERIALCOMM is missing
    bool whole = false;     // `key` is SERIALCOMM itself
    HANDLE event = nullptr; // manual-reset, set by the registry on a change
};

namespace {

bool Notify(CDeviceWatcher::Native& n, bool subtree)
{
    if (::RegNotifyChangeKeyValue(n.key, subtree, kChanges | kThreadAgnostic, n.event, TRUE) == ERROR_SUCCESS)
        return true;
    return ::RegNotifyChangeKeyValue(n.key, subtree, kChanges, n.event, TRUE) == ERROR_SUCCESS;
}

// (Re)opens the key to watch and asks for the next change. False when
// nothing can be watched.
bool Arm(CDeviceWatcher::Native& n)
{
    if (!n.whole) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_NOTIFY | KEY_QUERY_VALUE, &key) ==
            ERROR_SUCCESS) {
            if (n.key)
                ::RegCloseKey(n.key);
            n.key = key;
            n.whole = true;
        } else if (!n.key &&
                   ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_NOTIFY, &n.key) != ERROR_SUCCESS) {
            n.key = nullptr;
            return false;
        }
    }
    // SERIALCOMM is deleted only at shut-down; its values are what changes.
    return Notify(n, !n.whole);
}

void Disarm(CDeviceWatcher::Native& n)
{
    if (n.key)
        ::RegCloseKey(n.key); // also ends the pending request
    if (n.event)
        ::CloseHandle(n.event);
    n = CDeviceWatcher::Native();
}

} // namespace

// The directories are Linux's; Windows has only the one list.
CDeviceWatcher::CDeviceWatcher(const std::vector<std::string>&) : m_native(std::make_unique<Native>())
{
    m_native->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_native->event || !Arm(*m_native))
        Disarm(*m_native);
}

CDeviceWatcher::~CDeviceWatcher()
{
    Disarm(*m_native);
}

int CDeviceWatcher::Descriptor() const { return -1; }

bool CDeviceWatcher::TakeEvents()
{
    Native& n = *m_native;
    if (!n.event || ::WaitForSingleObject(n.event, 0) != WAIT_OBJECT_0)
        return false;
    // Reset before asking again: a change after this sets it anew.
    ::ResetEvent(n.event);
    if (!Arm(n))
        Disarm(n);
    return true;
}

bool CDeviceWatcher::WaitForEvents(int timeoutMs) const
{
    if (!m_native->event)
        return false;
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    return ::WaitForSingleObject(m_native->event, wait) == WAIT_OBJECT_0;
}
