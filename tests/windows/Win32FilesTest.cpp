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

TEST_F(Win32Files, DumpFileIsExclusiveAndCutsAnOlderDump) {
    const auto path = folder / "dump.hex";
    std::ofstream(path, std::ios::binary) << std::string(1000, 'x');
    DumpFile dump;
    ASSERT_EQ(dump.Open(path.string()), LINK_OK);
    // Held without sharing: a second dump cannot open it.
    DumpFile second;
    EXPECT_EQ(second.Open(path.string()), OP_ERR_FILE_OPEN);
    EXPECT_FALSE(second.IsOpen());
    const std::array<std::uint8_t, 4> bytes{0x0D, 0x0A, 0x00, 0xFF};
    EXPECT_EQ(dump.Write(bytes), LINK_OK);
    dump.Close();
    // Raw bytes, no line-end translation, nothing of the older, longer dump behind them.
    EXPECT_EQ(ReadAll(path), std::string("\r\n\0\xFF", 4));

    DumpFile fresh;
    EXPECT_EQ(fresh.Open((folder / "new.hex").string()), LINK_OK);
    EXPECT_TRUE(std::filesystem::exists(folder / "new.hex"));
    EXPECT_EQ(fresh.Open((folder / "missing" / "x.hex").string()), OP_ERR_FILE_OPEN);
}

} // namespace
