// A real-time loop without Qt, for the simulator program and the integration tests.
#pragma once

#include <chrono>
#include <functional>

#include "Loop.h"

namespace rv {

class PosixLoop : public Loop {
public:
    PosixLoop();
    uint64_t NowMs() const override;
    void Sleep(uint32_t ms) override;
    void ProcessOne(uint32_t maxWaitMs) override;

    // Runs until Quit() or Terminate(); returns the code given to Quit.
    int Run();
    void Quit(int code = 0);
    void RunFor(uint64_t ms);
    bool RunUntil(const std::function<bool()>& cond, uint64_t limitMs);

private:
    std::chrono::steady_clock::time_point start_;
    bool quit_ = false;
    int code_ = 0;
};

}  // namespace rv
