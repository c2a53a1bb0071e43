#include "communication/ResultCodes.h"

#include "communication/serial/SERIAL.h"

#include <cerrno>
#include <gtest/gtest.h>

// Every text a user is shown for an outcome comes from OutcomeText: the code and
// its message, or for a system error the port's text, numbered in the
// calibration dialog's boxes.
TEST(ResultCodes, TextOfEveryOutcome) {
    const std::string busy = SystemErrorText(EBUSY);
    const std::string io = SystemErrorText(EIO);
    struct Case {
        LinkOutcome outcome;
        bool numbered;
        std::string text;
    };
    const Case cases[] = {
        {{LINK_ERR_TIMEOUT}, false, "-200 Communication Time Out! Check COM Port"},
        {{LINK_ERR_TIMEOUT, 0, true}, true, "-200 Communication Time Out! Check COM Port"},
        {{LINK_ERR_CRC}, false, "-210 Communication Error! Check Cable Connection"},
        {{LINK_ERR_ACK}, false, "-230 Communication Error! Check Cable Connection"},
        {{LINK_ERR_COMMAND}, false, "-100 Wellscribe Command Error"},
        // A missing port reads as corrupted data, not as a communication failure.
        {{LINK_ERR_NO_PORT}, false, "-220 Data Corrupted! Use utility to do a memory dump."},
        {{LINK_ERR_DATA}, false, "-120 Data Corrupted! Use utility to do a memory dump."},
        {{LINK_ERR_INTERNAL_A}, false, "-10 Internal Error"},
        {{LINK_ERR_INTERNAL_B}, false, "-110 Internal Error"},
        {{LINK_ERR_NO_REPLY_LEN}, false, "-280 Internal Error"},
        {{OP_ERR_FILE_OPEN}, false, "-400 Internal Error"},
        {{OP_ERR_FILE_WRITE}, false, "-410 Internal Error"},
        {{static_cast<ResultCode>(-99999)}, false, "-99999 Internal Error"},
        // The unusable readings of a calibration stop.
        {{LINK_OK}, true, "0 Internal Error"},
        {LinkOutcome::From(EIO, true), false, "The connection to ttyUSB0 was lost: " + io},
        // A lost port reads alike in every box, the calibration dialog's too.
        {LinkOutcome::From(EIO, true), true, "The connection to ttyUSB0 was lost: " + io},
        {{OP_STOPPED}, false, "-300 Stopped"},
#ifdef __linux__
        {LinkOutcome::From(EBUSY, false), false,
         "Cannot open ttyUSB0: " + busy +
             "\nAnother program is using this port. Close it and try again."},
        {LinkOutcome::From(EBUSY, false), true,
         std::to_string(EBUSY) + " Internal Error\nCannot open ttyUSB0: " + busy +
             "\nAnother program is using this port. Close it and try again."},
#else
        {LinkOutcome::From(EBUSY, false), false, "Cannot open ttyUSB0: " + busy},
#endif
        // Not another program: a killed one, whose exclusive mode outlived it.
        {LinkOutcome::From(CSerial::LeftExclusiveError, false), false,
         "Cannot open ttyUSB0: a program that was ended without closing it left the port in "
         "exclusive mode\nUnplug the adapter and plug it in again."},
        {LinkOutcome::From(CSerial::LeftExclusiveError, false), true,
         std::to_string(EBUSY) +
             " Internal Error\nCannot open ttyUSB0: a program that was ended without closing it "
             "left the port in exclusive mode\nUnplug the adapter and plug it in again."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutcomeText(c.outcome, "ttyUSB0:", c.numbered), c.text) << c.text;
    }
}

// What a port, protocol or command returns splits into its outcome; the
// self-test's mask travels beside it, so no mask is ever read as a code.
TEST(ResultCodes, OutcomeOfAResult) {
    EXPECT_EQ(LinkOutcome::From(0, true), (LinkOutcome{LINK_OK, 0, true}));
    EXPECT_TRUE(LinkOutcome::From(0, false).Ok());
    EXPECT_EQ(LinkOutcome::From(-210, true), (LinkOutcome{LINK_ERR_CRC, 0, true}));
    EXPECT_EQ(LinkOutcome::From(5, false), (LinkOutcome{LINK_OK, 5, false}));
    EXPECT_FALSE(LinkOutcome::From(5, false).Ok());
    EXPECT_EQ(LinkOutcome::From(5, false).Number(), 5);
    EXPECT_EQ(LinkOutcome::From(-200, false).Number(), -200);
}
