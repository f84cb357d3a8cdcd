// Who writes a record: the workstation and the process, so that a record left "in progress" by a writer that
// is gone (killed, crashed, power cut) reads back as interrupted.
#pragma once

#include <string>

namespace rv::journal {

struct SWriter {
    std::string Host;     // the machine's host name
    std::string Process;  // "pid/start": the process id and its start time, so a reused id is not taken for it
};

SWriter ThisWriter();
// Whether the process of a writer on this machine still runs; false for a token that cannot be read.
bool WriterProcessAlive(const std::string& process);

}  // namespace rv::journal
