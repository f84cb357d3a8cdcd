// The main window's controller against the simulated meter on the in-memory line, in virtual time, with a
// scripted prompter: what the window tests and the whole-run tests are built on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommaSeparator.h"
#include "app/verify/TFMainController.h"
#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "fakes/ScriptedPrompter.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::test {

class MainRig {
public:
    explicit MainRig(const sim::MeterDescription& d = sim::DefaultDescription(), sim::FaultPlan faults = {})
        : image(sim::BuildMeter(d)), meter(image, faults), line(meter, &loop), ctl(line, prompter, &loop)
    {
        // The port is closed until the window connects, as a serial port is.
        line.SetOpen(false);
        ctl.OnViewChanged = [this](TViewChange change) {
            changes.push_back(change);
            if (change == vcStatus) statuses.push_back(ctl.View().LStatusCaption);
            if (change == vcClose) closed = true;
        };
    }

    void Connect(const std::string& port = "COM1")
    {
        ctl.SetCBPortNameText(port);
        ctl.SetSBOpenCloseDown(true);
        ctl.SBOpenCloseClick();
    }
    void Disconnect()
    {
        ctl.SetSBOpenCloseDown(false);
        ctl.SBOpenCloseClick();
    }
    bool RunUntil(const std::function<bool()>& done, uint64_t limitMs = 600'000)
    {
        return loop.RunUntil(done, limitMs);
    }
    bool RunToStage(TMainStage stage, uint64_t limitMs = 600'000)
    {
        return RunUntil([&] { return ctl.Stage() == stage; }, limitMs);
    }
    // Connects and runs until the header is out and the emulator check has passed.
    bool ConnectToReady()
    {
        Connect();
        return RunUntil([&] { return ctl.Stage() == msReady || ctl.Stage() == msStopped || closed; });
    }
    // From connect to the end of the protocol (done, stopped or closing), with the options given.
    bool Verify(bool reverse, bool extraInfo, uint64_t limitMs = 3'600'000)
    {
        ctl.SetChBDopInfoChecked(extraInfo);
        if (!ConnectToReady() || ctl.Stage() != msReady) return false;
        ctl.SetChB_backChecked(reverse);
        ctl.Button1Click();
        return RunUntil([&] { return ctl.Stage() == msDone || ctl.Stage() == msStopped || closed; }, limitMs);
    }
    std::string Protocol() const
    {
        std::string out;
        for (const std::string& l : ctl.View().Memo1Lines) out += l + "\n";
        return out;
    }

    // Every request frame the PC sent (wake-up bytes left out), as command and parameters.
    std::vector<SentRequest> Requests(int command = -1) const { return SentRequests(line, command); }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    sim::MemoryLine line;
    ScriptedPrompter prompter;
    TFMainController ctl;
    std::vector<TViewChange> changes;
    std::vector<std::string> statuses;
    bool closed = false;
};

}  // namespace rv::test
