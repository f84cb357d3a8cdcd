// The windows' timers and answer time-outs, pinned in virtual time by when their steps happen against the simulated
// meter: the main window's seven (LastData, TimerEmitator, TimerWork, TransTimer, TimerShow, TimerClose,
// TimerCalcCharge), the KFS window's LastData, and the engines' 1500 and 1000 ms.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/KfsRig.h"
#include "app/MainRig.h"
#include "core/Trace.h"

namespace rv::test {
namespace {

// The delay from a request to its frame on the line: the package time both windows give their engine.
constexpr uint64_t kPackage = 1;

struct Seen {
    uint64_t at;
    TViewChange change;
    TMainStage stage;
    std::string status;
};

// Everything the main window tells its view, and every frame sent and answer taken, with the virtual time.
class TimedMainRig : public MainRig {
public:
    explicit TimedMainRig(const sim::MeterDescription& d = sim::DefaultDescription(), sim::FaultPlan faults = {})
        : MainRig(d, faults)
    {
        ctl.OnViewChanged = [this, forward = ctl.OnViewChanged](TViewChange change) {
            forward(change);
            seen.push_back({loop.NowMs(), change, ctl.Stage(), ctl.View().LStatusCaption});
        };
        ctl.SetTraceHook([this](const TraceRecord& r) {
            if (r.kind == TraceKind::Send) sent.push_back(r.timeMs);
            if (r.kind == TraceKind::Answer) answered.push_back(r.timeMs);
        });
    }
    // When the first change that matches happened, from `from` on.
    template <class F>
    uint64_t When(F match, uint64_t from = 0) const
    {
        for (const Seen& s : seen)
            if (s.at >= from && match(s)) return s.at;
        ADD_FAILURE() << "never seen";
        return 0;
    }
    uint64_t StageAt(TMainStage stage, uint64_t from = 0) const
    {
        return When([stage](const Seen& s) { return s.change == vcStage && s.stage == stage; }, from);
    }
    uint64_t LineAt(const std::string& head, uint64_t from = 0) const
    {
        size_t index = 0;
        for (const Seen& s : seen) {
            if (s.change == vcMemoCleared) index = 0;
            if (s.change != vcMemoAdded) continue;
            const std::string& text = ctl.View().Memo1Lines.at(index++);
            if (s.at >= from && text.rfind(head, 0) == 0) return s.at;
        }
        ADD_FAILURE() << "no line " << head;
        return 0;
    }
    // The first frame sent after `from`.
    uint64_t FrameAfter(uint64_t from) const
    {
        for (uint64_t t : sent)
            if (t > from) return t;
        ADD_FAILURE() << "no frame after " << from;
        return 0;
    }
    // The last answer taken at or before `to`.
    uint64_t AnswerBefore(uint64_t to) const
    {
        uint64_t last = 0;
        for (uint64_t t : answered)
            if (t <= to) last = t;
        return last;
    }

    std::vector<Seen> seen;
    std::vector<uint64_t> sent, answered;
};

TEST(WindowTimers, MainWindowStepsFollowTheirTimersToTheMillisecond)
{
    TimedMainRig rig;
    ASSERT_TRUE(rig.Verify(false, false));
    ASSERT_EQ(rig.ctl.Stage(), msDone);

    // LastData, 10 ms: from the sixth sensor record to the sensor dialog and the header.
    const uint64_t read = rig.When([](const Seen& s) { return s.status == "Выбор датчика для проверки."; });
    const uint64_t header = rig.When([](const Seen& s) { return s.change == vcMemoCleared; }, read);
    EXPECT_EQ(header - read, 10u);
    // TimerEmitator, 10 ms: from the header to the pointer table asked.
    EXPECT_EQ(rig.FrameAfter(header) - header, 10u + kPackage);
    // TimerWork, 1 ms: from the emulator mode seen to the required flows and the first flow calculation.
    const uint64_t measuring = rig.StageAt(msMeasuring);
    const uint64_t flows = rig.When([](const Seen& s) { return s.change == vcEdits; }, measuring);
    EXPECT_EQ(flows - measuring, 1u);
    EXPECT_EQ(rig.FrameAfter(measuring) - measuring, 1u + kPackage);
    // TransTimer, 1 ms: from the largest delay to the first emulator block written by the sweep.
    const uint64_t sweeping = rig.StageAt(msSweeping);
    EXPECT_EQ(rig.FrameAfter(sweeping) - sweeping, 1u + kPackage);
    // TimerCalcCharge, 1 ms: from the acknowledgement that switched the emulator off to the point series.
    const uint64_t points = rig.StageAt(msPoints);
    EXPECT_EQ(points - rig.AnswerBefore(points), 1u);
    // TimerShow, 5000 ms: from a point's set flow to its measured flow, and on to the next point.
    const uint64_t set = rig.LineAt("Задаваемое значение расхода ", points);
    EXPECT_EQ(rig.LineAt("Измеренное значение расхода ", set) - set, 5000u);
    EXPECT_EQ(rig.LineAt("Номинальное значение расхода ", set + 1) - set, 5000u);
}

TEST(WindowTimers, MainWindowClosesTenMillisecondsAfterTheRefusal)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.emulatorMode = false;
    TimedMainRig rig(d);
    uint64_t asked = 0;
    // The refusal; the protocol is offered for saving just before the window closes.
    rig.prompter.onQuestion = [&](bool) {
        if (asked == 0) asked = rig.loop.NowMs();
    };
    rig.Connect();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.closed; }));
    EXPECT_EQ(rig.When([](const Seen& s) { return s.change == vcClose; }) - asked, 10u);
}

TEST(WindowTimers, KfsWindowChoosesTenMillisecondsAfterItsRecords)
{
    KfsRig rig;
    std::vector<std::pair<uint64_t, std::string>> statuses;
    rig.main.OnViewChanged = [&](TViewChange change) {
        if (change == vcStatus) statuses.push_back({rig.loop.NowMs(), rig.main.View().LStatusCaption});
    };
    uint64_t shown = 0;
    rig.page.OnViewChanged = [&, forward = rig.page.OnViewChanged](TKfsPageChange change) {
        forward(change);
        if (change == kcKfs && shown == 0) shown = rig.loop.NowMs();
    };
    ASSERT_TRUE(rig.ConnectToShowing());
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back().second, "OK");
    EXPECT_EQ(shown - statuses.back().first, 10u);
}

// A silent meter: the first repetition follows the identity frame by the window's answer time-out.
TEST(WindowTimers, AnswerTimeOutsAre1500MsInTheMainWindowAnd1000InTheKfsWindow)
{
    sim::FaultPlan silent;
    silent.dropAnswer = 1;
    TimedMainRig main(sim::DefaultDescription(), silent);
    main.Connect();
    ASSERT_TRUE(main.RunUntil([&] { return main.ctl.View().LStatusCaption == "Переповторы 2"; }, 10'000));
    const uint64_t first = main.When([](const Seen& s) { return s.status == "Переповторы 1"; });
    EXPECT_EQ(first - main.sent.at(0), 1500u);
    EXPECT_EQ(main.When([](const Seen& s) { return s.status == "Переповторы 2"; }) - main.sent.at(1), 1500u);

    KfsRig kfs;
    kfs.meter.Faults().dropAnswer = 1;
    std::vector<uint64_t> sent;
    kfs.form1.SetTraceHook([&](const TraceRecord& r) {
        if (r.kind == TraceKind::Send) sent.push_back(r.timeMs);
    });
    std::vector<std::pair<uint64_t, std::string>> statuses;
    kfs.main.OnViewChanged = [&](TViewChange change) {
        if (change == vcStatus) statuses.push_back({kfs.loop.NowMs(), kfs.main.View().LStatusCaption});
    };
    kfs.Connect();
    ASSERT_TRUE(kfs.RunUntil([&] { return statuses.size() >= 2; }, 10'000));
    EXPECT_EQ(statuses[0].second, "Переповторы 1");
    EXPECT_EQ(statuses[0].first - sent.at(0), 1000u);
    EXPECT_EQ(statuses[1].first - sent.at(1), 1000u);
}

}  // namespace
}  // namespace rv::test
