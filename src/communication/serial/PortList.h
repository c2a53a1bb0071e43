#pragma once

#include <string>
#include <vector>

// The COM port entries the main window offers, each ending in a colon. On Windows
// the print spooler's COM ports; on POSIX the serial devices that have hardware
// behind them and the published virtual ports. When nothing can be read at all,
// a fixed list of ten names.
std::vector<std::string> EnumerateComPorts();

// The ten names offered when the system's list cannot be read.
std::vector<std::string> FallbackComPorts();
