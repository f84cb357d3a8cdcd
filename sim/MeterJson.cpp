// Meter descriptions in JSON: every key is known, every value checked against its field before
// anything is built. Integers may be written as numbers or as "0x…" texts.
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "sim/MeterDescription.h"

namespace rv::sim {

namespace {

using nlohmann::json;

constexpr std::streamsize kMaxFileSize = 16 << 20;

[[noreturn]] void Fail(const std::string& path, const std::string& what)
{
    throw MeterFileError(path.empty() ? what : path + ": " + what);
}

std::string TypeName(const json& j)
{
    switch (j.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "an object";
    case json::value_t::array: return "an array";
    case json::value_t::string: return "a text";
    case json::value_t::boolean: return "true/false";
    case json::value_t::binary: return "binary data";
    case json::value_t::discarded: return "nothing";
    default: return "a number";
    }
}

int64_t ParseInteger(const json& j, const std::string& path)
{
    if (j.is_number_unsigned()) {
        const auto v = j.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) Fail(path, "number too large");
        return static_cast<int64_t>(v);
    }
    if (j.is_number_integer()) return j.get<int64_t>();
    if (j.is_string()) {
        const std::string s = j.get<std::string>();
        const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const char* begin = s.c_str() + (hex ? 2 : 0);
        if (*begin == 0 || *begin == '-' || *begin == '+' || std::isspace(static_cast<unsigned char>(*begin)))
            Fail(path, "\"" + s + "\" is not a whole number");
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(begin, &end, hex ? 16 : 10);
        if (*end != 0) Fail(path, "\"" + s + "\" is not a whole number");
        if (errno == ERANGE || v > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()))
            Fail(path, "\"" + s + "\" is too large");
        return static_cast<int64_t>(v);
    }
    if (j.is_number_float()) Fail(path, "expected a whole number, found " + j.dump());
    Fail(path, "expected a whole number, found " + TypeName(j));
}

template <class T>
T Integer(const json& j, const std::string& path, int64_t min = std::numeric_limits<T>::min(),
          int64_t max = std::numeric_limits<T>::max())
{
    const int64_t v = ParseInteger(j, path);
    if (v < min || v > max)
        Fail(path, std::to_string(v) + " is outside " + std::to_string(min) + ".." + std::to_string(max));
    return static_cast<T>(v);
}

// A 32-bit float field: a number, or one of the texts "nan", "inf", "-inf" for what JSON cannot write and a
// meter's flash may hold all the same.
float Float(const json& j, const std::string& path)
{
    if (j.is_string()) {
        const std::string s = j.get<std::string>();
        if (s == "nan") return std::numeric_limits<float>::quiet_NaN();
        if (s == "inf") return std::numeric_limits<float>::infinity();
        if (s == "-inf") return -std::numeric_limits<float>::infinity();
        Fail(path, "\"" + s + "\" is not a number (nor \"nan\", \"inf\" or \"-inf\")");
    }
    if (!j.is_number()) Fail(path, "expected a number, found " + TypeName(j));
    const double v = j.get<double>();
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max())
        Fail(path, j.dump() + " does not fit a 32-bit float");
    return static_cast<float>(v);
}

// A finite number in [min, max], kept in double.
double Real(const json& j, const std::string& path, double min, double max)
{
    if (!j.is_number()) Fail(path, "expected a number, found " + TypeName(j));
    const double v = j.get<double>();
    if (!std::isfinite(v) || v < min || v > max)
        Fail(path, j.dump() + " is outside " + json(min).dump() + ".." + json(max).dump());
    return v;
}

bool Bool(const json& j, const std::string& path)
{
    if (!j.is_boolean()) Fail(path, "expected true or false, found " + TypeName(j));
    return j.get<bool>();
}

std::string Text(const json& j, const std::string& path)
{
    if (!j.is_string()) Fail(path, "expected a text, found " + TypeName(j));
    return j.get<std::string>();
}

const json& Array(const json& j, const std::string& path, size_t maxSize)
{
    if (!j.is_array()) Fail(path, "expected an array, found " + TypeName(j));
    if (j.size() > maxSize)
        Fail(path, std::to_string(j.size()) + " entries; at most " + std::to_string(maxSize) + " fit");
    return j;
}

std::vector<uint8_t> Hex(const json& j, const std::string& path)
{
    const std::string s = Text(j, path);
    std::vector<uint8_t> out;
    int high = -1;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == ',' || c == ':' || c == '-') {
            if (high >= 0) Fail(path, "odd number of hex digits before position " + std::to_string(i));
            continue;
        }
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else Fail(path, std::string("'") + c + "' at position " + std::to_string(i) + " is not a hex digit");
        if (high < 0) high = v;
        else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) Fail(path, "odd number of hex digits");
    return out;
}

// An object whose keys are taken one by one; Done() refuses whatever was not taken.
class Object {
public:
    Object(const json& j, std::string path) : j_(j), path_(std::move(path))
    {
        if (!j.is_object()) Fail(path_, "expected an object, found " + TypeName(j));
    }

    // The value of key, or null when absent.
    const json* Get(const char* key)
    {
        taken_.insert(key);
        const auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    std::string Path(const char* key) const { return path_.empty() ? key : path_ + "." + key; }

    void Done() const
    {
        for (const auto& [key, value] : j_.items()) {
            if (key == "comment" || taken_.count(key)) continue;
            std::string known;
            for (const std::string& k : taken_) known += (known.empty() ? "" : ", ") + k;
            Fail(path_.empty() ? key : path_ + "." + key, "unknown key (known here: " + known + ")");
        }
    }

private:
    const json& j_;
    std::string path_;
    std::set<std::string> taken_;
};

void ReadIdentity(const json& j, MeterDescription& d)
{
    Object o(j, "identity");
    if (auto* v = o.Get("deviceCode")) d.deviceCode = Integer<uint16_t>(*v, o.Path("deviceCode"));
    if (auto* v = o.Get("softwareVersion")) d.softwareVersion = Integer<uint16_t>(*v, o.Path("softwareVersion"));
    if (auto* v = o.Get("deviceValue")) d.deviceValue = Integer<uint32_t>(*v, o.Path("deviceValue"));
    if (auto* v = o.Get("serialNumber")) d.serialNumber = Integer<uint32_t>(*v, o.Path("serialNumber"));
    if (auto* v = o.Get("status")) d.status = Integer<uint16_t>(*v, o.Path("status"));
    if (auto* v = o.Get("correctionMode")) d.correctionMode = Bool(*v, o.Path("correctionMode"));
    o.Done();
}

void ReadConfiguration(const json& j, MeterDescription& d)
{
    Object o(j, "configuration");
    if (auto* v = o.Get("pathsPerSensor")) d.pathsPerSensor = Integer<uint8_t>(*v, o.Path("pathsPerSensor"));
    if (auto* v = o.Get("modules")) {
        const json& a = Array(*v, o.Path("modules"), layout::config::kMaxModule + 1);
        for (size_t i = 0; i < a.size(); ++i) {
            Object m(a[i], "configuration.modules[" + std::to_string(i) + "]");
            ModuleDescription md;
            if (auto* x = m.Get("number"))
                md.number = Integer<uint8_t>(*x, m.Path("number"), 0, layout::config::kMaxModule);
            if (auto* x = m.Get("execution")) md.execution = Integer<uint16_t>(*x, m.Path("execution"));
            if (auto* x = m.Get("tableSet")) md.tableSet = Integer<uint8_t>(*x, m.Path("tableSet"));
            m.Done();
            d.modules.push_back(md);
        }
    }
    o.Done();
}

// The emulator's physics of one sensor, beside its record: transit time (s), path length (m), and the
// deviation curve as [flow m3/h, percent] points in rising flow.
void ReadSensorPhysics(Object& o, SensorPhysics& p)
{
    if (auto* v = o.Get("transitTime")) p.transitTime = Real(*v, o.Path("transitTime"), 0, 1);
    if (auto* v = o.Get("pathLength")) p.pathLength = Real(*v, o.Path("pathLength"), 0, 100);
    if (auto* v = o.Get("deviation")) {
        const json& a = Array(*v, o.Path("deviation"), 64);
        for (size_t k = 0; k < a.size(); ++k) {
            const std::string path = o.Path("deviation") + "[" + std::to_string(k) + "]";
            const json& point = Array(a[k], path, 2);
            if (point.size() != 2) Fail(path, "a point is [flow, percent]");
            DeviationPoint d;
            d.flow = Real(point[0], path + "[0]", 0, 1e6);
            d.percent = Real(point[1], path + "[1]", -99, 1000);
            if (!p.deviation.empty() && !(d.flow > p.deviation.back().flow))
                Fail(path, "the flows of the points must rise");
            p.deviation.push_back(d);
        }
    }
}

void ReadSensor(const json& j, size_t index, MeterDescription& d)
{
    const std::string path = "sensors[" + std::to_string(index) + "]";
    Object o(j, path);
    size_t position = index;
    if (auto* v = o.Get("position"))
        position = Integer<uint8_t>(*v, o.Path("position"), 0, layout::kSensorCount - 1);
    auto& slot = d.sensors[position];
    if (slot) Fail(path, "position " + std::to_string(position) + " is described twice");
    SensorDescription s;
    if (auto* v = o.Get("present"))
        s.present = v->is_boolean() ? (v->get<bool>() ? 1 : 0) : Integer<uint8_t>(*v, o.Path("present"));
    if (auto* v = o.Get("type")) s.type = Integer<uint8_t>(*v, o.Path("type"));
    if (auto* v = o.Get("module")) s.module = Integer<uint8_t>(*v, o.Path("module"));
    if (auto* v = o.Get("serial")) s.serial = Text(*v, o.Path("serial"));
    if (auto* v = o.Get("qvmax")) s.qvmax = Text(*v, o.Path("qvmax"));
    if (auto* v = o.Get("kfsText")) s.kfsText = Text(*v, o.Path("kfsText"));
    if (auto* v = o.Get("nominalMax")) s.nominalMax = Float(*v, o.Path("nominalMax"));
    if (auto* v = o.Get("kfs")) s.kfs = Float(*v, o.Path("kfs"));
    if (auto* v = o.Get("diameter")) s.diameter = Float(*v, o.Path("diameter"));
    if (auto* v = o.Get("diameter2")) s.diameter2 = Float(*v, o.Path("diameter2"));
    if (auto* v = o.Get("correction")) {
        const json& a = Array(*v, o.Path("correction"), layout::sensor::kSegments);
        for (size_t k = 0; k < a.size(); ++k) {
            const std::string p = o.Path("correction") + "[" + std::to_string(k) + "]";
            const json& seg = Array(a[k], p, 3);
            if (seg.size() != 3) Fail(p, "a segment has three coefficients a, b, c");
            for (size_t c = 0; c < 3; ++c) s.correction[k][c] = Float(seg[c], p + "[" + std::to_string(c) + "]");
        }
    }
    if (auto* v = o.Get("thresholds")) {
        const json& a = Array(*v, o.Path("thresholds"), layout::sensor::kThresholdCount);
        for (size_t k = 0; k < a.size(); ++k)
            s.thresholds[k] = Float(a[k], o.Path("thresholds") + "[" + std::to_string(k) + "]");
    }
    ReadSensorPhysics(o, s.physics);
    o.Done();
    slot = s;
}

void ReadRam(const json& j, MeterDescription& d)
{
    Object o(j, "ram");
    if (auto* v = o.Get("emulatorMode")) d.emulatorMode = Bool(*v, o.Path("emulatorMode"));
    if (auto* v = o.Get("deviceFlags")) {
        const json& a = Array(*v, o.Path("deviceFlags"), d.deviceFlags.size());
        for (size_t k = 0; k < a.size(); ++k)
            d.deviceFlags[k] = Integer<uint32_t>(a[k], o.Path("deviceFlags") + "[" + std::to_string(k) + "]");
    }
    if (auto* v = o.Get("emulatorBlock")) {
        const std::vector<uint8_t> b = Hex(*v, o.Path("emulatorBlock"));
        if (b.size() != d.emulatorBlock.size())
            Fail(o.Path("emulatorBlock"), std::to_string(b.size()) + " bytes; the block has " +
                                              std::to_string(d.emulatorBlock.size()));
        std::copy(b.begin(), b.end(), d.emulatorBlock.begin());
    }
    o.Done();
}

// The emulator's meter-wide physics: zero-flow reading and its noise (m3/h), relative noise of the
// emulated readings, the noise seed, and whether reads of the last measurement bring fresh samples.
void ReadEmulator(const json& j, EmulatorOptions& e)
{
    Object o(j, "emulator");
    if (auto* v = o.Get("zeroFlow")) e.zeroFlow = Real(*v, o.Path("zeroFlow"), -1e6, 1e6);
    if (auto* v = o.Get("zeroNoise")) e.zeroNoise = Real(*v, o.Path("zeroNoise"), 0, 1e6);
    if (auto* v = o.Get("flowNoise")) e.flowNoise = Real(*v, o.Path("flowNoise"), 0, 1);
    if (auto* v = o.Get("seed")) e.seed = Integer<uint32_t>(*v, o.Path("seed"));
    if (auto* v = o.Get("resampleOnRead")) e.resampleOnRead = Bool(*v, o.Path("resampleOnRead"));
    o.Done();
}

// "apply"; "refuse" (a refusal, old contents kept); "ignore" (0xFF, old contents kept); "correctionMode"
// (applied only while the identity shows the correction mode, refused otherwise).
FlashWrites ReadFlashWrites(const json& j)
{
    const std::string s = Text(j, "flashWrites");
    if (s == "apply") return FlashWrites::Apply;
    if (s == "refuse") return FlashWrites::Refuse;
    if (s == "ignore") return FlashWrites::Ignore;
    if (s == "correctionMode") return FlashWrites::InCorrectionMode;
    Fail("flashWrites", "\"" + s + "\" is not \"apply\", \"refuse\", \"ignore\" or \"correctionMode\"");
}

std::vector<JournalDescription> ReadJournals(const json& j)
{
    std::vector<JournalDescription> out;
    const json& a = Array(j, "eventJournal", layout::journal::kJournals);
    for (size_t i = 0; i < a.size(); ++i) {
        Object o(a[i], "eventJournal[" + std::to_string(i) + "]");
        JournalDescription jd;
        jd.number = static_cast<uint8_t>(i);
        if (auto* v = o.Get("number"))
            jd.number = Integer<uint8_t>(*v, o.Path("number"), 0, layout::journal::kJournals - 1);
        if (auto* v = o.Get("head")) jd.head = Integer<int16_t>(*v, o.Path("head"));
        if (auto* v = o.Get("records")) {
            const json& recs = Array(*v, o.Path("records"), layout::journal::kPages);
            for (size_t k = 0; k < recs.size(); ++k) {
                Object r(recs[k], o.Path("records") + "[" + std::to_string(k) + "]");
                JournalRecord rec;
                if (auto* x = r.Get("code")) rec.code = Integer<uint8_t>(*x, r.Path("code"));
                if (auto* x = r.Get("module")) rec.module = Integer<uint8_t>(*x, r.Path("module"));
                if (auto* x = r.Get("type")) rec.type = Integer<uint8_t>(*x, r.Path("type"));
                if (auto* x = r.Get("flag")) rec.flag = Integer<uint8_t>(*x, r.Path("flag"));
                if (auto* x = r.Get("deviceFlags")) rec.deviceFlags = Integer<uint32_t>(*x, r.Path("deviceFlags"));
                if (auto* x = r.Get("oldValue")) rec.oldValue = Float(*x, r.Path("oldValue"));
                if (auto* x = r.Get("newValue")) rec.newValue = Float(*x, r.Path("newValue"));
                if (auto* x = r.Get("tail")) rec.tail = Integer<uint16_t>(*x, r.Path("tail"));
                r.Done();
                jd.records.push_back(rec);
            }
        }
        o.Done();
        out.push_back(std::move(jd));
    }
    return out;
}

void ReadArchives(const json& j, MeterDescription& d)
{
    Object o(j, "archives");
    if (auto* v = o.Get("value0")) d.archiveValue0 = Integer<uint32_t>(*v, o.Path("value0"));
    if (auto* v = o.Get("hourRecords")) d.hourRecords = Integer<uint32_t>(*v, o.Path("hourRecords"));
    if (auto* v = o.Get("dayRecords")) d.dayRecords = Integer<uint32_t>(*v, o.Path("dayRecords"));
    if (auto* v = o.Get("rings")) {
        const json& a = Array(*v, o.Path("rings"), 64);
        for (size_t i = 0; i < a.size(); ++i) {
            Object r(a[i], o.Path("rings") + "[" + std::to_string(i) + "]");
            ArchiveRingDescription ring;
            if (auto* x = r.Get("ring")) {
                const std::string kind = Text(*x, r.Path("ring"));
                if (kind != "hour" && kind != "day") Fail(r.Path("ring"), "\"" + kind + "\" is not \"hour\" or \"day\"");
                ring.hour = kind == "hour";
            }
            if (auto* x = r.Get("address")) ring.address = Integer<uint32_t>(*x, r.Path("address"));
            if (auto* x = r.Get("recordSize")) ring.recordSize = Integer<uint32_t>(*x, r.Path("recordSize"));
            if (auto* x = r.Get("width")) ring.width = Integer<uint8_t>(*x, r.Path("width"));
            if (auto* x = r.Get("first")) ring.first = Integer<int64_t>(*x, r.Path("first"));
            if (auto* x = r.Get("step")) ring.step = Integer<int64_t>(*x, r.Path("step"));
            if (auto* x = r.Get("values")) {
                const json& values = Array(*x, r.Path("values"), layout::archive::kHourRecords);
                for (size_t k = 0; k < values.size(); ++k)
                    ring.values.push_back(Integer<int64_t>(values[k], r.Path("values") + "[" + std::to_string(k) + "]"));
            }
            r.Done();
            d.archives.push_back(std::move(ring));
        }
    }
    o.Done();
}

std::vector<uint32_t> Words(const json& j, const std::string& path, size_t blockSize)
{
    std::vector<uint32_t> out;
    const json& a = Array(j, path, blockSize / 4);
    for (size_t k = 0; k < a.size(); ++k) out.push_back(Integer<uint32_t>(a[k], path + "[" + std::to_string(k) + "]"));
    return out;
}

void ReadTotals(const json& j, MeterDescription& d)
{
    using namespace layout;
    Object o(j, "totals");
    if (auto* v = o.Get("allSums")) d.allSums = Words(*v, o.Path("allSums"), totals::kAllSumsSize);
    if (auto* v = o.Get("daySums")) d.daySums = Words(*v, o.Path("daySums"), totals::kDaySumsSize);
    if (auto* v = o.Get("checkEditCounters"))
        d.checkEditCounters = Words(*v, o.Path("checkEditCounters"), totals::kCheckEditCountersSize);
    if (auto* v = o.Get("hourSums")) d.hourSums = Words(*v, o.Path("hourSums"), ram::kHourSumsSize);
    if (auto* v = o.Get("stopTime")) d.stopTime = Words(*v, o.Path("stopTime"), totals::kStopTimeSize);
    o.Done();
}

// Records are written [word0, word1] or, for layout 2, [word0, word1, tail].
std::vector<ErrorBlockDescription> ReadErrorJournal(const json& j)
{
    using namespace layout::errors;
    std::vector<ErrorBlockDescription> out;
    const json& a = Array(j, "errorJournal", kBlocks + kGroups * kGroupBlocks1);
    for (size_t i = 0; i < a.size(); ++i) {
        Object o(a[i], "errorJournal[" + std::to_string(i) + "]");
        ErrorBlockDescription e;
        if (auto* v = o.Get("group")) e.group = Integer<uint8_t>(*v, o.Path("group"), 0, kGroups - 1);
        if (auto* v = o.Get("block")) e.block = Integer<uint8_t>(*v, o.Path("block"), 0, kBlocks - 1);
        if (auto* v = o.Get("head")) e.head = Integer<int16_t>(*v, o.Path("head"));
        if (auto* v = o.Get("records")) {
            const json& recs = Array(*v, o.Path("records"), kRecords);
            for (size_t k = 0; k < recs.size(); ++k) {
                const std::string p = o.Path("records") + "[" + std::to_string(k) + "]";
                const json& r = Array(recs[k], p, 3);
                if (r.size() < 2) Fail(p, "a record is [word0, word1] or [word0, word1, tail]");
                ErrorRecordDescription rec;
                rec.word0 = Integer<uint32_t>(r[0], p + "[0]");
                rec.word1 = Integer<uint32_t>(r[1], p + "[1]");
                if (r.size() == 3) rec.tail = Integer<uint16_t>(r[2], p + "[2]");
                e.records.push_back(rec);
            }
        }
        o.Done();
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<RawBytes> ReadRaw(const json& j, const std::string& path, size_t memorySize)
{
    std::vector<RawBytes> out;
    const json& a = Array(j, path, 4096);
    for (size_t i = 0; i < a.size(); ++i) {
        Object o(a[i], path + "[" + std::to_string(i) + "]");
        RawBytes r;
        const json* addr = o.Get("address");
        const json* hex = o.Get("hex");
        o.Done();
        if (!addr || !hex) Fail(o.Path(addr ? "hex" : "address"), "missing");
        r.address = Integer<uint32_t>(*addr, o.Path("address"));
        r.bytes = Hex(*hex, o.Path("hex"));
        if (r.address > memorySize || r.bytes.size() > memorySize - r.address)
            Fail(path + "[" + std::to_string(i) + "]",
                 std::to_string(r.bytes.size()) + " bytes at " + HexAddress(r.address) + " do not fit the " +
                     std::to_string(memorySize) + "-byte memory");
        out.push_back(std::move(r));
    }
    return out;
}

MeterDescription Read(const json& root)
{
    MeterDescription d;
    Object o(root, "");
    if (auto* v = o.Get("identity")) ReadIdentity(*v, d);
    if (auto* v = o.Get("slaveAddress")) d.slaveAddress = Integer<uint8_t>(*v, "slaveAddress", 1, 238);
    if (auto* v = o.Get("moduleCount")) d.moduleCount = Integer<int8_t>(*v, "moduleCount");
    if (auto* v = o.Get("echo")) d.options.echo = Bool(*v, "echo");
    if (auto* v = o.Get("turnaroundUs")) d.options.turnaroundUs = Integer<uint32_t>(*v, "turnaroundUs", 0, 10'000'000);
    if (auto* v = o.Get("display")) d.display = Text(*v, "display");
    if (auto* v = o.Get("configuration")) ReadConfiguration(*v, d);
    if (auto* v = o.Get("sensors")) {
        const json& a = Array(*v, "sensors", layout::kSensorCount);
        for (size_t i = 0; i < a.size(); ++i) ReadSensor(a[i], i, d);
    }
    if (auto* v = o.Get("ramPointers")) {
        const json& a = Array(*v, "ramPointers", layout::kPointerCount);
        if (a.size() != layout::kPointerCount)
            Fail("ramPointers", "the table has " + std::to_string(layout::kPointerCount) + " words, not " +
                                    std::to_string(a.size()));
        for (size_t k = 0; k < a.size(); ++k)
            d.ramPointers[k] = Integer<uint16_t>(a[k], "ramPointers[" + std::to_string(k) + "]");
    }
    if (auto* v = o.Get("ram")) ReadRam(*v, d);
    if (auto* v = o.Get("emulator")) ReadEmulator(*v, d.emulator);
    if (auto* v = o.Get("flashWrites")) d.flashWrites = ReadFlashWrites(*v);
    if (auto* v = o.Get("eventJournal")) d.journals = ReadJournals(*v);
    if (auto* v = o.Get("archives")) ReadArchives(*v, d);
    if (auto* v = o.Get("totals")) ReadTotals(*v, d);
    if (auto* v = o.Get("errorJournal")) d.errorJournal = ReadErrorJournal(*v);
    if (auto* v = o.Get("pressData")) d.pressData = Hex(*v, "pressData");
    if (auto* v = o.Get("flashBytes")) d.flashBytes = ReadRaw(*v, "flashBytes", layout::kFlashSize);
    if (auto* v = o.Get("ramBytes")) d.ramBytes = ReadRaw(*v, "ramBytes", layout::kRamSize);
    o.Done();
    return d;
}

}  // namespace

MeterDescription ParseMeterDescription(std::string_view text, const std::string& source)
{
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        // The library's message carries the line and column of the fault.
        std::string what = e.what();
        if (const size_t at = what.find("] "); at != std::string::npos) what.erase(0, at + 2);
        throw MeterFileError(source + ": not valid JSON: " + what);
    }
    try {
        return Read(root);
    } catch (const MeterFileError& e) {
        throw MeterFileError(source + ": " + e.what());
    }
}

std::shared_ptr<MeterImage> ParseMeter(std::string_view json, const std::string& source)
{
    const MeterDescription d = ParseMeterDescription(json, source);
    try {
        return BuildMeter(d);
    } catch (const MeterFileError& e) {
        throw MeterFileError(source + ": " + e.what());
    }
}

std::shared_ptr<MeterImage> LoadMeter(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw MeterFileError(path + ": cannot be read: " + std::strerror(errno));
    std::ostringstream text;
    char buf[65536];
    std::streamsize total = 0;
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        total += in.gcount();
        if (total > kMaxFileSize) throw MeterFileError(path + ": larger than a meter description can be");
        text.write(buf, in.gcount());
    }
    if (in.bad()) throw MeterFileError(path + ": cannot be read: " + std::strerror(errno));
    return ParseMeter(text.str(), path);
}

}  // namespace rv::sim
