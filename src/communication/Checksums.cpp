#include "communication/Checksums.h"

#include <cassert>

std::uint8_t Checksum8(std::span<const std::uint8_t> bytes, bool complement) {
    std::uint8_t sum = 0;
    for (std::uint8_t byte : bytes) {
        sum = static_cast<std::uint8_t>(sum + (complement ? 0xFF - byte : byte));
    }
    return sum;
}

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::size_t ReverseBytes(void* destination, const void* source, std::size_t n) {
    auto* to = static_cast<std::uint8_t*>(destination);
    const auto* from = static_cast<const std::uint8_t*>(source);
    for (std::size_t i = 0; i < n; ++i) {
        to[n - 1 - i] = from[i];
    }
    return n;
}

std::uint32_t ReadBigEndian(std::span<const std::uint8_t> bytes) {
    assert(bytes.size() <= 4);
    std::uint32_t value = 0;
    for (std::uint8_t byte : bytes) {
        value = (value << 8) | byte;
    }
    return value;
}

void WriteBigEndian(std::span<std::uint8_t> destination, std::uint32_t value) {
    assert(destination.size() <= 4);
    for (std::size_t i = destination.size(); i-- > 0;) {
        destination[i] = static_cast<std::uint8_t>(value & 0xFFu);
        value >>= 8;
    }
}
