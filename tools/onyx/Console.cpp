#include "Console.h"

#include "communication/ResultCodes.h"
#include "files/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
HANDLE HandleOf(ConsoleStream::Which which) {
    return GetStdHandle(which == ConsoleStream::Which::Output ? STD_OUTPUT_HANDLE
                                                              : STD_ERROR_HANDLE);
}

bool IsConsole(ConsoleStream::Which which) {
    DWORD mode = 0;
    return GetConsoleMode(HandleOf(which), &mode) != 0;
}

// UTF-8 through the console's Unicode interface; empty or the reason it failed.
std::string WriteConsoleText(HANDLE console, std::string_view utf8) {
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD written = 0;
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        if (!WriteConsoleW(console, wide.data() + done, part, &written, nullptr) || written == 0) {
            return SystemErrorText(static_cast<std::int32_t>(GetLastError()));
        }
        done += written;
    }
    return {};
}
#endif

int DescriptorOf(ConsoleStream::Which which) {
#ifdef _WIN32
    return _fileno(which == ConsoleStream::Which::Output ? stdout : stderr);
#else
    return which == ConsoleStream::Which::Output ? STDOUT_FILENO : STDERR_FILENO;
#endif
}

// All the bytes to the descriptor; empty or the reason it failed.
std::string WriteAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
#ifdef _WIN32
        const int part = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
        const int written = _write(descriptor, bytes.data(), static_cast<unsigned>(part));
#else
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
#endif
        if (written < 0 && errno == EINTR) {
            continue; // a signal onyx handles, not a failure
        }
        if (written <= 0) {
            return written < 0 ? std::strerror(errno) : "nothing was written";
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

} // namespace

std::string Readable(std::string_view bytes) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        if (const std::size_t length = files::Utf8CharacterAt(bytes, at); length > 0) {
            text.append(bytes.substr(at, length));
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        text += "\\x";
        text += Hex[byte >> 4];
        text += Hex[byte & 0x0F];
    }
    return text;
}

ConsoleStream::ConsoleStream(Which which) : which(which) {}

const char* ConsoleStream::Name() const {
    return which == Which::Output ? "standard output" : "standard error";
}

bool ConsoleStream::IsTerminal() const {
#ifdef _WIN32
    return IsConsole(which); // _isatty is true for NUL too
#else
    return isatty(DescriptorOf(which)) != 0;
#endif
}

std::string ConsoleStream::Failure() const {
    const std::lock_guard lock(mutex);
    return failure;
}

void ConsoleStream::Put(std::string_view bytes, bool text) {
    if (!failure.empty() || bytes.empty()) {
        return; // told once, at the end
    }
#ifdef _WIN32
    if (text && IsConsole(which)) {
        failure = WriteConsoleText(HandleOf(which), bytes);
        return;
    }
    if (!text && !binary) {
        // Without the C library's line-end translation, so the bytes stay as they are.
        _setmode(DescriptorOf(which), _O_BINARY);
        binary = true;
    }
#else
    (void)text;
    (void)binary;
#endif
    failure = WriteAll(DescriptorOf(which), bytes);
}

void ConsoleStream::EndProgressLocked() {
    if (progressOpen) {
        progressOpen = false;
        Put("\n", true);
    }
}

void ConsoleStream::Write(std::string_view text) {
    const std::lock_guard lock(mutex);
    EndProgressLocked();
    if (which == Which::Output) {
        held += Readable(text);
    } else {
        Put(Readable(text), true);
    }
}

void ConsoleStream::Flush() {
    const std::lock_guard lock(mutex);
    Put(held, true);
    held.clear();
}

void ConsoleStream::WriteBinary(std::string_view bytes) {
    const std::lock_guard lock(mutex);
    EndProgressLocked();
    Put(held, true);
    held.clear();
    Put(bytes, false);
}

void ConsoleStream::Progress(std::string_view text) {
    const std::lock_guard lock(mutex);
    Put("\r" + Readable(text), true);
    progressOpen = true;
}

void ConsoleStream::EndProgress() {
    const std::lock_guard lock(mutex);
    EndProgressLocked();
}

ConsoleStream& StandardOutput() {
    static ConsoleStream stream(ConsoleStream::Which::Output);
    return stream;
}

ConsoleStream& StandardError() {
    static ConsoleStream stream(ConsoleStream::Which::Error);
    return stream;
}

int AfterOutput(int status) {
    ConsoleStream& out = StandardOutput();
    ConsoleStream& err = StandardError();
    out.Flush();
    const std::string outFailure = out.Failure();
    if (!outFailure.empty()) {
        err.Write(std::string("onyx: cannot write to standard output: ") + outFailure + "\n");
    }
    const std::string errFailure = err.Failure();
    if (!errFailure.empty() && out.Failure().empty() && out.IsTerminal()) {
        // Told where a person sees it; a script reading the output gets no stray line.
        out.Write(std::string("onyx: cannot write to standard error: ") + errFailure + "\n");
        out.Flush();
    }
    if (outFailure.empty() && errFailure.empty()) {
        return status;
    }
    return status == 0 ? 1 : status;
}
