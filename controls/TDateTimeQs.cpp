// Display options of a date and time value.
#include "TDateTimeQs.h"

namespace rv {

TDateTimeQs::TDateTimeQs(TComponent* owner) : TComponent(owner)
{
    static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int32_t seconds = 0;
    for (size_t m = 0; m < 12; ++m) {
        monthOffsets_[m] = seconds;
        seconds += kDays[m] * 86400;
    }
}

}  // namespace rv
