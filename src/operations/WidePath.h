#pragma once

// File names travel through the program as UTF-8 on Windows, as the windows give
// them, and reach the Win32 calls as UTF-16, so that a folder such as
// "C:\Users\Müller Ü\Logger" works whatever the ANSI code page can hold.

#ifdef _WIN32
#include <string>
#include <string_view>
#include <windows.h>

inline std::wstring WidePath(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}
#endif
