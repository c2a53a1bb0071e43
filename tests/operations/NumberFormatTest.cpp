// The general number format of the recorded extremes, and the firmware number.

#include "operations/NumberFormat.h"

#include "operations/InfoLabelText.h"
#include "operations/Operations.h"

#include <clocale>
#include <gtest/gtest.h>
#include <locale>

namespace {

TEST(GeneralFormat, FixedWithinFiveSignificantDigits) {
    EXPECT_EQ(FormatGeneral5(12.5f), "12.5");
    EXPECT_EQ(FormatGeneral5(12.34567f), "12.346");
    EXPECT_EQ(FormatGeneral5(23.456f), "23.456"); // not 23.455999...
    EXPECT_EQ(FormatGeneral5(-1.25f), "-1.25");
    EXPECT_EQ(FormatGeneral5(0.0f), "0");
    EXPECT_EQ(FormatGeneral5(-0.0f), "0");    // the packed decimal 80 00 00
    EXPECT_EQ(FormatGeneral5(100.0f), "100"); // no bare point
    EXPECT_EQ(FormatGeneral5(99999.0f), "99999");
    EXPECT_EQ(FormatGeneral5(0.0001f), "0.0001");
    EXPECT_EQ(FormatGeneral5(-0.00012345f), "-0.00012345");
}

TEST(GeneralFormat, ScientificBeyondFiveIntegerDigitsOrBelowATenThousandth) {
    EXPECT_EQ(FormatGeneral5(123456.0f), "1.2346E+05");
    EXPECT_EQ(FormatGeneral5(-123456.0f), "-1.2346E+05");
    EXPECT_EQ(FormatGeneral5(1048575.0f), "1.0486E+06");
    EXPECT_EQ(FormatGeneral5(0.00005f), "5E-05");
    EXPECT_EQ(FormatGeneral5(0.0000001f), "1E-07");
    // Rounding to five digits carries into a sixth integer digit.
    EXPECT_EQ(FormatGeneral5(99999.7f), "1E+05");
}

// Numbers read as the logger writes them whatever the PC's locale.
class CommaLocale : public ::testing::Test {
protected:
    struct CommaPoint : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    void SetUp() override {
        previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
        // The C library too, where the machine has such a locale.
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr) {
                break;
            }
        }
    }
    void TearDown() override {
        std::setlocale(LC_NUMERIC, "C");
        std::locale::global(previous);
    }
    std::locale previous;
};

TEST_F(CommaLocale, FormatKeepsThePoint) {
    EXPECT_EQ(FormatGeneral5(12.5f), "12.5");
    EXPECT_EQ(FormatGeneral5(123456.0f), "1.2346E+05");
}

TEST_F(CommaLocale, FirmwareNumberIsTheWholeTextInPlainDecimals) {
    using reply_text::FirmwareNumber;
    EXPECT_EQ(FirmwareNumber("2.00"), 2.0f);
    EXPECT_EQ(FirmwareNumber("1.99"), 1.99f);
    EXPECT_EQ(FirmwareNumber(" 2.10 "), 2.1f); // the logger pads its fields with blanks
    EXPECT_EQ(FirmwareNumber("3"), 3.0f);
    for (const char* text :
         {"", " ", ".", "2,00", "2.0.1", "2.00x", "x2", "1e3", "inf", "nan", "0x2"}) {
        EXPECT_FALSE(FirmwareNumber(text)) << '"' << text << '"';
    }
}

// The window shows the extremes with the PC's separator; the elapsed time is a count.
TEST(ExtremesTexts, ShowTheNumbersWithTheGivenSeparator) {
    const auto texts = ExtremesTexts({12.5f, 123456.0f, 0.00012345f, 1234567}, ',');
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0].label, InfoLabel::MinTemp);
    EXPECT_EQ(texts[0].text, "Min Record Logger Temperature: 12,5");
    EXPECT_EQ(texts[1].label, InfoLabel::MaxTemp);
    EXPECT_EQ(texts[1].text, "Max Record Logger Temperature: 1,2346E+05");
    EXPECT_EQ(texts[2].label, InfoLabel::MaxPressure);
    EXPECT_EQ(texts[2].text, "Max Record Logger Pressure: 0,00012345");
    EXPECT_EQ(texts[3].label, InfoLabel::ElapsedTime);
    EXPECT_EQ(texts[3].text, "Elapsed Time: 1234567");
}

TEST(FirmwareText, DropsTheLastTwoCharacters) {
    EXPECT_EQ(reply_text::FirmwareText("2.00AB"), "2.00");
    EXPECT_EQ(reply_text::FirmwareText("AB"), "");
    EXPECT_FALSE(reply_text::FirmwareText("A"));
    EXPECT_FALSE(reply_text::FirmwareText(""));
}

} // namespace
