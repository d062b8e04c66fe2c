#include "TestPlatform.h"

#include <windows.h>

namespace {

// Wine's ntdll exports wine_get_version; Windows' does not.
bool UnderWine()
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

} // namespace

std::string WhyNot(ELimit limit)
{
    switch (limit) {
    case ELimit::ModemLinesOnTestDevices:
        return UnderWine() ? "Wine serves the COM port from a pseudo-terminal, whose modem-line calls fail "
                             "with Windows' own words instead of Linux's"
                           : "";
    case ELimit::TclChannelSeesHangUp:
        return UnderWine() ? "under Wine, Tcl's serial channel on a pseudo-terminal does not see the device go" : "";
    case ELimit::RemoveCurrentDirectory:
        return "Windows does not remove a directory that a process has as its current directory";
    case ELimit::AnyByteInFileNames:
        return "Windows file names cannot hold '\\', '\"', newlines or control bytes";
    case ELimit::LongWorkingDirectory:
        return "Windows cannot make a directory longer than MAX_PATH current, and names it with '\\'";
    }
    return {};
}

std::string MissingPortPath() { return "COM77"; }
