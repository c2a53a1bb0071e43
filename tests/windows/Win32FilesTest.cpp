// The Win32 branches of the program's file writing: the report file and the memory
// dump file.

#include "communication/ResultCodes.h"
#include "operations/DumpFile.h"
#include "operations/WidePath.h"
#include "report/ReportText.h"

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <windows.h>

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("onyx-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
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

} // namespace
