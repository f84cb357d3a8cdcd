// The service commands every device of the family answers, as handlers of the simulated meter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rv::sim {

class SimMeter;
class MemoryArea;

// Installs the handlers of the identity, memory read and write, password, time, key, display, F149,
// control sum and module counter commands.
void InstallServiceCommands(SimMeter& meter);

// n bytes from addr; bytes beyond the image read as 0xFF, as an unprogrammed region does.
std::vector<uint8_t> ReadPadded(const MemoryArea& area, uint64_t addr, size_t n);

}  // namespace rv::sim
