#pragma once

// <windows.h> for the serial files, beside the project's own control block.
// Windows calls its control block DCB too and defines the parity, stop-bit
// and DTR/RTS constants as macros; serial/Dcb.h keeps the same layout and
// values under the same names. Here the system's block is named WinDcb and
// its macros give way to the project's constants. Include this before any
// other header that might pull in <windows.h>.

#if defined(_WINDOWS_) || defined(_WINBASE_)
#error "serial/win32/WinApi.h must come before <windows.h>"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#define DCB WinDcb
#include <windows.h>
#include <winioctl.h>
#undef DCB

#undef NOPARITY
#undef ODDPARITY
#undef EVENPARITY
#undef MARKPARITY
#undef SPACEPARITY
#undef ONESTOPBIT
#undef ONE5STOPBITS
#undef TWOSTOPBITS
#undef DTR_CONTROL_DISABLE
#undef DTR_CONTROL_ENABLE
#undef DTR_CONTROL_HANDSHAKE
#undef RTS_CONTROL_DISABLE
#undef RTS_CONTROL_ENABLE
#undef RTS_CONTROL_HANDSHAKE
#undef RTS_CONTROL_TOGGLE

#include <string>

namespace win32 {

inline std::wstring WideFromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

inline std::string Utf8FromWide(const wchar_t* text, std::size_t length)
{
    if (length == 0)
        return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The system's words for an error code, as one line without the final
// full stop (like strerror), in UTF-8 whatever the user's code page.
inline std::string SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n && text ? Utf8FromWide(text, n) : std::string();
    if (text)
        ::LocalFree(text);
    for (char& c : message)
        if (c == '\r' || c == '\n')
            c = ' ';
    while (!message.empty() && (message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(error) : message;
}

} // namespace win32
