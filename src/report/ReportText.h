#pragma once

// The diagnostic report for the support desk, built without a window: the body
// taken from the main window, the user's contact details, and the file.

#include <array>
#include <cstdint>
#include <string>

// The seven information label texts of the main window, in report order: model,
// serial number, firmware, battery, charge level, temperature, level.
using ReportLabels = std::array<std::string, 7>;

// The report body: the seven label texts, then "Test1 Passed" to "Test8 Failed" by
// the bits of the self-test result; lines end in '\n', the last line in nothing.
std::string BuildReportBody(const ReportLabels& labels, std::int32_t selfTestResult);

struct ReportContact {
    std::string name;
    std::string company;
    std::string phone;
    std::string fax;
    std::string email;
};

// Why the contact details cannot be taken yet; lengths count characters as typed.
enum class ContactProblem { None, NoName, ShortPhone };
ContactProblem CheckContact(std::size_t nameCharacters, std::size_t phoneCharacters);
const char* ContactProblemMessage(ContactProblem problem);

// The file's bytes: the contact lines, then the body, every line end CR LF and no
// line end after the last line.
std::string ReportFileText(const ReportContact& contact, const std::string& body);

// The report's text (UTF-8, as the windows hold it) in the system's single-byte
// code page: on Windows the ANSI code page, where a character it cannot hold
// becomes '?'; elsewhere the UTF-8 unchanged.
std::string SystemCodePageText(const std::string& utf8);

// The characters of the text (UTF-8) that the system's code page cannot hold, each
// once, in the order they first appear, separated by a blank ("\u03a9 \u674e"); empty
// when it holds them all (always outside Windows, and with a UTF-8 code page).
std::string UnsavableCharacters(const std::string& utf8);
#ifdef _WIN32
// The same for a given Windows code page.
std::string UnsavableCharacters(const std::string& utf8, unsigned codePage);
#endif

// The question asked before a report with such characters is saved.
std::string UnsavableCharactersQuestion(const std::string& characters);

// Writes the report whole or not at all: the text, in the system's code page, goes
// to a file created new beside the target, which then replaces it, so a full disk
// or a failed write never leaves a partial report under the chosen name
// (files::ReplaceFileContents). A read-only report is left as it is and gives the
// system's access-denied code. The path is UTF-8 on Windows. Returns 0 or the
// system's error code (GetLastError's on Windows, errno's elsewhere).
int WriteReportFile(const std::string& path, const std::string& bytes);
