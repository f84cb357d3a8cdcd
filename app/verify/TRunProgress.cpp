// The progress of a verification run.
#include "app/verify/TRunProgress.h"

#include "meter/MeterRecords.h"

#include <algorithm>
#include <cmath>

namespace rv {

namespace {

constexpr double kRequestOverheadMs = 2.0;  // the package delay and the timer that sends the next request
constexpr double kShowMs = 5000.0;          // the pause that shows a test point
constexpr double kWakeUpMs = 100.0;         // the wake-up pause after it, the line having been idle
constexpr int kSamples = 20;                // samples of the zero and of the nominal measurement
constexpr size_t kFrame = 6;                // a request frame is its parameters and 6 bytes
constexpr size_t kFramedAnswer = 5;         // a framed answer is its payload and 5 bytes
constexpr size_t kAcknowledge = 1;
constexpr size_t kEmulatorBlock = 8;

}  // namespace

double SRunLine::Request(size_t params, size_t answer) const
{
    const double bits = Bits > 0 ? Bits : 4800.0;
    return static_cast<double>(params + kFrame + answer) * 10.0 * 1000.0 / bits + kRequestOverheadMs;
}

double SRunLine::Start() const
{
    return Request(1, kAcknowledge);
}

double SRunLine::Last() const
{
    return Request(3, SLastMeasure::kSize + kFramedAnswer);
}

double SRunLine::BlockRead() const
{
    return Request(3, kEmulatorBlock + kFramedAnswer);
}

double SRunLine::BlockWrite() const
{
    return Request(3 + kEmulatorBlock, kAcknowledge);
}

double SRunLine::EmulatorCheck() const
{
    return Request(3, SPointerRAM::kSize + kFramedAnswer) + Request(3, S6x6FlagsByte::kSize + kFramedAnswer);
}

double SRunLine::Point() const
{
    return kShowMs + kWakeUpMs + Request(3 + 4, kAcknowledge);
}

double SRunLine::Sweep(int mmax, int firstLimit) const
{
    double ms = 0.0;
    int limit = firstLimit;
    for (int d = 0; d <= mmax; ++d) {
        // The first sample of a delay writes it, starts a calculation and reads; then the first delay starts and
        // reads each sample, the others only read.
        ms += BlockWrite() + Start() + Last();
        ms += std::max(limit - 1, 0) * (d == 0 ? Start() + Last() : Last());
        limit = d == 0 ? 50 : 20;
    }
    return ms;
}

double SRunLine::AfterNominal(int mmax, int points, bool reverse) const
{
    const int series = reverse ? 2 : 1;
    // The reverse sweep starts with the limit the forward one ended with.
    return Sweep(mmax, 100) + (reverse ? Sweep(mmax, 20) : 0.0) + BlockWrite() + series * points * Point();
}

double SRunLine::Whole(int mmax, int points, bool reverse) const
{
    return EmulatorCheck() + 2 * kSamples * (Start() + Last()) + BlockRead() + BlockWrite() +
           AfterNominal(mmax, points, reverse);
}

void TRunProgress::Begin(double expectedMs, uint64_t nowMs)
{
    base_ = 0.0;
    planned_ = std::max(expectedMs, 0.0);
    done_ = 0.0;
    expectedSoFar_ = 0.0;
    startMs_ = nowMs;
    finished_ = false;
}

void TRunProgress::Replan(double expectedMs)
{
    base_ = Fraction();
    planned_ = std::max(expectedMs, 0.0);
    done_ = 0.0;
}

void TRunProgress::Advance(double expectedMs)
{
    if (!(expectedMs > 0.0)) return;
    expectedSoFar_ += expectedMs;
    done_ = std::min(done_ + expectedMs, planned_);
}

void TRunProgress::Finish()
{
    finished_ = true;
}

double TRunProgress::Fraction() const
{
    if (finished_) return 1.0;
    if (!(planned_ > 0.0)) return base_;
    // The last bit of the bar is kept for the end of the run, so that only Finish fills it.
    return std::min(base_ + (1.0 - base_) * done_ / planned_, 0.999);
}

uint64_t TRunProgress::RemainingMs(uint64_t nowMs) const
{
    if (finished_) return 0;
    const double expectedLeft = std::max(planned_ - done_, 0.0);
    double pace = 1.0;
    const double real = nowMs > startMs_ ? static_cast<double>(nowMs - startMs_) : 0.0;
    // A few seconds of a run tell nothing of its pace yet.
    if (expectedSoFar_ > 5000.0 && real > 0.0) pace = std::clamp(real / expectedSoFar_, 0.5, 10.0);
    return static_cast<uint64_t>(std::llround(expectedLeft * pace));
}

std::string TRunProgress::RemainingText(uint64_t ms)
{
    const uint64_t s = (ms + 500) / 1000;
    if (s < 1) return "осталось меньше 1 с";
    if (s < 60) return "осталось около " + std::to_string(s) + " с";
    const uint64_t sec = s % 60;
    return "осталось около " + std::to_string(s / 60) + " мин " + (sec < 10 ? "0" : "") + std::to_string(sec) + " с";
}

}  // namespace rv
