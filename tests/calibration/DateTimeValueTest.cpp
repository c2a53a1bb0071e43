// Day-count date-time values: calendar conversion, the fixed-separator formats,
// and reading date texts back in either field order.

#include "calibration/DateTimeValue.h"

#include <gtest/gtest.h>

namespace {

DateTimeValue At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                 int millisecond = 0) {
    return EncodeDateTime({year, month, day, hour, minute, second, millisecond});
}

TEST(DateTimeValue, CountsDaysFromTheEndOf1899) {
    EXPECT_EQ(At(1899, 12, 30), 0.0);
    EXPECT_EQ(At(1900, 1, 1), 2.0);
    EXPECT_EQ(At(2006, 11, 17), 39038.0);
    EXPECT_EQ(At(2006, 11, 17, 12), 39038.5);
    // Leap days: 2000 is one, 2100 is not.
    EXPECT_EQ(At(2000, 3, 1) - At(2000, 2, 28), 2.0);
    EXPECT_EQ(At(2100, 3, 1) - At(2100, 2, 28), 1.0);
    EXPECT_NEAR((At(2006, 11, 18, 0, 0, 10) - At(2006, 11, 17)) * SecondsPerDay, 86410.0, 1e-6);
}

TEST(DateTimeValue, DecodesWhatItEncodes) {
    for (const CivilDateTime time :
         {CivilDateTime{2006, 11, 17, 14, 3, 22, 450}, CivilDateTime{2000, 2, 29, 23, 59, 59, 999},
          CivilDateTime{2099, 12, 31, 0, 0, 0, 1}, CivilDateTime{1899, 12, 30, 0, 0, 0, 0}}) {
        EXPECT_EQ(DecodeDateTime(EncodeDateTime(time)), time) << time.year;
    }
    // A value a hair short of a whole second still names that second.
    const DateTimeValue justShort = At(2006, 11, 17, 14, 3, 22) - 1e-11;
    EXPECT_EQ(DecodeDateTime(justShort).second, 22);
}

TEST(DateTimeValue, FormatsWithSlashAndColonAndTruncatedSeconds) {
    const DateTimeValue value = At(2006, 11, 7, 4, 3, 2, 999);
    EXPECT_EQ(FormatDateTime(LogDateTimeFormat, value), "11/07/06 04:03:02");
    EXPECT_EQ(FormatDateTime(ClockDateTimeFormat, value), "07/11/2006 04:03:02");
    EXPECT_EQ(FormatDateTime("d/m/yyyy h:n:s", value), "7/11/2006 4:3:2");

    DateTimeFormats formats;
    EXPECT_EQ(formats.Format(value), "07/11/2006 04:03:02");
    formats.Set("mm/dd/yy", "hh:nn:ss");
    EXPECT_EQ(formats.Format(value), "11/07/06 04:03:02");
}

TEST(DateTimeValue, ReadsTheFieldOrderOfTheShortDateFormat) {
    std::string error;
    EXPECT_EQ(ParseDateTime("11/17/06 14:03:22", "mm/dd/yy", error), At(2006, 11, 17, 14, 3, 22));
    EXPECT_EQ(ParseDateTime("17/11/2006 14:03:22", "dd/mm/yyyy", error),
              At(2006, 11, 17, 14, 3, 22));
    EXPECT_EQ(ParseDateTime("  1/2/06 1:02 ", "mm/dd/yy", error), At(2006, 1, 2, 1, 2));
    EXPECT_EQ(ParseDateTime("02/29/08", "mm/dd/yy", error), At(2008, 2, 29));
    EXPECT_TRUE(error.empty());

    DateTimeFormats formats;
    formats.Set("mm/dd/yy", "hh:nn:ss");
    EXPECT_EQ(formats.Parse("11/12/06 00:00:00", error), At(2006, 11, 12));
    formats.Set("dd/mm/yyyy", "hh:nn:ss");
    EXPECT_EQ(formats.Parse("11/12/2006 00:00:00", error), At(2006, 12, 11));
}

TEST(DateTimeValue, RefusesTextsThatNameNoDateAndTime) {
    for (const char* text :
         {"", "11/17/06 14:03:22,1", "17/11/06 14:03:22", "02/29/07 00:00:00", "11/17/06 24:00:00",
          "11/17/06 14:60:00", "11/17/06 14:03:", "11-17-06 14:03:22", "11/17/006 14:03:22",
          "11/17/06T14:03:22", "NOT READY"}) {
        std::string error;
        EXPECT_FALSE(ParseDateTime(text, "mm/dd/yy", error)) << text;
        EXPECT_EQ(error, std::string("'") + text + "' is not a valid date and time");
    }
}

TEST(DateTimeValue, SystemClockIsTodayWithMilliseconds) {
    SystemPcClock clock;
    const DateTimeValue first = clock.Now();
    const DateTimeValue second = clock.Now();
    EXPECT_GT(first, At(2020, 1, 1));
    EXPECT_GE(second, first);
    EXPECT_LT((second - first) * SecondsPerDay, 1.0);
}

} // namespace
