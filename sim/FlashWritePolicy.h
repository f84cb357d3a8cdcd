// The simulated meter's answer to flash writes: applied, refused, or acknowledged and dropped, by the
// image's policy, which may follow the correction mode of its identity.
#pragma once

namespace rv::sim {

class SimMeter;

// Wraps the flash write handlers (0x40, 0x41) already installed. A write whose parameters do not fit
// its command goes to them unchanged (and stays unanswered); one that fits is applied, or answered by
// the image's FlashWrites policy without touching the flash.
void InstallFlashWritePolicy(SimMeter& meter);

}  // namespace rv::sim
