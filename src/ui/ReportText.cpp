#include "ui/ReportText.h"

#include <cerrno>
#include <cstdio>
#include <string_view>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
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

#ifdef _WIN32
int WriteReportFile(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".part-" + std::to_string(GetCurrentProcessId());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return errno;
    }
    int error = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (error == 0 && !MoveFileExA(temporary.c_str(), path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = static_cast<int>(GetLastError());
    }
    if (error != 0) {
        std::remove(temporary.c_str());
    }
    return error;
}
#else
int WriteReportFile(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".part-" + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    std::string_view rest = bytes;
    while (error == 0 && !rest.empty()) {
        const ssize_t written = write(fd, rest.data(), rest.size());
        if (written > 0) {
            rest.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno != EINTR) {
            error = errno;
        }
    }
    if (error == 0 && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
    }
    return error;
}
#endif
