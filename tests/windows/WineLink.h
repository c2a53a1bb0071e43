#pragma once

// What the Linux harness and the Windows link tests agree on: the harness stands a
// simulated logger with these settings behind COM5, and the tests expect them.

#include <cstdint>

namespace wine_link {

constexpr int ComNumber = 5;
constexpr const char* PortEntry = "COM5:";
// A serial number whose three bytes are all different and none zero.
constexpr std::uint32_t SerialNumber = 0x5A0F3C;
// The simulated logger never answers this command (ReadClock), so the tests can
// watch a silent logger time out.
constexpr std::uint8_t SilentCommand = 'e';

} // namespace wine_link
