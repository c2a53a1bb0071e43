#pragma once

// File names travel through the program as UTF-8 on Windows, as the windows give
// them (FileNameBytes), and reach the Win32 calls as UTF-16, so that a folder such as
// "C:\Users\Jürgen Ζωή 李\Logger" works whatever the ANSI code page can hold. No file
// name passes through the ANSI code page: every file the program opens by name (the
// dump, the report, the calibration log, the link trace) goes through WidePath, or
// through OpenFile for the C library's streams.

#include <cstdio>
#include <string>
#include <string_view>

#ifdef _WIN32
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

// std::fopen for a name as the program holds it: UTF-8 on Windows (opened as
// UTF-16), the local encoding elsewhere. Null and errno set when it cannot be opened.
inline std::FILE* OpenFile(const std::string& name, const char* mode) {
#ifdef _WIN32
    return _wfopen(WidePath(name).c_str(), WidePath(mode).c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}
