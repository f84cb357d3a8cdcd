// The course of one verification run as the technician follows it: the work of the run counted in the line time it
// is expected to take, one overall fraction that goes once from 0 to 1 and never back, and an estimate of the time
// left that follows how fast the run has really gone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rv {

// The time a run's requests are expected to take on a line of Bits per second: the frame and the answer at ten bits
// a byte, and what the engine and the meter add to each request.
struct SRunLine {
    uint32_t Bits = 4800;

    double Request(size_t params, size_t answer) const;
    // A start of the flow calculation and its acknowledge.
    double Start() const;
    // A read of the last measurement.
    double Last() const;
    // A read or a write of the emulator block.
    double BlockRead() const;
    double BlockWrite() const;
    // The emulator check: the pointer table and the flag bytes.
    double EmulatorCheck() const;
    // A test point: the write of its flow and the pause that shows it.
    double Point() const;
    // The sweep of delays 0..mmax in one direction, its first delay taking firstLimit samples.
    double Sweep(int mmax, int firstLimit) const;
    // What follows the nominal measurement: the sweep in each series, the switch-off and the points.
    double AfterNominal(int mmax, int points, bool reverse) const;
    // A whole run, before the largest delay and the points are known.
    double Whole(int mmax, int points, bool reverse) const;
};

class TRunProgress {
public:
    // A new run whose work is expected to take expectedMs of line time and prescribed pauses.
    void Begin(double expectedMs, uint64_t nowMs);
    // What is left turned out to take expectedMs (the run learnt its largest delay, or a series ended short):
    // the fraction reached stays, the rest of the bar stands for the new estimate.
    void Replan(double expectedMs);
    // Work of expectedMs is done. Work beyond the plan moves nothing until the next Replan.
    void Advance(double expectedMs);
    // The run is complete: the fraction is 1.
    void Finish();

    // 0 … 1, never less than before within a run.
    double Fraction() const;
    // The time left in ms: the expected time left, scaled by the real time the run has taken so far against the
    // time it was expected to take (a line with repetitions is slower).
    uint64_t RemainingMs(uint64_t nowMs) const;

    // "осталось около 2 мин 05 с", "осталось около 40 с", "осталось меньше 1 с".
    static std::string RemainingText(uint64_t ms);

private:
    double base_ = 0.0;     // fraction reached when the plan was last made
    double planned_ = 0.0;  // expected ms of the current plan
    double done_ = 0.0;     // expected ms of the current plan done
    double expectedSoFar_ = 0.0;
    uint64_t startMs_ = 0;
    bool finished_ = false;
};

// Where a run stands as the technician follows it: under way or being stopped (why, what follows the stop, how often
// its switch-off was repeated), how far it has come and the expected times of its line.
struct SRunCourse {
    enum TPhase { phIdle, phEmulatorCheck, phZero, phNominal, phSweep, phPoints } Phase = phIdle;
    bool UnderWay = false;
    bool Stopping = false;
    bool ShowStopBox = false;
    int SwitchOffRepetitions = 0;
    std::string StopReason;
    std::function<void()> AfterStop;
    TRunProgress Progress;
    SRunLine Line;
};

}  // namespace rv
