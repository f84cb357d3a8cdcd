// A deterministic loop in simulated time for tests: time moves only when the loop is run.
#pragma once

#include <functional>

#include "Loop.h"

namespace rv {

class VirtualLoop : public Loop {
public:
    uint64_t NowMs() const override { return now_; }
    // Advances the clock; no timer fires during the sleep, due ones fire afterwards in deadline order.
    void Sleep(uint32_t ms) override { now_ += ms; }
    // Runs what is pending; with nothing due, moves the clock to the next deadline (at most maxWaitMs on).
    void ProcessOne(uint32_t maxWaitMs) override;

    // Runs every timer due in the next ms milliseconds; the clock ends exactly ms later.
    void RunFor(uint64_t ms);
    // Runs until cond() holds or limitMs have passed; returns cond().
    bool RunUntil(const std::function<bool()>& cond, uint64_t limitMs);

private:
    bool Step(uint64_t end);
    uint64_t now_ = 0;
};

}  // namespace rv
