// The driver of one headless verification on its own, in virtual time against the simulated meter: what neither
// the runner's nor the bench's whole runs reach, a stop or the driver's end while its next step is already posted.
#include "app/bench/TVerifyDriver.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::test {
namespace {

// The controller's prompter answers through the driver while there is one.
class Forward : public IPrompter {
public:
    TVerifyDriver* driver = nullptr;
    void Message(const std::string& text, const std::string& caption) override
    {
        if (driver) driver->Message(text, caption);
    }
    bool Question(const std::string& text, const std::string& caption) override
    {
        return driver && driver->Question(text, caption);
    }
    TAnswer QuestionCancel(const std::string& text, const std::string& caption) override
    {
        return driver ? driver->QuestionCancel(text, caption) : anNo;
    }
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) override
    {
        return driver ? driver->ChooseSensor(dialog, choices) : std::nullopt;
    }
    std::optional<std::string> SaveFileName(const SSaveDialog&) override
    {
        return driver ? driver->SaveFileName() : std::nullopt;
    }
    void ShowException(const std::exception& error) override
    {
        if (driver) driver->ShowException(error);
    }
};

struct DriverRig {
    DriverRig()
        : image(sim::BuildMeter(sim::DefaultDescription())),
          meter(image),
          line(meter, &loop),
          ctl(line, prompter, &loop)
    {
        line.SetOpen(false);
        Make();
        ctl.OnViewChanged = [this](TViewChange change) {
            if (driver) driver->Follow(change);
            if (change == vcStage && ctl.Stage() == msReady && OnReady) OnReady();
        };
    }
    void Make()
    {
        driver = std::make_unique<TVerifyDriver>(ctl, loop, SVerifyDrive{});
        prompter.driver = driver.get();
        driver->Log = [this](const std::string& text) { log.push_back(text); };
        driver->OnEnd = [this](TBenchOutcome o, const std::string& m) {
            ++ends;
            outcome = o;
            message = m;
        };
    }
    bool Logged(const std::string& text) const
    {
        for (const std::string& l : log)
            if (l == text) return true;
        return false;
    }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    VanishingLine line;
    Forward prompter;
    TFMainController ctl;
    std::unique_ptr<TVerifyDriver> driver;
    std::function<void()> OnReady;
    std::vector<std::string> log;
    int ends = 0;
    TBenchOutcome outcome = boIncomplete;
    std::string message;
};

// A stop asked between the meter becoming ready and the posted press of "Поверка" ends the run stopped, once,
// and no run is started behind it; a second stop is refused.
TEST(VerifyDriver, StopBeforeThePostedPressStartsNoRun)
{
    DriverRig rig;
    rig.OnReady = [&] {
        rig.OnReady = nullptr;
        EXPECT_TRUE(rig.driver->Stop("проверка остановки"));
        EXPECT_FALSE(rig.driver->Stop("ещё раз"));
    };
    rig.driver->Connect("COM1");
    ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.ends > 0; }, 600'000));
    rig.loop.RunFor(60'000);
    EXPECT_EQ(rig.ends, 1);
    EXPECT_EQ(rig.outcome, boStopped);
    EXPECT_EQ(rig.message, "Поверка прервана: проверка остановки.");
    EXPECT_TRUE(rig.Logged("Остановка: проверка остановки"));
    EXPECT_FALSE(rig.Logged("Поверка"));
    EXPECT_EQ(rig.ctl.Stage(), msReady);
    EXPECT_FALSE(rig.driver->Stop("после конца"));

    bool released = false;
    rig.driver->Release("работа завершена", [&] { released = true; });
    ASSERT_TRUE(rig.loop.RunUntil([&] { return released; }, 60'000));
    EXPECT_FALSE(rig.ctl.View().SBOpenCloseDown);
}

// A driver gone while its press is posted leaves the press undone and touches nothing of itself; outside the save
// of a complete protocol the report is not offered, whatever path was asked for.
TEST(VerifyDriver, GoneDriverLeavesItsPostedStepsUndone)
{
    DriverRig rig;
    rig.driver->ReportPath = [] { return std::string("/tmp/nowhere.txt"); };
    rig.OnReady = [&] {
        rig.OnReady = nullptr;
        EXPECT_EQ(rig.driver->SaveFileName(), std::nullopt);
        rig.prompter.driver = nullptr;
        rig.driver.reset();
    };
    rig.driver->Connect("COM1");
    ASSERT_TRUE(rig.loop.RunUntil([&] { return !rig.driver; }, 600'000));
    rig.loop.RunFor(60'000);
    EXPECT_EQ(rig.ctl.Stage(), msReady);
    EXPECT_EQ(rig.ends, 0);
}

}  // namespace
}  // namespace rv::test
