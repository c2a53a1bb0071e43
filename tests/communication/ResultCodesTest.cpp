#include "communication/ResultCodes.h"

#include <gtest/gtest.h>

TEST(ResultCodes, MessageOfEveryCode) {
    EXPECT_EQ(LinkErrorText(LINK_ERR_TIMEOUT), "-200 Communication Time Out! Check COM Port");
    EXPECT_EQ(LinkErrorText(LINK_ERR_CRC), "-210 Communication Error! Check Cable Connection");
    EXPECT_EQ(LinkErrorText(LINK_ERR_ACK), "-230 Communication Error! Check Cable Connection");
    EXPECT_EQ(LinkErrorText(LINK_ERR_COMMAND), "-100 Wellscribe Command Error");
    // A missing port reads as corrupted data, not as a communication failure.
    EXPECT_EQ(LinkErrorText(LINK_ERR_NO_PORT),
              "-220 Data Corrupted! Use utility to do a memory dump.");
    EXPECT_EQ(LinkErrorText(LINK_ERR_DATA),
              "-120 Data Corrupted! Use utility to do a memory dump.");
    for (int code : {-10, -110, -280, -400, -410, 0, 2, 5, 1247, -1, -99999}) {
        EXPECT_EQ(LinkErrorText(code), std::to_string(code) + " Internal Error") << code;
    }
}
