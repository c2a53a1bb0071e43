#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// 8-bit sum over the bytes, modulo 256; with complement set, the sum of (0xFF - byte).
std::uint8_t Checksum8(std::span<const std::uint8_t> bytes, bool complement);

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

// Copies n bytes so that destination[n-1-i] = source[i]; returns n. Turns a
// little-endian integer in memory into the big-endian order of the wire and back.
std::size_t ReverseBytes(void* destination, const void* source, std::size_t n);

// Big-endian integers of the wire, read and written without going through memory layout.
std::uint32_t ReadBigEndian(std::span<const std::uint8_t> bytes);
void WriteBigEndian(std::span<std::uint8_t> destination, std::uint32_t value);
