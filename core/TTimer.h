// A periodic timer of the loop. Starting a running timer keeps its period; a new interval
// restarts it; interval 0 never fires. A handler that must fire once disables its own timer.
#pragma once

#include <cstdint>
#include <memory>

#include "Event.h"
#include "TObject.h"

namespace rv {

class Loop;

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr, Loop* loop = nullptr);
    ~TTimer() override;

    void SetEnabled(bool enabled);
    bool GetEnabled() const { return enabled_; }
    void SetInterval(uint32_t ms);
    uint32_t GetInterval() const { return interval_; }
    void Start() { SetEnabled(true); }
    void Stop() { SetEnabled(false); }
    Loop& GetLoop() const { return *loop_; }

    TNotifyEvent OnTimer;

private:
    friend class Loop;
    void Arm();
    void Fire(uint64_t due);

    Loop* loop_;
    uint32_t interval_ = 1000;
    bool enabled_ = false;
    // Key in the loop's schedule while armed.
    bool scheduled_ = false;
    uint64_t due_ = 0;
    uint64_t seq_ = 0;
    TTimer* next_ = nullptr;
    TTimer* prev_ = nullptr;
};

// A stopped timer of loop with its name and interval, as a window keeps one.
std::unique_ptr<TTimer> MakeTimer(Loop& loop, const char* name, uint32_t interval);

}  // namespace rv
