// The journal record of each run, in virtual time against the simulated meter: what a complete run, a stopped one
// and a second run on the same connection leave in the journal.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/CommaSeparator.h"
#include "app/MainRig.h"
#include "app/record/TRunRecorder.h"
#include "journal/ProtocolPoints.h"
#include "journal/TJournal.h"

namespace rv::test {
namespace {

using journal::ERunState;

std::string JournalPath(const std::string& name)
{
    const std::string path = ::testing::TempDir() + "/rivanta-record-" + std::to_string(::getpid()) + "-" + name;
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
    return path;
}

struct RecordRig : MainRig {
    explicit RecordRig(const std::string& name) : journal(JournalPath(name)), recorder(ctl, journal, Context())
    {
        recorder.OnError = [this](const std::string& message) { errors.push_back(message); };
    }
    static SRunRecordContext Context()
    {
        SRunRecordContext c;
        c.Technician = "Петрова А. С.";
        c.Workstation = "стенд-1";
        c.ProgramVersion = "0.1";
        c.Conditions.AirTemperature = 21.5;
        return c;
    }
    journal::SVerificationRecord Record() { return journal.Get(recorder.RecordId()).value(); }

    journal::TJournal journal;
    TRunRecorder recorder;
    std::vector<std::string> errors;
};

TEST(RunRecord, ACompleteRunIsRecordedWithThePointsAsPrintedAndItsVerdict)
{
    CommaSeparator comma;
    RecordRig rig("complete.sqlite");
    ASSERT_TRUE(rig.Verify(true, false));
    ASSERT_EQ(rig.ctl.Stage(), msDone);
    const journal::SVerificationRecord r = rig.Record();
    EXPECT_EQ(r.State, ERunState::Passed) << r.Outcome;
    EXPECT_EQ(r.Meter.Serial, "21345");
    EXPECT_EQ(r.Meter.ModuleNumber, 1);
    EXPECT_EQ(r.Sensor.Designation, "FS/A FS-25S");
    EXPECT_EQ(r.Sensor.Kfs, "1,0012");
    EXPECT_EQ(r.Technician, "Петрова А. С.");
    EXPECT_EQ(r.Port, "COM1");
    EXPECT_TRUE(r.Reverse);
    ASSERT_TRUE(r.Conditions.AirTemperature);
    EXPECT_DOUBLE_EQ(*r.Conditions.AirTemperature, 21.5);
    EXPECT_EQ(r.Protocol, rig.Protocol());
    // The points the record holds are the protocol's own, read back from its text.
    const std::vector<journal::SVerificationPoint> printed = journal::ParseProtocolPoints(rig.Protocol(), true);
    ASSERT_EQ(r.Points.size(), printed.size());
    ASSERT_EQ(r.Points.size(), 8u);
    for (size_t i = 0; i < printed.size(); ++i) {
        EXPECT_EQ(r.Points[i].Direction, printed[i].Direction) << i;
        EXPECT_EQ(r.Points[i].Nominal, printed[i].Nominal) << i;
        EXPECT_EQ(r.Points[i].Measured, printed[i].Measured) << i;
        EXPECT_EQ(r.Points[i].RelativeError, printed[i].RelativeError) << i;
        EXPECT_EQ(r.Points[i].AllowedError, printed[i].AllowedError) << i;
    }
    EXPECT_TRUE(rig.errors.empty());
}

TEST(RunRecord, AStoppedRunIsRecordedAsNotCompletedWithItsReason)
{
    CommaSeparator comma;
    RecordRig rig("stopped.sqlite");
    ASSERT_TRUE(rig.ConnectToReady());
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Fields().SweepDelay == 2; }));
    rig.ctl.ButtonStopClick();
    ASSERT_TRUE(rig.RunToStage(msStopped));
    const journal::SVerificationRecord r = rig.Record();
    EXPECT_EQ(r.State, ERunState::Stopped);
    EXPECT_NE(r.Outcome.find("остановлена техником"), std::string::npos) << r.Outcome;
    EXPECT_TRUE(r.Points.empty());
    EXPECT_EQ(r.Protocol, rig.Protocol());
    EXPECT_NE(r.Protocol.find("Поверка прервана: остановлена техником"), std::string::npos);
}

// A second run on the same connection is a record of its own, whose protocol begins with its own header.
TEST(RunRecord, EachRunOfAConnectionHasItsOwnRecord)
{
    CommaSeparator comma;
    RecordRig rig("two.sqlite");
    ASSERT_TRUE(rig.Verify(false, false));
    const int64_t first = rig.recorder.RecordId();
    const std::string firstProtocol = rig.Protocol();
    rig.ctl.Button1Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl.Stage() == msDone || rig.ctl.Stage() == msStopped; }));
    ASSERT_EQ(rig.ctl.Stage(), msDone);
    EXPECT_NE(rig.recorder.RecordId(), first);
    EXPECT_EQ(rig.journal.Get(first)->Protocol, firstProtocol);
    EXPECT_EQ(rig.Record().Protocol, firstProtocol);  // the same meter, sensor and points: the same text
    EXPECT_EQ(rig.Record().State, ERunState::Passed);
    EXPECT_EQ(rig.journal.Count({}), 2);
}

}  // namespace
}  // namespace rv::test
