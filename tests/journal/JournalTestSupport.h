// What the journal tests share: the two engines a journal test runs on (a SQLite file in a fresh folder, a
// schema of its own on the PostgreSQL test server), a raw connection beside the journal, and sample records.
#pragma once

#include "journal/JournalLocation.h"
#include "journal/JournalTypes.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace rv::journal::test {

// The engines; PostgreSQL needs RIVANTA_TEST_PG_URL (scripts/pg-test-server.sh starts a server and sets it).
class EngineTest : public ::testing::TestWithParam<EEngine> {
protected:
    void SetUp() override;
    void TearDown() override;

    // A connection of its own to the test's journal, for what the journal itself would never write.
    QSqlDatabase Raw();
    // Runs one statement on Raw(); fails the test when it is refused.
    void RawExec(const QString& sql);

    std::string location_;
    QTemporaryDir dir_;

private:
    QString rawName_;
};

std::string EngineName(const ::testing::TestParamInfo<EEngine>& info);

// The reference protocol of the tests of whole runs ("one-path-forward.txt").
std::string ReferenceProtocol(const std::string& name);

// A run of meter 21345 with sensor FS/A FS-25S №1001 as the first reference protocol has it; no points.
SVerificationRecord SampleRecord();
// A measured point with the given texts.
SVerificationPoint Point(EDirection direction, const std::string& nominal, const std::string& set,
                         const std::string& measured, const std::string& relative, const std::string& allowed);
// The four points of the first reference protocol.
std::vector<SVerificationPoint> SamplePoints();

}  // namespace rv::journal::test
