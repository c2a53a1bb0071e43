#include "ui/MainWindowText.h"

#include "communication/ResultCodes.h"

#include <gtest/gtest.h>

TEST(SelfTestView, CountsEveryBitButShowsEightRows) {
    const SelfTestView none = PresentSelfTest(0);
    EXPECT_EQ(none.summary, "Passed all tests!");
    EXPECT_FALSE(none.headingVisible);
    const SelfTestView one = PresentSelfTest(64);
    EXPECT_EQ(one.summary, "Failed 1 tests.");
    EXPECT_TRUE(one.failed[6]);
    EXPECT_TRUE(one.headingVisible);
    // Bits above the eight tests count in the summary but have no row.
    const SelfTestView high = PresentSelfTest(0x301);
    EXPECT_EQ(high.failures, 3);
    EXPECT_EQ(high.summary, "Failed 3 tests.");
    EXPECT_TRUE(high.failed[0]);
    EXPECT_FALSE(high.failed[1]);
}

TEST(DumpFileName, DefaultNames) {
    EXPECT_EQ(DefaultDumpName("Model Number: M5", "Serial Number: 42"),
              "Model_Number__M5_Serial_Number__42");
    EXPECT_EQ(DefaultDumpName("Click \"Read Wellscribe Info\"", "Serial Number:"),
              "Click__Read_Wellscribe_Info__Serial_Number_");
    EXPECT_EQ(DefaultDumpName("Model Number: M5", ""), "WSOnyx_Mem_Dump");
    // Bytes beyond ASCII are replaced one by one.
    EXPECT_EQ(DefaultDumpName("M\xE9", "S/1"), "M__S_1");
}

TEST(DumpFileName, HexIsAddedOnlyWithoutAnExtension) {
    EXPECT_EQ(CompleteFileName("/tmp/dump", "hex"), "/tmp/dump.hex");
    EXPECT_EQ(CompleteFileName("/tmp/dump.bin", "hex"), "/tmp/dump.bin");
    EXPECT_EQ(CompleteFileName("/tmp/some.folder/dump", "txt"), "/tmp/some.folder/dump.txt");
}

TEST(DumpOutcome, MessagesByResult) {
    EXPECT_STREQ(DumpOutcomeFor(0).text, "Memory Dump Saved");
    EXPECT_STREQ(DumpOutcomeFor(0).caption, "Success");
    EXPECT_FALSE(DumpOutcomeFor(0).warning);
    EXPECT_STREQ(DumpOutcomeFor(LINK_ERR_NO_PORT).text, "Cannot open COM port");
    for (int code : {-200, -210, -400, -410, -1}) {
        EXPECT_STREQ(DumpOutcomeFor(code).text, "Communication Error") << code;
        EXPECT_TRUE(DumpOutcomeFor(code).warning);
    }
    EXPECT_STREQ(DumpOutcomeFor(2).text, "Unable to save memory dump");
    EXPECT_STREQ(DumpOutcomeFor(2).caption, "Error");
}
