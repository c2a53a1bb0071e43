#include "communication/Checksums.h"
#include "communication/Encodings.h"
#include "communication/LinkSession.h"

#include <array>
#include <vector>

namespace {

// Request data of a memory access: the count byte N (bytes - 1), then the address.
std::array<std::uint8_t, 4> CountAndAddress(std::size_t bytes, std::uint32_t address) {
    std::array<std::uint8_t, 4> data{static_cast<std::uint8_t>(bytes - 1)};
    WriteBigEndian(std::span(data).subspan(1), address);
    return data;
}

} // namespace

std::int32_t LinkSession::TransactText(std::uint8_t command, std::span<const std::uint8_t> data,
                                       std::size_t capacity, std::size_t decoded,
                                       std::string& text) {
    std::array<std::uint8_t, BlockSize> payload{};
    std::uint32_t received = 0;
    text.clear();
    const std::int32_t result =
        ReadReply(command, data, std::span(payload).first(capacity), decoded, received);
    if (result == LINK_OK) {
        text.assign(reinterpret_cast<const char*>(payload.data()), received);
    }
    return result;
}

// Commands whose reply carries nothing the program uses.
std::int32_t LinkSession::TransactNoReply(std::uint8_t command,
                                          std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, 1> payload{};
    std::uint32_t received = 0;
    return protocol.Transact(&port, command, ParameterByte, data, payload, received);
}

namespace {
constexpr std::uint8_t TextRequest[] = {'/'};
// The logger's reply texts are 48 bytes: the request's '/' (0x2F) + 1.
constexpr std::size_t ReplyTextLength = 0x2F + 1;
} // namespace

std::int32_t LinkSession::ReadReply(std::uint8_t command, std::span<const std::uint8_t> data,
                                    std::span<std::uint8_t> payload, std::size_t decoded,
                                    std::uint32_t& received) {
    const std::int32_t result =
        protocol.Transact(&port, command, ParameterByte, data, payload, received);
    if (result == LINK_OK && received < decoded) {
        return Raw(LINK_ERR_CRC);
    }
    return result;
}

std::int32_t LinkSession::ReadMemory(std::uint32_t address, std::span<std::uint8_t> destination,
                                     std::size_t decoded, std::uint32_t& received) {
    received = 0;
    if (destination.empty() || destination.size() > BlockSize || decoded > destination.size()) {
        return Raw(LINK_ERR_INTERNAL_B);
    }
    const auto data = CountAndAddress(destination.size(), address);
    return ReadReply(command_letter::ReadMemory, data, destination, decoded, received);
}

std::int32_t LinkSession::ReadMemory(std::uint32_t address, std::span<std::uint8_t> destination) {
    std::uint32_t received = 0;
    return ReadMemory(address, destination, destination.size(), received);
}

std::int32_t LinkSession::WriteMemory(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > BlockSize) {
        return Raw(LINK_ERR_INTERNAL_B);
    }
    const auto header = CountAndAddress(bytes.size(), address);
    std::vector<std::uint8_t> data(header.begin(), header.end());
    data.insert(data.end(), bytes.begin(), bytes.end());
    return TransactNoReply(command_letter::WriteMemory, data);
}

std::int32_t LinkSession::PrepareBlockWrite() {
    constexpr std::uint8_t data[] = {0x00, 0x01};
    return TransactNoReply(command_letter::PrepareBlockWrite, data);
}

std::int32_t LinkSession::ReadClock(std::string& clockText) {
    return TransactText(command_letter::ReadClock, {}, ClockTextLength, 0, clockText);
}

std::int32_t LinkSession::SetClock(std::string_view clockText) {
    if (clockText.size() != ClockTextLength) {
        return Raw(LINK_ERR_INTERNAL_B);
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(clockText.data());
    return TransactNoReply(command_letter::SetClock, {bytes, clockText.size()});
}

std::int32_t LinkSession::SetAccessCode(std::uint32_t code) {
    std::array<std::uint8_t, 4> data{};
    WriteBigEndian(data, code);
    return TransactNoReply(command_letter::SetAccessCode, data);
}

std::int32_t LinkSession::ReadStatusText(std::string& text) {
    return TransactText(command_letter::ReadStatusText, TextRequest, ReplyTextLength, 1, text);
}

std::int32_t LinkSession::ReadReadings(std::string& text) {
    return TransactText(command_letter::ReadReadings, TextRequest, ReplyTextLength, 0, text);
}

std::int32_t LinkSession::RunSelfTest(std::optional<std::uint8_t>& mask) {
    constexpr std::uint8_t data[] = {0xFF};
    std::array<std::uint8_t, 1> payload{};
    std::uint32_t received = 0;
    mask.reset();
    const std::int32_t result = protocol.Transact(&port, command_letter::RunSelfTest, ParameterByte,
                                                  data, payload, received);
    if (result == LINK_OK && received > 0) {
        mask = payload[0];
    }
    return result;
}

std::int32_t LinkSession::RewriteBlock(std::uint32_t address, const BlockEdit& edit) {
    // A block cut short is never patched and written back.
    std::array<std::uint8_t, BlockSize> block{};
    std::int32_t result = ReadMemory(address, block);
    if (result != LINK_OK) {
        return result;
    }
    if (edit) {
        result = edit(block);
        if (result != LINK_OK) {
            return result;
        }
    }
    Pause();
    SetReplyTimeout(PrepareBlockWriteTimeout);
    result = PrepareBlockWrite();
    if (result != LINK_OK) {
        return result;
    }
    Pause();
    SetReplyTimeout(WriteMemoryTimeout);
    return WriteMemory(address, block);
}
