// The Win32 branches of the program's file writing: the report file, the memory
// dump file, the trace, the calibration log's files and lock, at any path length.

#include "communication/LinkTrace.h"
#include "communication/ResultCodes.h"
#include "files/FileSystem.h"
#include "files/WidePath.h"
#include "operations/DumpFile.h"
#include "report/ReportText.h"

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The tests' own way past MAX_PATH characters, where the C library's calls stop
// (std::filesystem's listing and removal do even with the long form, under Wine too).
std::filesystem::path Long(const std::filesystem::path& path) {
    return L"\\\\?\\" + path.native();
}

std::vector<std::wstring> Entries(const std::filesystem::path& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Long(folder / L"*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") {
            names.emplace_back(found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return names;
}

void RemoveTree(const std::filesystem::path& folder) {
    for (const std::wstring& name : Entries(folder)) {
        if (!DeleteFileW(Long(folder / name).c_str())) {
            RemoveTree(folder / name);
        }
    }
    RemoveDirectoryW(Long(folder).c_str());
}

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("onyx-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { RemoveTree(folder); }
    std::filesystem::path folder;
};

TEST_F(Win32Files, ReportPathsThatCannotBeWritten) {
    // The system's codes are GetLastError's: a missing folder, or a path through a
    // file (ENOTDIR on POSIX), is not found.
    const auto notFound = [](int code) {
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    };
    EXPECT_PRED1(notFound, WriteReportFile((folder / "missing" / "report.txt").string(), "text"));
    const auto notAFolder = folder / "file";
    std::ofstream(notAFolder) << "x";
    EXPECT_PRED1(notFound, WriteReportFile((notAFolder / "report.txt").string(), "text"));
    std::filesystem::create_directory(folder / "taken");
    EXPECT_NE(WriteReportFile((folder / "taken").string(), "text"), 0);
    // Nothing but the two entries made here: no temporary file is left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
}

// Names in UTF-8 with letters of three scripts, which no ANSI code page holds at
// once, reach the file system whole through every way the program opens files.
TEST_F(Win32Files, NamesInAnyScriptOpenWhole) {
    const std::filesystem::path sub =
        folder / std::filesystem::path(L"J\u00fcrgen \u0396\u03c9\u03ae \u674e");
    std::filesystem::create_directories(sub);
    const std::string utf8 = (folder.string() + "\\J\u00fcrgen \u0396\u03c9\u03ae \u674e");
    std::FILE* trace = OpenFile(utf8 + "\\trace \u674e.txt", "ab");
    ASSERT_NE(trace, nullptr);
    std::fputs("trace", trace);
    std::fclose(trace);
    EXPECT_EQ(ReadAll(sub / L"trace \u674e.txt"), "trace");

    DumpFile dump;
    ASSERT_EQ(dump.Open(utf8 + "\\dump \u03c9.hex"), 0);
    const std::array<std::uint8_t, 3> bytes{1, 2, 3};
    EXPECT_EQ(dump.Write(bytes), 0);
    dump.Close();
    EXPECT_EQ(ReadAll(sub / L"dump \u03c9.hex"), std::string("\x01\x02\x03"));

    EXPECT_EQ(WriteReportFile(utf8 + "\\report \u00fc.txt", "Name=Ann"), 0);
    EXPECT_EQ(ReadAll(sub / L"report \u00fc.txt"), "Name=Ann");
}

// An older dump is held without sharing and left as it is while the blocks go
// beside it; only Finish puts them in its place, raw and with nothing of the
// older, longer dump behind them.
TEST_F(Win32Files, DumpFileIsExclusiveAndReplacesAnOlderDumpOnlyWhenFinished) {
    const auto path = folder / "dump.hex";
    const auto partial = folder / "dump.hex.partial";
    const std::string older(1000, 'x');
    std::ofstream(path, std::ios::binary) << older;
    const std::array<std::uint8_t, 4> bytes{0x0D, 0x0A, 0x00, 0xFF};
    for (const bool finish : {false, true}) {
        DumpFile dump;
        ASSERT_EQ(dump.Open(path.string()), LINK_OK);
        DumpFile second;
        EXPECT_EQ(second.Open(path.string()), OP_ERR_FILE_OPEN);
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(dump.Write(bytes), LINK_OK);
        if (finish) {
            EXPECT_EQ(dump.Finish(), LINK_OK);
            EXPECT_EQ(ReadAll(path), std::string("\r\n\0\xFF", 4));
            EXPECT_FALSE(std::filesystem::exists(partial));
        } else {
            dump.Close();
            EXPECT_EQ(ReadAll(path), older);
            EXPECT_EQ(ReadAll(partial), std::string("\r\n\0\xFF", 4));
        }
    }

    // Marked read-only: refused at once, and left as it is.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    DumpFile refused;
    EXPECT_EQ(refused.Open(path.string()), OP_ERR_FILE_OPEN);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(std::filesystem::exists(partial));

    DumpFile fresh;
    EXPECT_EQ(fresh.Open((folder / "new.hex").string()), LINK_OK);
    EXPECT_TRUE(std::filesystem::exists(folder / "new.hex"));
    EXPECT_EQ(fresh.Open((folder / "missing" / "x.hex").string()), OP_ERR_FILE_OPEN);
}

// A name that takes the path to MAX_PATH: the file beside it, and the report's
// temporary file, still fit.
TEST_F(Win32Files, NamesAtTheLongestPathStillWork) {
    const std::size_t room = MAX_PATH - 1 - folder.native().size() - 1;
    const auto path = folder / std::wstring(room, L'n');
    std::ofstream(path, std::ios::binary) << "older";
    DumpFile dump;
    ASSERT_EQ(dump.Open(path.string()), LINK_OK);
    const std::array<std::uint8_t, 2> bytes{1, 2};
    EXPECT_EQ(dump.Write(bytes), LINK_OK);
    dump.Close();
    EXPECT_EQ(ReadAll(path), "older");
    EXPECT_EQ(ReadAll(dump.PartialPath()), "\x01\x02");
    EXPECT_EQ(dump.PartialPath().parent_path(), folder);

    EXPECT_EQ(WriteReportFile(path.string(), "Name=Ann"), 0);
    EXPECT_EQ(ReadAll(path), "Name=Ann");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
}

// Paths from MAX_PATH characters on take the long form, whole and resolved, as the
// system takes no '/', "." or ".." behind the prefix; shorter ones and those already in
// a namespace stay as they were.
TEST(LongPath, TakesTheLongFormFromMaxPathOn) {
    const std::wstring name(200, L'n');
    const std::wstring fits(MAX_PATH - 1 - 3, L'f'); // "C:\" + fits: 259 characters
    const std::wstring over(MAX_PATH - 3, L'o');     // 260
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring here = current;
    if (here.back() != L'\\') {
        here += L'\\';
    }
    const struct {
        std::wstring given, expected;
    } cases[] = {
        {L"C:\\short\\x.txt", L"C:\\short\\x.txt"},
        {L"C:/short/x.txt", L"C:/short/x.txt"},
        {L"C:\\" + fits, L"C:\\" + fits},
        {L"C:\\" + over, L"\\\\?\\C:\\" + over},
        {L"C:/a/" + name + L"/../b/./" + name + L"/" + name,
         L"\\\\?\\C:\\a\\b\\" + name + L"\\" + name},
        {L"\\\\server\\share\\" + name + L"\\" + name,
         L"\\\\?\\UNC\\server\\share\\" + name + L"\\" + name},
        {name + L"/" + name, L"\\\\?\\" + here + name + L"\\" + name},
        {L"\\\\?\\C:\\" + name + L"\\" + name, L"\\\\?\\C:\\" + name + L"\\" + name},
        {L"\\\\.\\COM5", L"\\\\.\\COM5"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LongPath(c.given), c.expected) << c.given.size() << " characters";
    }
    EXPECT_EQ(LongPath(std::string("C:/\u674e/") + std::string(300, 'n')),
              L"\\\\?\\C:\\\u674e\\" + std::wstring(300, L'n'));
}

TEST(PathText, ShowsWindowsSeparatorsAndNoPrefix) {
    const struct {
        std::string name, shown;
    } cases[] = {
        {"C:/Program Files/Wellscribe Onyx\\LogTime.csv",
         "C:\\Program Files\\Wellscribe Onyx\\LogTime.csv"},
        {"C:/users/Zo\u00eb/dump.hex", "C:\\users\\Zo\u00eb\\dump.hex"},
        {"\\\\?\\C:\\Logs\\LogTime.csv", "C:\\Logs\\LogTime.csv"},
        {"\\\\?\\UNC\\server\\share\\LogTime.csv", "\\\\server\\share\\LogTime.csv"},
        {"//server/share/x", "\\\\server\\share\\x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(files::PathText(files::PathFromName(c.name)), c.shown) << c.name;
    }
}

// Devices and pipes are told by their name and never opened; files and folders by
// the system, past MAX_PATH as well.
TEST_F(Win32Files, KindOfTellsDevicesByNameAndFilesAtAnyLength) {
    const auto deep = folder / std::wstring(150, L'd') / std::wstring(150, L'e');
    std::filesystem::create_directories(Long(deep));
    std::ofstream(Long(deep / "file")) << "x";
    std::ofstream(folder / "file") << "x";
    const struct {
        std::filesystem::path path;
        files::PathKind kind;
    } cases[] = {
        {folder / "file", files::PathKind::Regular},
        {folder, files::PathKind::Folder},
        {folder / "none", files::PathKind::Missing},
        {folder / "none" / "x", files::PathKind::Missing},
        {deep / "file", files::PathKind::Regular},
        {deep, files::PathKind::Folder},
        {deep / "none", files::PathKind::Missing},
        {L"NUL", files::PathKind::Device},
        {folder / "com3.csv", files::PathKind::Device},
        {folder / "Lpt1 .txt", files::PathKind::Device},
        {folder / "com10.csv", files::PathKind::Missing},
        {L"\\\\.\\COM5", files::PathKind::Device},
        {L"\\\\.\\pipe\\onyx", files::PathKind::Fifo},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(files::KindOf(c.path), c.kind) << files::PathText(c.path);
    }
}

// A folder some 300 characters deep, named as the window gives it (UTF-8 and '/')
// and relative to the current folder: the dump, the report, the trace, the log and
// its lock work there.
TEST_F(Win32Files, PathsPastMaxPathWorkEverywhere) {
    const auto deep = folder / std::wstring(120, L'a') / std::wstring(120, L'\u00e9');
    std::filesystem::create_directories(Long(deep));
    struct InFolder {
        std::filesystem::path before = std::filesystem::current_path();
        explicit InFolder(const std::filesystem::path& folder) {
            std::filesystem::current_path(folder);
        }
        ~InFolder() { std::filesystem::current_path(before); }
    } inFolder(folder);
    std::string relative = std::string(120, 'a') + "/";
    for (int at = 0; at < 120; ++at) {
        relative += "\u00e9";
    }
    relative += "/";

    const std::array<std::uint8_t, 2> bytes{1, 2};
    for (int time = 0; time < 2; ++time) { // the second beside the first, then over it
        DumpFile dump;
        ASSERT_EQ(dump.Open(relative + "dump.hex"), LINK_OK);
        EXPECT_EQ(dump.Write(bytes), LINK_OK);
        EXPECT_EQ(dump.Finish(), LINK_OK);
    }
    EXPECT_EQ(WriteReportFile(relative + "report.txt", "Name=Ann"), 0);
    ASSERT_EQ(link_trace::Start(relative + "trace.txt"), 0);
    link_trace::Opened("COM5:", 0);
    link_trace::Stop();
    files::FileLock lock;
    EXPECT_TRUE(files::LockFile(deep / "LogTime.csv.lock", lock, std::chrono::milliseconds(0)));
    EXPECT_TRUE(files::ReplaceFileContents(deep / "LogTime.csv", "line\r\n"));
    std::string read;
    EXPECT_TRUE(files::ReadWholeFile(deep / "LogTime.csv", read));
    EXPECT_EQ(read, "line\r\n");
    EXPECT_EQ(ReadAll(Long(deep / "dump.hex")), "\x01\x02");
    EXPECT_EQ(ReadAll(Long(deep / "report.txt")), "Name=Ann");
    EXPECT_NE(ReadAll(Long(deep / "trace.txt")).find("COM5:"), std::string::npos);

    SetFileAttributesW(Long(deep / "LogTime.csv").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(files::ReplaceFileContents(deep / "LogTime.csv", "new").status,
              files::FileStatus::ReadOnly);
    SetFileAttributesW(Long(deep / "LogTime.csv").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(files::RemoveFile(deep / "LogTime.csv"));
    EXPECT_EQ(files::KindOf(deep / "LogTime.csv"), files::PathKind::Missing);
    // Nothing else: no file beside one that was replaced is left behind.
    EXPECT_EQ(Entries(deep).size(), 4u);
}

} // namespace
