// The fields the main window's steps keep, named as the window names them and grouped by what they serve: the
// connection and its readout, the measuring run, the test points.
#pragma once

#include "app/verify/TFlowMath.h"
#include "app/verify/TMainPage.h"
#include "meter/MeterRecords.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rv {

// What the readout found of the meter and of the chosen sensor.
struct SConnectionFields {
    uint32_t MeterSerial = 0;
    uint16_t SoftwareVersion = 0;  // of the meter, from its identity
    int SelectedSensor = 0;
    int PathsPerSensor = 1;
    int ModuleNumber = 0;
    int TableSet = 0;
    uint8_t ChannelMask = 0;
    float KfsValue = 0.0f;
    // Where the KFS texts of the header's records disagree with their floats, what the status line said; empty
    // when they agree. The run goes on with the float.
    std::string KfsMismatch;
};

// The emulator check, the measurements and the delay sweep.
struct SRunFields {
    bool RunRequested = false;
    bool EmulatorConfirmed = false;
    int SizeIndex = 0;
    float NominalMax = 0.0f;
    int Paths = 1;
    int PointCount = 0;
    SPointerRAM RamPointers;
    int RunState = -1;  // -1: no measurement chain under way; 6, 7: switching off an emulator left on
    int SampleCount = 0;
    float ZeroFlowSum = 0.0f;
    float NominalSum = 0.0f;
    int Mmax = 0;
    int SweepPhase = 0;
    int NextPhase = 0;
    int SweepDelay = 0;
    int SweepCount = 0;
    int SweepLimit = 100;  // samples of the delay under way: 100 at the first, 50 at the next, then 20 each
    float SweepSample = 0.0f;
    int DelayCode = 0;
    TDelayTable FwdFlows{};
    TDelayTable RevFlows{};
    bool ReverseActive = false;
    bool ReverseSwept = false;  // this run swept the reverse direction too
    std::array<uint8_t, 8> EmuBlock{};
    bool EmulatorOn = false;  // a run switched the meter's emulator on and has not switched it off yet
};

// The test point under way.
struct SPointFields {
    int PointIndex = 0;
    float SetFlow = 0.0f;
    float MeasuredFlow = 0.0f;
    float AllowedErr = 0.0f;
    TDelayTable Correction{};
    bool Valid = false;  // the point being evaluated was set, so its results follow
    SRunPoint Pending;   // the point whose result lines come next
    int Skipped = 0;     // points of the series that could not be set (reported and skipped)
};

// What the main window keeps of its connection and its runs beside the fields.
struct SWindowState {
    std::string PortName;       // the port the window connected through
    bool ReadoutDone = false;   // this connection has printed its header; a run may start
    int Runs = 0;               // runs started on this connection
    size_t RunFirstLine = 0;    // where the protocol of the run under way begins in the memo
    bool RunCompleted = false;  // the run that ended last completed its last point
    bool MeterSilent = false;   // the technician gave up on a meter that did not answer
    bool Closing = false;       // the window may close
};

// All of them, as a test or a view reads them at once.
struct SMainFields : SConnectionFields, SRunFields, SPointFields {};

}  // namespace rv
