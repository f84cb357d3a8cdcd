// The simulated meter's two ways in from outside: bytes from the line into the responder, and
// meter description files. The first byte picks which; neither may crash, hang or answer unbounded.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "sim/MeterDescription.h"
#include "sim/SimMeter.h"

using namespace rv::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    if (data[0] & 1) {
        try {
            ParseMeter(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), "fuzz");
        } catch (const MeterFileError&) {
        }
        return 0;
    }
    static const std::shared_ptr<MeterImage> pristine = DefaultMeter();
    FaultPlan faults;
    faults.seed = data[0];
    faults.garbage = (data[0] & 2) ? 0.5 : 0;
    faults.badChecksum = (data[0] & 4) ? 0.5 : 0;
    SimMeter meter(std::make_shared<MeterImage>(*pristine), faults);
    // Pieces of 1..16 bytes, the sizes taken from the data itself, as a line delivers them.
    size_t at = 1;
    while (at < size) {
        const size_t n = std::min<size_t>(1 + (data[at] & 15), size - at);
        meter.Receive(data + at, n, [](const std::vector<uint8_t>& answer, const FaultApplied&) {
            if (answer.size() > 255 + 8) std::abort();
        });
        at += n;
    }
    return 0;
}
