// Writing the described archives, totals, error journals and pressure data into a meter image.
#pragma once

namespace rv::sim {

struct MeterImage;
struct MeterDescription;

// Throws MeterFileError, naming the key, when a part does not fit its record or the memory.
void WriteMeterRecords(MeterImage& img, const MeterDescription& d);

}  // namespace rv::sim
