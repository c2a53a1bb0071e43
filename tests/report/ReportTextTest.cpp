#include "report/ReportText.h"

#include "support/TemporaryFolder.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace {

const ReportLabels Labels{"Model Number: ONYX-300", "Serial Number: 1234567",
                          "Firmware version: 2.10", "Battery Voltage:  3.62V",
                          "Charge Level:  95%",     "Temperature: +  21.500 deg C",
                          "Level: +   1.234 m"};

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST(ReportBody, SevenLabelsThenEightTestLines) {
    EXPECT_EQ(BuildReportBody(Labels, 0x41),
              "Model Number: ONYX-300\nSerial Number: 1234567\nFirmware version: 2.10\n"
              "Battery Voltage:  3.62V\nCharge Level:  95%\nTemperature: +  21.500 deg C\n"
              "Level: +   1.234 m\nTest1 Failed\nTest2 Passed\nTest3 Passed\nTest4 Passed\n"
              "Test5 Passed\nTest6 Passed\nTest7 Failed\nTest8 Passed");
    EXPECT_EQ(BuildReportBody(Labels, 0xFF).substr(BuildReportBody(Labels, 0xFF).size() - 12),
              "Test8 Failed");
}

TEST(ReportFile, TwentyLinesWithCrLfAndNoLineEndAfterTheLast) {
    const ReportContact contact{"Ann % Lee", "", "555-123-45", "", "ann@example.com"};
    const std::string bytes = ReportFileText(contact, BuildReportBody(Labels, 0));
    EXPECT_EQ(bytes.rfind("Name=Ann % Lee\r\nCompany=\r\nPhoneNo=555-123-45\r\nFaxNo=\r\n"
                          "Email=ann@example.com\r\nModel Number: ONYX-300\r\n",
                          0),
              0u);
    std::size_t lines = 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(bytes[i - 1], '\r');
            ++lines;
        } else if (bytes[i] == '\r') {
            ASSERT_LT(i + 1, bytes.size());
            EXPECT_EQ(bytes[i + 1], '\n');
        }
    }
    EXPECT_EQ(lines, 20u);
    EXPECT_EQ(bytes.substr(bytes.size() - 14), "\r\nTest8 Passed");
}

TEST(ReportContactCheck, NameAndTenCharactersOfPhone) {
    EXPECT_EQ(CheckContact(0, 12), ContactProblem::NoName);
    EXPECT_EQ(CheckContact(0, 0), ContactProblem::NoName) << "the name is checked first";
    EXPECT_EQ(CheckContact(1, 9), ContactProblem::ShortPhone);
    EXPECT_EQ(CheckContact(1, 10), ContactProblem::None);
    EXPECT_STREQ(ContactProblemMessage(ContactProblem::NoName), "Please enter your name");
    EXPECT_STREQ(ContactProblemMessage(ContactProblem::ShortPhone),
                 "Please enter your phone number (at least 10 digits)");
}

class ReportWrite : public ::testing::Test {
protected:
    TemporaryFolder scratch{"onyx-report"};
    const std::filesystem::path& folder = scratch.Path();
};

TEST_F(ReportWrite, ReplacesAnExistingReportWhole) {
    const auto path = folder / "report.txt";
    std::ofstream(path) << std::string(5000, 'x');
    ASSERT_EQ(WriteReportFile(path.string(), "new\r\nreport"), 0);
    EXPECT_EQ(ReadAll(path), "new\r\nreport");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1)
        << "no temporary file is left beside the report";
}

TEST_F(ReportWrite, AnUnwritableLocationLeavesNothingBehind) {
    EXPECT_EQ(WriteReportFile((folder / "missing" / "report.txt").string(), "text"), ENOENT);
    const auto notAFolder = folder / "file";
    std::ofstream(notAFolder) << "x";
    EXPECT_EQ(WriteReportFile((notAFolder / "report.txt").string(), "text"), ENOTDIR);
    // A name that is a folder: the bytes are written, the rename refuses, and the
    // temporary file goes again.
    std::filesystem::create_directory(folder / "taken");
    EXPECT_NE(WriteReportFile((folder / "taken").string(), "text"), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
}

// A report marked read-only stays as it is, and the save says access is denied.
TEST_F(ReportWrite, AReadOnlyReportIsRefusedAndKept) {
#ifdef _WIN32
    constexpr int AccessDenied = 5; // ERROR_ACCESS_DENIED
#else
    constexpr int AccessDenied = EACCES;
#endif
    const auto path = folder / "report.txt";
    std::ofstream(path) << "old";
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    EXPECT_EQ(WriteReportFile(path.string(), "new"), AccessDenied);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

// The characters a report would lose to its code page, named once each, in order.
TEST(ReportCodePage, UnsavableCharactersAreNamedBeforeSaving) {
    EXPECT_EQ(UnsavableCharactersQuestion("\u03a9 \u674e"),
              "These characters cannot be saved in this PC's character set and would appear "
              "as '?': \u03a9 \u674e. Save anyway?");
#ifdef _WIN32
    struct Case {
        unsigned codePage;
        const char* text;
        const char* unsavable;
    };
    const Case cases[] = {
        {1252, "Zo\u00eb \u03c9mega \u674e", "\u03c9 \u674e"},
        {1252, "Name=J\u00fcrgen\r\nPhone=+49 \u20ac", ""}, // the euro sign is in 1252
        {1252, "\u03a9\u03a9 \u674e \u03a9", "\u03a9 \u674e"},
        {1252, "\xf0\x9f\x98\x80 emoji", "\xf0\x9f\x98\x80"}, // a surrogate pair is one
        {1252, "\u0141\u00f3d\u017a", "\u0141 \u017a"},
        {1250, "\u0141\u00f3d\u017a", ""}, // Central European holds Polish
        {1251, "\u0416\u0443\u043a Zo\u00eb", "\u00eb"},
        {65001, "\u674e", ""},
        {1252, "", ""},
    };
    for (const Case& entry : cases) {
        EXPECT_EQ(UnsavableCharacters(entry.text, entry.codePage), entry.unsavable)
            << entry.codePage << " " << entry.text;
    }
#else
    // Outside Windows the report is UTF-8 and holds every character.
    EXPECT_EQ(UnsavableCharacters("Zo\u00eb \u03c9mega \u674e"), "");
#endif
}

} // namespace
