// The sample run's figures: the flows and allowed errors of a QVmax 50 m3/h sensor, errors spread inside the
// band so the chart shows its use.
#include "journal/SampleProtocol.h"

#include "journal/Verdict.h"

namespace rv::journal {

SVerificationRecord SampleProtocolRecord()
{
    SVerificationRecord r;
    r.RunId = "образец";
    r.State = ERunState::Passed;
    r.Started = {1714547700000, 180};
    r.Ended = STimestamp{1714548420000, 180};
    r.Technician = "Петрова А. С.";
    r.Workstation = "образец";
    r.ProgramVersion = "—";
    r.Port = "—";
    r.Meter = {"30412", 2, 3, "2.14", "", "исполнение 03", 2021};
    r.Sensor = {0, "FSA", "FS/A FS-50T", "1207", 0.05, "50", "1,0035"};
    r.Reverse = true;
    r.Conditions = {21.5, 48.0, 100.4, ""};
    struct SFigures {
        const char *Nominal, *Set, *Measured, *Relative, *Allowed;
    };
    const SFigures forward[] = {{"50,0000", "50,1534", "49,9470", "0,412", "1,5"},
                                {"2,5000", "2,5217", "2,5437", "-0,873", "1,5"},
                                {"0,5000", "0,4903", "0,4844", "1,204", "3,0"},
                                {"0,2000", "0,2029", "0,2076", "-2,310", "5,0"}};
    const SFigures reverse[] = {{"50,0000", "50,1534", "50,0581", "0,190", "1,5"},
                                {"2,5000", "2,5217", "2,5502", "-1,130", "1,5"},
                                {"0,5000", "0,4903", "0,4822", "1,652", "3,0"},
                                {"0,2000", "0,2029", "0,1962", "3,302", "5,0"}};
    for (EDirection d : {EDirection::Forward, EDirection::Reverse})
        for (const SFigures& f : d == EDirection::Forward ? forward : reverse) {
            r.Points.push_back({d, f.Nominal, f.Set, f.Measured, f.Relative, f.Allowed, "", EPointVerdict::Pass});
            r.Points.back().Verdict = JudgePoint(r.Points.back());
        }
    return r;
}

}  // namespace rv::journal
