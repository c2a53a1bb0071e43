#pragma once

// onyx's standard output and standard error. Every write is checked: a full disk
// or a closed pipe is remembered, told at the end on the stream that still works,
// and makes the run end with status 1, so a bench script never takes a run whose
// output was lost for a good one.
//
// Texts are UTF-8; a byte that is not part of a UTF-8 character (a Linux file
// name in another encoding) is shown as \xHH. On a Windows console the text goes
// through the console's Unicode interface, so every name shows as typed; redirected
// it stays UTF-8.

#include <mutex>
#include <string>
#include <string_view>

class ConsoleStream {
public:
    enum class Which { Output, Error };
    explicit ConsoleStream(Which which);
    ConsoleStream(const ConsoleStream&) = delete;
    ConsoleStream& operator=(const ConsoleStream&) = delete;

    // Text, made readable; an open progress line is ended first, so every message
    // starts on a line of its own. Standard output keeps it until Flush, so that a
    // document reaches a pipe in one write, before its reader may have gone.
    void Write(std::string_view text);
    void Flush();
    // Bytes as they are (a dump or a report written to standard output).
    void WriteBinary(std::string_view bytes);
    // "\r" and the text, over the previous progress line; ended by the next Write
    // or by EndProgress.
    void Progress(std::string_view text);
    void EndProgress();

    bool IsTerminal() const;
    // "standard output" or "standard error".
    const char* Name() const;
    // The reason the first failed write gave; empty while every write succeeded.
    std::string Failure() const;

private:
    void Put(std::string_view bytes, bool text); // under the lock
    void EndProgressLocked();

    Which which;
    mutable std::mutex mutex;
    bool progressOpen = false;
    bool binary = false;
    std::string held; // standard output's text until Flush
    std::string failure;
};

ConsoleStream& StandardOutput();
ConsoleStream& StandardError();

// The text with every byte that does not belong to a whole UTF-8 character
// written as \xHH (upper-case hex), so a name in any encoding can be shown and
// put into JSON without being changed into another name.
std::string Readable(std::string_view bytes);

// After the commands: a failed write told on the stream that still works
// ("onyx: cannot write to standard output: No space left on device"), and the
// exit status made 1 when it was 0.
int AfterOutput(int status);
