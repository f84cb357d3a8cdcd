// The runner's two jobs in virtual time against the simulated meter on the in-memory line, with the headless run as
// the windows' prompter: what the job tests share. The lines' ports can vanish under the windows, as an unplugged
// adapter's.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/KfsRig.h"
#include "app/MainRig.h"
#include "app/runner/TKfsWriteRun.h"
#include "app/runner/TVerifyRun.h"

namespace rv::test {

inline SVerifyOptions Options(std::vector<std::string> args)
{
    SVerifyOptions options;
    std::string error;
    EXPECT_TRUE(ParseVerifyOptions(args, options, error)) << error;
    return options;
}

// The verification.
class HeadlessRig {
public:
    explicit HeadlessRig(const SVerifyOptions& options, const sim::MeterDescription& d = sim::DefaultDescription())
        : image(sim::BuildMeter(d)), meter(image), line(meter, &loop), run(options, out, err), ctl(line, run, &loop)
    {
        line.SetOpen(false);
        run.OnFinished = [this](int code) { finishedWith = code; };
    }
    // Runs to the end; the exit status.
    int Run(uint64_t limitMs = 3'600'000)
    {
        run.Start(ctl, loop, "COM1");
        EXPECT_TRUE(loop.RunUntil([&] { return finishedWith >= 0; }, limitMs));
        return finishedWith;
    }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    VanishingLine line;
    std::ostringstream out, err;
    TVerifyRun run;
    TFMainController ctl;
    int finishedWith = -1;
};

// The KFS write: the page and its window.
struct RunRig {
    explicit RunRig(const sim::MeterDescription& d, const std::string& target, bool yes = false)
        : image(sim::BuildMeter(d)),
          meter(image),
          line(meter, &loop),
          mainLine(meter, &loop),
          run(Options(target, yes), out, log),
          main(mainLine, run, &loop),
          form1(line, run, &loop),
          page(main, form1, run)
    {
        line.SetOpen(false);
        mainLine.SetOpen(false);
        run.OnFinished = [this](int code) { exit = code; };
    }
    static SKfsWriteOptions Options(const std::string& target, bool yes)
    {
        SKfsWriteOptions o;
        std::string error;
        std::vector<std::string> args = {"--port", "COM1", "--kfs-write", target};
        if (yes) args.insert(args.end(), {"--answer", "yes"});
        EXPECT_TRUE(ParseKfsWriteOptions(args, o, error)) << error;
        return o;
    }
    int Run()
    {
        run.Start(main, page, loop, "COM1");
        loop.RunUntil([&] { return exit >= 0; }, 600'000);
        return exit;
    }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    VanishingLine line;
    sim::MemoryLine mainLine;
    std::ostringstream out, log;
    TKfsWriteRun run;
    TFMainController main;
    TForm1Controller form1;
    TKfsPageController page;
    int exit = -1;
};

inline sim::MeterDescription InCorrectionMode(sim::MeterDescription d)
{
    d.correctionMode = true;
    return d;
}

}  // namespace rv::test
