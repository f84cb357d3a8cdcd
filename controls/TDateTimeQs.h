// Display options of a date and time value, and the seconds from the start of a year to each month.
#pragma once

#include "core/TObject.h"

#include <array>
#include <cstdint>

namespace rv {

class TDateTimeQs : public TComponent {
public:
    explicit TDateTimeQs(TComponent* owner = nullptr);

    void SetCentury(uint8_t v) { century_ = v; }
    uint8_t GetCentury() const { return century_; }
    void SetShowCentury(bool v) { showCentury_ = v; }
    bool GetShowCentury() const { return showCentury_; }
    void SetShowSecond(bool v) { showSecond_ = v; }
    bool GetShowSecond() const { return showSecond_; }

    // Seconds from the start of a non-leap year to the start of each month, January first.
    const std::array<int32_t, 12>& MonthOffsets() const { return monthOffsets_; }

private:
    uint8_t century_ = 20;
    bool showCentury_ = true;
    bool showSecond_ = false;
    std::array<int32_t, 12> monthOffsets_{};
};

}  // namespace rv
