#pragma once

// What the main window shows, computed without a window: the self-test
// presentation, the dump file's default name, and the dump outcome messages.

#include "operations/Operations.h"

#include <array>
#include <cstdint>
#include <string>

// The rows of the self-test area for one result.
struct SelfTestView {
    std::array<bool, 8> failed{}; // per test 1 to 8: cross and advice line when true
    int failures = 0;             // set bits of the whole result
    bool headingVisible = false;
    std::string summary; // "Passed all tests!" or "Failed N tests."
};
SelfTestView PresentSelfTest(std::int32_t result);

// The self-test rows as the window's form writes them: the caption of test 1 to 8
// and the advice shown beside it when it failed; the heading above the advice.
const char* SelfTestCaption(int test);
const char* SelfTestSolution(int test);
constexpr const char* SolutionHeading = "Solution on failed test";
// The two advice lines shown under the live readings.
constexpr const char* ReadingSolution1 = "If the reading is not in the expected range, ";
constexpr const char* ReadingSolution2 = "send report to Corvane.";

// The dump file name proposed from the information labels: model and serial label
// texts joined by '_' with everything but ASCII letters and digits made '_', or
// "WSOnyx_Mem_Dump" when the serial label is empty.
std::string DefaultDumpName(const std::string& modelLabel, const std::string& serialLabel);

// The chosen name with "." + extension appended when its last path component has none.
std::string CompleteFileName(const std::string& chosen, const std::string& extension);

// A path as the platform writes it in messages: '\\' for '/' on Windows.
std::string NativeSeparators(std::string path);

// The message box that reports a dump's result: the dump's own first line, then
// what went wrong and what the file now holds. port is the COM port entry, file
// the dump file's name (shown with the platform's separators).
struct DumpOutcome {
    std::string text;
    const char* caption;
    bool warning; // warning icon, else none
};
DumpOutcome DumpOutcomeFor(const LinkOutcome& result, const DumpRecord& record = {},
                           const std::string& port = {}, const std::string& file = {});

// The progress text shown beside the bar while a dump runs: "Block n of 1056".
std::string DumpProgressText(std::uint32_t blocks);
