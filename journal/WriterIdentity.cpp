// The writer's identity from the process table: the id and the start time in clock ticks after boot
// (field 22 of /proc/PID/stat), which tells the process apart from a later one given the same id.
#include "journal/WriterIdentity.h"

#include <QString>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace rv::journal {

namespace {

// The start time of a running process, or an empty text when it has ended or the process table cannot tell.
std::string StartTime(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return {};
    // The command name (field 2) is in parentheses and may hold blanks: count fields after its last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && rest >> field; ++i) {
        if (i == 3 && (field == "Z" || field == "X")) return {};  // ended, not yet reaped by its parent
        if (i == 22) return field;
    }
    return {};
}

}  // namespace

SWriter ThisWriter()
{
    const long pid = static_cast<long>(getpid());
    return {QSysInfo::machineHostName().toStdString(), std::to_string(pid) + "/" + StartTime(pid)};
}

bool WriterProcessAlive(const std::string& process)
{
    const size_t slash = process.find('/');
    if (slash == std::string::npos || slash == 0 || slash > 10) return false;
    char* end = nullptr;
    const long pid = std::strtol(process.c_str(), &end, 10);
    if (end != process.c_str() + slash || pid <= 0) return false;
    const std::string recorded = process.substr(slash + 1);
    const std::string now = StartTime(pid);
    if (!now.empty()) return recorded.empty() || now == recorded;
    // Without a readable process table the id alone has to do.
    if (!StartTime(static_cast<long>(getpid())).empty()) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace rv::journal
