#include "report/ReportText.h"

#include "files/FileSystem.h"

#include <algorithm>
#include <vector>
#ifdef _WIN32
#include "files/WidePath.h"

#include <windows.h>
#endif

std::string BuildReportBody(const ReportLabels& labels, std::int32_t selfTestResult) {
    std::string body;
    for (const std::string& label : labels) {
        body += label;
        body += '\n';
    }
    for (int test = 1; test <= 8; ++test) {
        const bool failed = ((static_cast<std::uint32_t>(selfTestResult) >> (test - 1)) & 1u) != 0;
        body += "Test" + std::to_string(test) + (failed ? " Failed" : " Passed");
        if (test < 8) {
            body += '\n';
        }
    }
    return body;
}

ContactProblem CheckContact(std::size_t nameCharacters, std::size_t phoneCharacters) {
    if (nameCharacters == 0) {
        return ContactProblem::NoName;
    }
    // Any ten characters will do: spaces, dashes and brackets count like digits.
    if (phoneCharacters < 10) {
        return ContactProblem::ShortPhone;
    }
    return ContactProblem::None;
}

const char* ContactProblemMessage(ContactProblem problem) {
    switch (problem) {
    case ContactProblem::NoName:
        return "Please enter your name";
    case ContactProblem::ShortPhone:
        return "Please enter your phone number (at least 10 digits)";
    case ContactProblem::None:
        break;
    }
    return "";
}

std::string ReportFileText(const ReportContact& contact, const std::string& body) {
    const std::string text = "Name=" + contact.name + "\nCompany=" + contact.company +
                             "\nPhoneNo=" + contact.phone + "\nFaxNo=" + contact.fax +
                             "\nEmail=" + contact.email + "\n" + body;
    // Every line feed becomes CR LF on every platform, as the support desk's tools expect.
    std::string bytes;
    bytes.reserve(text.size() + 32);
    for (char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

std::string UnsavableCharactersQuestion(const std::string& characters) {
    return "These characters cannot be saved in this PC's character set and would appear as "
           "'?': " +
           characters + ". Save anyway?";
}

#ifdef _WIN32
std::string SystemCodePageText(const std::string& utf8) {
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8 || utf8.empty()) {
        return utf8;
    }
    const std::wstring wide = WidePath(utf8);
    const int size = static_cast<int>(wide.size());
    // No best fit: a character the code page cannot hold becomes '?', not a look-alike.
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                           nullptr, 0, "?", nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, text.data(), length, "?",
                        nullptr);
    return text;
}

std::string UnsavableCharacters(const std::string& utf8, unsigned codePage) {
    if (codePage == CP_UTF8 || utf8.empty()) {
        return {};
    }
    const std::wstring wide = WidePath(utf8);
    std::vector<std::wstring> found;
    for (std::size_t at = 0; at < wide.size();) {
        // One character: a surrogate pair is one.
        const std::size_t units =
            (wide[at] >= 0xD800 && wide[at] <= 0xDBFF && at + 1 < wide.size()) ? 2 : 1;
        const std::wstring character = wide.substr(at, units);
        at += units;
        BOOL replaced = FALSE;
        char bytes[8];
        const int length =
            WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, character.data(),
                                static_cast<int>(units), bytes, sizeof bytes, "?", &replaced);
        if ((length == 0 || replaced) &&
            std::find(found.begin(), found.end(), character) == found.end()) {
            found.push_back(character);
        }
    }
    std::string list;
    for (const std::wstring& character : found) {
        const int size = static_cast<int>(character.size());
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, character.data(), size, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, character.data(), size, text.data(), length, nullptr,
                            nullptr);
        list += (list.empty() ? "" : " ") + text;
    }
    return list;
}

std::string UnsavableCharacters(const std::string& utf8) {
    return UnsavableCharacters(utf8, GetACP());
}
#else
std::string SystemCodePageText(const std::string& utf8) {
    return utf8;
}

std::string UnsavableCharacters(const std::string&) {
    return {};
}
#endif

int WriteReportFile(const std::string& path, const std::string& bytes) {
    // A read-only report comes back with the system's access-denied code.
    return static_cast<int>(
        files::ReplaceFileContents(files::PathFromName(path), SystemCodePageText(bytes))
            .systemError);
}
