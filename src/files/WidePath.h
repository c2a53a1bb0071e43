#pragma once

// File names travel through the program as UTF-8 on Windows, as the windows give
// them (FileNameBytes), and reach the Win32 calls as UTF-16, so that a folder such as
// "C:\Users\Jürgen Ζωή 李\Logger" works whatever the ANSI code page can hold. No file
// name passes through the ANSI code page: every file the program opens by name (the
// dump, the report, the calibration log, the link trace) goes through WidePath, or
// through OpenFile for the C library's streams, and reaches the system through
// LongPath, so that a path past MAX_PATH characters works as well.

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

// The path as the Win32 file calls take it. One whose full form is MAX_PATH
// characters or longer gets the long-path prefix ("\\?\C:\…", "\\?\UNC\server\share\…"),
// which every Windows takes whether or not long paths are enabled for the PC: behind
// the prefix the system neither turns '/' into '\' nor resolves "." and "..", so the
// full form (GetFullPathNameW, relative to the current folder) goes behind it. A path
// that fits, and one in a namespace of its own ("\\?\", "\\.\"), stays as it is.
inline std::wstring LongPath(const std::wstring& path) {
    const auto inNamespace = [](const std::wstring& name) {
        return name.size() >= 4 && name[0] == L'\\' && name[1] == L'\\' &&
               (name[2] == L'?' || name[2] == L'.') && name[3] == L'\\';
    };
    if (path.empty() || inNamespace(path)) {
        return path;
    }
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length); // the size asked for counts the terminating null
        length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size() || length < MAX_PATH) {
        return path;
    }
    full.resize(length);
    if (inNamespace(full)) {
        return full; // a device name at the end of the path ("\\.\NUL")
    }
    if (full.size() > 2 && full[0] == L'\\' && full[1] == L'\\') {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

inline std::wstring LongPath(std::string_view utf8) {
    return LongPath(WidePath(utf8));
}
#endif

// std::fopen for a name as the program holds it: UTF-8 on Windows (opened as
// UTF-16), the local encoding elsewhere. Null and errno set when it cannot be opened.
inline std::FILE* OpenFile(const std::string& name, const char* mode) {
#ifdef _WIN32
    return _wfopen(LongPath(name).c_str(), WidePath(mode).c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}
