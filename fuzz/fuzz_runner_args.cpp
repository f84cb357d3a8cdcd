// Fuzzes the runner's command line: the input, cut at its zero bytes, is the argument list of both jobs. Any list
// parses or is refused with a message, and what parses holds only what the jobs can use.
#include "app/kfs/KfsValue.h"
#include "app/runner/RunnerOptions.h"
#include "meter/FlashAddress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace rv;

namespace {

// At most this many arguments: the parser's work grows with them, not its paths.
constexpr size_t kMaxArgs = 24;

// The values of a parsed KFS write make one or three coefficients the meter can take.
bool Writable(const std::string& values)
{
    for (const int count : {1, 3}) {
        std::vector<std::string> split;
        std::string error;
        if (!SplitKfsValues(values, count, split, error)) continue;
        bool all = true;
        for (const std::string& v : split) all = all && CheckKfsValue(v).Verdict != kvRefused;
        if (all) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() <= kMaxArgs; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    std::string error;
    if (WantsKfsWrite(args)) {
        SKfsWriteOptions o;
        if (!ParseKfsWriteOptions(args, o, error)) {
            if (error.empty()) __builtin_trap();
            return 0;
        }
        if (o.Common.Help || o.Common.Version) return 0;
        if (o.Position < 0 || o.Position >= flash::kSensorCount || !Writable(o.Values)) __builtin_trap();
        if (o.Common.Simulate == !o.Common.Port.empty()) __builtin_trap();
        return 0;
    }
    SVerifyOptions o;
    if (!ParseVerifyOptions(args, o, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (o.Help || o.Version) return 0;
    if (o.Sensor && (*o.Sensor < 0 || *o.Sensor >= flash::kSensorCount)) __builtin_trap();
    // One meter: the simulated one or one port; a bench: simulated meters, several ports or a bench file.
    if (!IsBench(o) && o.Simulate == !o.Port.empty()) __builtin_trap();
    if (IsBench(o) && !o.Simulate && o.Ports.size() < 2 && o.Bench.empty()) __builtin_trap();
    if (!o.Report.empty() && !CheckReportFile(o.Report, error)) __builtin_trap();
    return 0;
}
