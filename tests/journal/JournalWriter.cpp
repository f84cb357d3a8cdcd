// journal_test_writer: a process that writes a journal for the tests that kill a writer or run two at once.
//   journal_test_writer LOCATION hold POINTS          begins a record, adds POINTS points, prints "ready ID" and
//                                                      waits on standard input (the test kills it)
//   journal_test_writer LOCATION churn                 begins records and adds points without end; prints
//                                                      "ready" after the first 20 records
//   journal_test_writer LOCATION write RUNS POINTS TAG completes RUNS runs of POINTS points, technician TAG
#include "JournalTestSupport.h"

#include "journal/TJournal.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

using namespace rv::journal;

namespace {

SVerificationPoint NthPoint(int i)
{
    const std::string n = std::to_string(i + 1) + ",0000";
    return test::Point(i % 2 ? EDirection::Reverse : EDirection::Forward, n, n, n, "0,000", "1,5");
}

int Run(const std::vector<std::string>& a)
{
    TJournal j(a[0]);
    const std::string mode = a[1];
    if (mode == "hold" && a.size() == 3) {
        SVerificationRecord r = test::SampleRecord();
        const int64_t id = j.Begin(r);
        const int points = std::stoi(a[2]);
        for (int i = 0; i < points; ++i) j.AppendPoint(id, NthPoint(i));
        j.SaveProgress(id, "протокол до точки " + std::to_string(points), {1, 2, 3});
        std::cout << "ready " << id << std::endl;
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    if (mode == "churn" && a.size() == 2) {
        for (int n = 1;; ++n) {
            SVerificationRecord r = test::SampleRecord();
            const int64_t id = j.Begin(r);
            for (int i = 0; i < 5; ++i) j.AppendPoint(id, NthPoint(i));
            if (n == 20) std::cout << "ready" << std::endl;
        }
    }
    if (mode == "write" && a.size() == 5) {
        const int runs = std::stoi(a[2]), points = std::stoi(a[3]);
        for (int n = 0; n < runs; ++n) {
            SVerificationRecord r = test::SampleRecord();
            r.Technician = a[4];
            r.Meter.Serial = a[4] + std::to_string(n);
            const int64_t id = j.Begin(r);
            for (int i = 0; i < points; ++i) j.AppendPoint(id, NthPoint(i));
            SRunEnd end;
            end.Completed = true;
            end.Protocol = "протокол " + r.Meter.Serial;
            j.Complete(id, end);
        }
        return 0;
    }
    std::cerr << "usage: journal_test_writer LOCATION hold POINTS | churn | write RUNS POINTS TAG\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) return Run({"", ""});
    try {
        return Run(args);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
