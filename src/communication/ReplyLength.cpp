#include "communication/ReplyLength.h"

#include <array>

namespace {

// How a command letter's reply length is found.
enum class Rule : std::uint8_t {
    Invalid,    // not in the table: the transaction ends with -100
    CountPlus4, // d0 + 4
    Fixed3,
    Fixed4,
    Fixed9,
    Fixed12,
    Fixed22,
    Fixed28,
    Variable, // G/g
    NoLength, // V/W: -280
    SelfTest, // Z/z: d0 / 2 + 3, or 4 when d0 is 0 or 0xFF
};

constexpr std::array<Rule, 128> BuildTable() {
    std::array<Rule, 128> table{};
    auto set = [&table](const char* letters, Rule rule) {
        for (; *letters != '\0'; ++letters) {
            table[static_cast<unsigned char>(*letters)] = rule;
        }
    };
    set("ABCKabck", Rule::CountPlus4);
    set("DFHIJLPRSXdfhijlprsx", Rule::Fixed3);
    set("Ee", Rule::Fixed22);
    set("Gg", Rule::Variable);
    set("Mm", Rule::Fixed28);
    set("NUnu", Rule::Fixed9);
    set("OTYoty", Rule::Fixed4);
    set("VWvw", Rule::NoLength);
    set("Zz", Rule::SelfTest);
    set("[", Rule::Fixed12);
    return table;
}

constexpr std::array<Rule, 128> ReplyRules = BuildTable();

ReplyLength Fixed(unsigned length) {
    return {ReplyLength::Kind::Fixed, static_cast<std::uint16_t>(length)};
}

} // namespace

bool IsCommandLetter(std::uint8_t command) {
    return (command >= 'a' && command <= 'z') || (command >= 'A' && command <= 'Z') ||
           command == '[';
}

std::optional<ReplyLength> ExpectedReplyLength(std::uint8_t command,
                                               std::span<const std::uint8_t> data) {
    if (command >= ReplyRules.size()) {
        return std::nullopt;
    }
    const bool needsCount =
        ReplyRules[command] == Rule::CountPlus4 || ReplyRules[command] == Rule::SelfTest;
    if (needsCount && data.empty()) {
        return ReplyLength{ReplyLength::Kind::MissingCount, 0};
    }
    switch (ReplyRules[command]) {
    case Rule::Invalid:
        return std::nullopt;
    case Rule::CountPlus4:
        return Fixed(data[0] + 4u);
    case Rule::Fixed3:
        return Fixed(3);
    case Rule::Fixed4:
        return Fixed(4);
    case Rule::Fixed9:
        return Fixed(9);
    case Rule::Fixed12:
        return Fixed(12);
    case Rule::Fixed22:
        return Fixed(22);
    case Rule::Fixed28:
        return Fixed(28);
    case Rule::Variable:
        return ReplyLength{ReplyLength::Kind::Variable, 2};
    case Rule::NoLength:
        return ReplyLength{ReplyLength::Kind::None, 0};
    case Rule::SelfTest:
        return (data[0] == 0 || data[0] == 0xFF) ? Fixed(4) : Fixed(data[0] / 2u + 3u);
    }
    return std::nullopt;
}
