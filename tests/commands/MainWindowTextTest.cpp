#include "commands/MainWindowText.h"

#include "communication/ResultCodes.h"

#include <cctype>
#include <cerrno>
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

TEST(DumpOutcome, SaysWhatHappenedAndWhatIsOnDisk) {
    const DumpOutcome saved = DumpOutcomeFor({LINK_OK});
    EXPECT_EQ(saved.text, "Memory Dump Saved");
    EXPECT_STREQ(saved.caption, "Success");
    EXPECT_FALSE(saved.warning);

    DumpRecord record;
    record.blocks = 3;
    const DumpOutcome lost =
        DumpOutcomeFor(LinkOutcome::From(5, true), record, "ttyUSB0:", "a.hex");
    // The system's reason after the blocks, one full stop after it on either platform.
    const std::string lostAfter = "Unable to save memory dump\nThe connection to ttyUSB0 was lost "
                                  "after 3 of 1056 blocks: " +
                                  SystemErrorText(5);
    EXPECT_EQ(lost.text.rfind(lostAfter, 0), 0u) << lost.text;
    EXPECT_TRUE(lost.text.ends_with(". a.hex holds the first 768 bytes.")) << lost.text;
    EXPECT_EQ(lost.text.find(".."), std::string::npos) << lost.text;
    EXPECT_STREQ(lost.caption, "Error");
    EXPECT_TRUE(lost.warning);

    const DumpOutcome silent =
        DumpOutcomeFor({LINK_ERR_TIMEOUT, 0, true}, record, "ttyUSB0:", "a.hex");
    EXPECT_EQ(silent.text, "Communication Error\n-200 Communication Time Out! Check COM Port\nThe "
                           "dump ended after 3 of 1056 blocks. a.hex holds the first 768 bytes.");

    record.stopped = true;
    const DumpOutcome stopped = DumpOutcomeFor({LINK_OK, 0, true}, record, "ttyUSB0:", "a.hex");
    EXPECT_EQ(stopped.text, "Memory dump stopped\nThe dump was stopped after 3 of 1056 blocks. "
                            "a.hex holds the first 768 bytes.");
    EXPECT_FALSE(stopped.warning);

    DumpRecord none;
    none.fileRemoved = true;
    none.fileError = 2;
    EXPECT_EQ(DumpOutcomeFor({OP_ERR_FILE_OPEN}, none, "COM1:", "x.hex").text,
              "Unable to save memory dump\nCannot write x.hex: " + SystemErrorText(2));
    EXPECT_EQ(DumpOutcomeFor(LinkOutcome::From(2, false), none, "COM1:", "x.hex").text,
              "Unable to save memory dump\nCannot open COM1: " + SystemErrorText(2) +
                  "\nNothing was saved.");

    // An earlier dump that no block of the new one reached; the name as the
    // platform writes paths.
    DumpRecord kept;
    kept.fileUnchanged = true;
#ifdef _WIN32
    const std::string shown = "C:\\Users\\Zo\xC3\xAB\\a.hex";
#else
    const std::string shown = "C:/Users/Zo\xC3\xAB/a.hex";
#endif
    EXPECT_EQ(
        DumpOutcomeFor({LINK_ERR_TIMEOUT, 0, true}, kept, "COM1:", "C:/Users/Zo\xC3\xAB/a.hex")
            .text,
        "Communication Error\n-200 Communication Time Out! Check COM Port\nThe dump ended "
        "after 0 of 1056 blocks. " +
            shown + " was left unchanged.");
}

// A dump onto an earlier one that ended early: the earlier dump was kept, and the
// blocks read are in the file beside it, named after the chosen one (also as the
// window's placeholder for the name) or, where that name did not fit, by its own.
TEST(DumpOutcome, AnEarlierDumpKeptSaysWhereTheBlocksAre) {
    DumpRecord record;
    record.blocks = 3;
    record.fileUnchanged = record.earlierKept = record.partialNamedAfterFile = true;
    record.partialFile = "a.hex.partial";
    const std::string kept =
        "The earlier dump a.hex was kept as it was; a.hex.partial holds the first 768 bytes.";
    EXPECT_EQ(DumpOutcomeFor({LINK_ERR_TIMEOUT, 0, true}, record, "COM1:", "a.hex").text,
              "Communication Error\n-200 Communication Time Out! Check COM Port\nThe dump ended "
              "after 3 of 1056 blocks. " +
                  kept);
    record.stopped = true;
    EXPECT_EQ(DumpOutcomeFor({LINK_OK, 0, true}, record, "COM1:", "a.hex").text,
              "Memory dump stopped\nThe dump was stopped after 3 of 1056 blocks. " + kept);
    EXPECT_TRUE(DumpOutcomeFor({LINK_OK, 0, true}, record, "COM1:", "\x01")
                    .text.ends_with("dump \x01 was kept as it was; \x01.partial holds the "
                                    "first 768 bytes."));

    record.partialNamedAfterFile = false;
    record.partialFile = "d/~k3j9";
    EXPECT_TRUE(
        DumpOutcomeFor({LINK_OK, 0, true}, record, "COM1:", "d/a.hex")
            .text.ends_with("; " + NativeSeparators("d/~k3j9") + " holds the first 768 bytes."));

    // The file beside it could not be had: the message names that one.
    DumpRecord refused;
    refused.partialFile = "a.hex.partial";
    refused.partialNamedAfterFile = refused.fileErrorOnPartial = true;
    refused.fileError = 13;
    EXPECT_EQ(DumpOutcomeFor({OP_ERR_FILE_OPEN}, refused, "COM1:", "a.hex").text,
              "Unable to save memory dump\nCannot write a.hex.partial: " + SystemErrorText(13));
}

TEST(SystemErrors, PortTextNamesThePortAndTheReason) {
    EXPECT_EQ(PortDisplayName("ttyUSB0:"), "ttyUSB0");
    EXPECT_EQ(PortDisplayName("MYPORT"), "MYPORT");
#ifdef _WIN32
    // Error 5 is a port held by another program: the system's words, no line end.
    std::string denied = SystemErrorText(5);
    for (char& c : denied) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_NE(denied.find("denied"), std::string::npos) << denied;
    EXPECT_NE(denied.back(), '\n');
    EXPECT_EQ(PortErrorText("COM5:", 5, false), "Cannot open COM5: " + SystemErrorText(5));
#else
    EXPECT_EQ(SystemErrorText(EIO), "Input/output error");
    EXPECT_EQ(PortErrorText("ttyUSB0:", EIO, true),
              "The connection to ttyUSB0 was lost: Input/output error");
    EXPECT_EQ(PortErrorText("ttyUSB0:", ENOENT, false),
              "Cannot open ttyUSB0: No such file or directory");
#endif
#ifdef __linux__
    EXPECT_EQ(PortErrorText("ttyUSB0:", EACCES, false),
              "Cannot open ttyUSB0: Permission denied\nAdd your account to the dialout group "
              "(sudo usermod -aG dialout $USER), then log in again.");
    EXPECT_EQ(PortErrorText("ttyUSB0:", EBUSY, false),
              "Cannot open ttyUSB0: Device or resource busy\nAnother program is using this port. "
              "Close it and try again.");
#endif
}
