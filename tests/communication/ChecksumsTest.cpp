#include "communication/Checksums.h"

#include "communication/ReplyLength.h"

#include <gtest/gtest.h>
#include <string_view>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Checksums, KnownVectors) {
    EXPECT_EQ(Crc16(Bytes("123456789")), 0xBB3D);
    EXPECT_EQ(Crc16({}), 0);
    EXPECT_EQ(Checksum8(Bytes("abc"), false), 0x26);
    EXPECT_EQ(Checksum8(Bytes("abc"), true), 0xD7);
    EXPECT_EQ(Checksum8({}, true), 0);
}

TEST(Checksums, ReadMemoryRequestAndItsAcknowledgeValues) {
    const std::vector<std::uint8_t> header{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24};
    EXPECT_EQ(Crc16(header), 0xE55D);
    std::vector<std::uint8_t> frame = header;
    frame.push_back(0xE5);
    frame.push_back(0x5D);
    EXPECT_EQ(Checksum8(frame, true), 0x29);
    EXPECT_EQ(Checksum8(frame, false), 0xCE);
}

TEST(Checksums, ByteOrderHelpers) {
    const std::uint32_t address = 0x051000;
    std::uint8_t wire[3] = {};
    EXPECT_EQ(ReverseBytes(wire, &address, 3), 3u); // little-endian host
    EXPECT_EQ(wire[0], 0x05);
    EXPECT_EQ(wire[1], 0x10);
    EXPECT_EQ(wire[2], 0x00);

    const std::uint8_t serial[] = {0x00, 0x30, 0x39};
    EXPECT_EQ(ReadBigEndian(serial), 12345u);
    std::uint8_t code[4] = {};
    WriteBigEndian(code, 0x6C2B19D4);
    EXPECT_EQ(std::vector<std::uint8_t>(code, code + 4),
              (std::vector<std::uint8_t>{0x6C, 0x2B, 0x19, 0xD4}));
}

TEST(ReplyLengthTable, EveryRowOfTheTable) {
    const std::uint8_t count[] = {0x2F};
    auto fixed = [&](char letter) {
        auto length = ExpectedReplyLength(static_cast<std::uint8_t>(letter), count);
        EXPECT_TRUE(length && length->kind == ReplyLength::Kind::Fixed) << letter;
        return length ? length->frameLength : 0;
    };
    for (char letter : std::string_view("ABCKabck")) {
        EXPECT_EQ(fixed(letter), 0x2F + 4) << letter;
    }
    for (char letter : std::string_view("DFHIJLPRSXdfhijlprsx")) {
        EXPECT_EQ(fixed(letter), 3) << letter;
    }
    for (char letter : std::string_view("Ee")) {
        EXPECT_EQ(fixed(letter), 22);
    }
    for (char letter : std::string_view("Mm")) {
        EXPECT_EQ(fixed(letter), 28);
    }
    for (char letter : std::string_view("NUnu")) {
        EXPECT_EQ(fixed(letter), 9);
    }
    for (char letter : std::string_view("OTYoty")) {
        EXPECT_EQ(fixed(letter), 4);
    }
    EXPECT_EQ(fixed('['), 12);
    EXPECT_EQ(fixed('z'), 0x2F / 2 + 3);
    for (std::uint8_t d0 : {0x00, 0xFF}) {
        const std::uint8_t data[] = {d0};
        EXPECT_EQ(ExpectedReplyLength('z', data)->frameLength, 4);
    }
    EXPECT_EQ(ExpectedReplyLength('G', {})->kind, ReplyLength::Kind::Variable);
    EXPECT_EQ(ExpectedReplyLength('W', {})->kind, ReplyLength::Kind::None);
    EXPECT_EQ(ExpectedReplyLength('c', {})->kind, ReplyLength::Kind::MissingCount);
    for (int byte : {int{'Q'}, int{'q'}, int{'0'}, int{' '}, int{'\\'}, 0x00, 0x80, 0xFF}) {
        EXPECT_FALSE(ExpectedReplyLength(static_cast<std::uint8_t>(byte), count)) << byte;
    }
    EXPECT_EQ(VariableReplyFrameLength(165), 499u);
}

} // namespace
