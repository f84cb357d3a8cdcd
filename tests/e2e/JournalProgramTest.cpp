// The runner program and its journal over a pseudo-terminal: every run recorded, a runner killed in the middle of
// a run leaving an interrupted record in an intact journal, two runners writing one journal at once, and the
// printable protocol.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "e2e/ProgramRun.h"
#include "journal/TJournal.h"

namespace rv::test {
namespace {

using journal::ERunState;

std::string FreshJournal(const std::string& name)
{
    const std::string path = ::testing::TempDir() + "/rivanta-program-" + std::to_string(::getpid()) + "-" + name;
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
    return path;
}

TEST(JournalProgram, EveryRunIsRecordedAndItsProtocolPrintable)
{
    const std::string path = FreshJournal("one.sqlite");
    const std::string pdf = ::testing::TempDir() + "/rivanta-program-" + std::to_string(::getpid()) + ".pdf";
    const Outcome o = RunProgram("--simulate --journal " + path + " --technician Петрова --conditions '21,5;45;100' --pdf " +
                                 pdf);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("поверка записана в журнал, протокол № 1"), std::string::npos) << o.err;
    journal::TJournal j(path);
    const std::optional<journal::SVerificationRecord> r = j.Get(1);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->State, ERunState::Passed);
    EXPECT_EQ(r->Technician, "Петрова");
    EXPECT_EQ(r->Protocol, o.out);
    EXPECT_EQ(r->Points.size(), 4u);
    ASSERT_TRUE(r->Conditions.Pressure);
    EXPECT_DOUBLE_EQ(*r->Conditions.Pressure, 100.0);
    EXPECT_EQ(ReadText(pdf).rfind("%PDF", 0), 0u);
    std::remove(pdf.c_str());

    // --no-journal records nothing; a journal that cannot be opened is refused before the port.
    EXPECT_EQ(RunProgram("--simulate --no-journal").status, 0);
    EXPECT_EQ(j.Count({}), 1);
    const Outcome bad = RunProgram("--simulate --journal postgresql://nobody@/nowhere?host=/nonexistent");
    EXPECT_EQ(bad.status, 2) << bad.err;
}

// SIGKILL in the middle of a run: the record stays, reads as interrupted, and the journal checks intact.
TEST(JournalProgram, ARunnerKilledMidRunLeavesAnInterruptedRecord)
{
    const std::string path = FreshJournal("killed.sqlite");
    const std::string out = path + ".out", err = path + ".err";
    const pid_t pid = StartProgram("--simulate --journal " + path, out, err);
    ASSERT_GT(pid, 0);
    bool inProgress = false;
    for (int i = 0; i < 600 && !inProgress; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        try {
            journal::TJournal j(path);
            const std::optional<journal::SVerificationRecord> r = j.Get(1);
            inProgress = r && !r->Points.empty();
        } catch (const std::exception&) {
            // Not created yet.
        }
    }
    ASSERT_TRUE(inProgress) << ReadText(err);
    ::kill(pid, SIGKILL);
    EXPECT_EQ(FinishProgram(pid), -1);
    journal::TJournal j(path);
    EXPECT_EQ(j.IntegrityProblems(), "");
    const std::optional<journal::SVerificationRecord> r = j.Get(1);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->State, ERunState::Interrupted);
    EXPECT_FALSE(r->Points.empty());
    std::remove(out.c_str());
    std::remove(err.c_str());
}

// Two workstations' runners on one journal at once: both runs recorded whole.
TEST(JournalProgram, TwoRunnersWritingOneJournalAtOnceLoseNothing)
{
    const std::string path = FreshJournal("shared.sqlite");
    pid_t pids[2];
    for (int i = 0; i < 2; ++i) {
        const std::string base = path + "." + std::to_string(i);
        pids[i] = StartProgram("--simulate --journal " + path, base + ".out", base + ".err");
        ASSERT_GT(pids[i], 0);
    }
    for (int i = 0; i < 2; ++i) EXPECT_EQ(FinishProgram(pids[i]), 0) << ReadText(path + "." + std::to_string(i) + ".err");
    journal::TJournal j(path);
    ASSERT_EQ(j.Count({}), 2);
    for (int64_t id : {1, 2}) {
        const std::optional<journal::SVerificationRecord> r = j.Get(id);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->State, ERunState::Passed) << id;
        EXPECT_EQ(r->Points.size(), 4u) << id;
    }
    EXPECT_EQ(j.IntegrityProblems(), "");
}

}  // namespace
}  // namespace rv::test
