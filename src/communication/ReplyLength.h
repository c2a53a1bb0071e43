#pragma once

#include <cstdint>
#include <optional>
#include <span>

// How long the logger's reply frame to a command is (acknowledge byte and CRC included).
struct ReplyLength {
    enum class Kind {
        Fixed,        // frameLength bytes
        Variable,     // G/g: 2 bytes first, then 3 * count + 4 once the count byte is in
        None,         // V/W: the logger gives no reply length; the transaction ends with -280
        MissingCount, // the length depends on the first data byte, but the request has none
    };
    Kind kind = Kind::Fixed;
    std::uint16_t frameLength = 0;
};

// True for the letters a request frame may carry: 'a'..'z', 'A'..'Z' and '['.
bool IsCommandLetter(std::uint8_t command);

// The reply length for a command and its request data. Empty for a byte that is
// no command letter and for Q/q, which have no reply defined.
std::optional<ReplyLength> ExpectedReplyLength(std::uint8_t command,
                                               std::span<const std::uint8_t> data);

// Frame length of a variable-length (G/g) reply once its count byte is known.
constexpr std::uint32_t VariableReplyFrameLength(std::uint8_t count) {
    return 3u * count + 4u;
}
