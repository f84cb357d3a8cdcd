// Building a meter image from its description, and the built-in default meter.
#include "sim/MeterDescription.h"

#include <set>

#include "sim/MeterRecordsDescription.h"

namespace rv::sim {

namespace {

using namespace layout;

struct Sizes {
    int word;
    size_t size;
};
// The RAM blocks the meter keeps behind its pointer table.
constexpr Sizes kRamBlocks[] = {
    {ram::kDeviceFlagsWord, ram::kDeviceFlagsSize}, {ram::kFlagsWord, ram::kFlagsSize},
    {ram::kLastMeasureWord, ram::kLastMeasureSize}, {ram::kEmulatorWord, ram::kEmulatorSize},
    {ram::kHourSumsWord, ram::kHourSumsSize},       {ram::kWord13, 4},
    {ram::kAnalogueUlWord, 32},                     {ram::kStopTimeWord, 16},
};

[[noreturn]] void Fail(const std::string& what) { throw MeterFileError(what); }

void WriteSensor(MeterImage& img, int i, const SensorDescription& s)
{
    using namespace sensor;
    const uint32_t base = SensorAddress(i);
    const std::string key = "sensors[" + std::to_string(i) + "]";
    img.flash.PutU8(base + kPresent, s.present);
    img.flash.PutU8(base + kType, s.type);
    img.flash.PutU8(base + kModule, s.module);
    auto text = [&](size_t off, size_t len, const std::string& value, const char* name) {
        try {
            img.flash.PutText(base + off, len, value);
        } catch (const std::length_error& e) {
            Fail(key + "." + name + ": " + e.what());
        }
    };
    text(kSerial, kSerialLen, s.serial, "serial");
    text(kQvmax, kQvmaxLen, s.qvmax, "qvmax");
    text(kKfsText, kKfsTextLen, s.kfsText, "kfsText");
    img.flash.PutF32(base + kNominalMax, s.nominalMax);
    img.flash.PutF32(base + kKfs, s.kfs);
    img.flash.PutF32(base + kDiameter, s.diameter);
    img.flash.PutF32(base + kDiameter2, s.diameter2);
    for (int k = 0; k < kSegments; ++k)
        for (int c = 0; c < 3; ++c)
            img.flash.PutF32(base + kCorrection + 12 * static_cast<uint32_t>(k) + 4 * static_cast<uint32_t>(c),
                             s.correction[static_cast<size_t>(k)][static_cast<size_t>(c)]);
    for (int j = 0; j < kThresholdCount; ++j)
        img.flash.PutF32(base + kThresholds + 4 * static_cast<uint32_t>(j), s.thresholds[static_cast<size_t>(j)]);
}

void WriteJournals(MeterImage& img, const MeterDescription& d)
{
    const bool layout2 = d.softwareVersion >= 200;
    const size_t recordSize = layout2 ? 18 : 16;
    const size_t pageSize = layout2 ? journal::kPage2 : journal::kPage1;
    std::set<int> seen;
    for (size_t i = 0; i < d.journals.size(); ++i) {
        const JournalDescription& j = d.journals[i];
        const std::string key = "eventJournal[" + std::to_string(i) + "]";
        if (j.number >= journal::kJournals)
            Fail(key + ".number: " + std::to_string(j.number) + " is outside 0.." +
                 std::to_string(journal::kJournals - 1));
        if (!seen.insert(j.number).second)
            Fail(key + ".number: journal " + std::to_string(j.number) + " is described twice");
        if (j.records.size() > journal::kPages)
            Fail(key + ".records: " + std::to_string(j.records.size()) + " records; a page holds " +
                 std::to_string(journal::kPages));
        const uint32_t base = kEventJournal;
        img.flash.PutU16(base + 2 * j.number,
                         static_cast<uint16_t>(j.head ? *j.head : static_cast<int16_t>(j.records.size())));
        for (size_t k = 0; k < j.records.size(); ++k) {
            const JournalRecord& r = j.records[k];
            const uint64_t at = base + 16 + pageSize * j.number + recordSize * k;
            const uint8_t head[4] = {r.code, r.module, r.type, r.flag};
            img.flash.Write(at, head, 4);
            img.flash.PutU32(at + 4, r.deviceFlags);
            img.flash.PutF32(at + 8, r.oldValue);
            img.flash.PutF32(at + 12, r.newValue);
            if (layout2) img.flash.PutU16(at + 16, r.tail);
        }
    }
}

void WriteRaw(MemoryArea& area, const std::vector<RawBytes>& raws, const char* key)
{
    for (size_t i = 0; i < raws.size(); ++i) {
        const RawBytes& r = raws[i];
        if (!area.Contains(r.address, r.bytes.size())) {
            Fail(std::string(key) + "[" + std::to_string(i) + "]: " + std::to_string(r.bytes.size()) +
                 " bytes at " + HexAddress(r.address) + " do not fit the " + std::to_string(area.Size()) +
                 "-byte " + area.Name());
        }
        area.Write(r.address, r.bytes);
    }
}

}  // namespace

std::array<uint16_t, kPointerCount> MeterDescription::DefaultRamPointers()
{
    return {0x0200, 0x0210, 0x0220, 0x0240, 0x0250, 0x0260, 0x0280, 0x0320, 0x0330,
            0x0340, 0x0360, 0x0460, 0x0470, 0x0480, 0x0490, 0x04B0, 0x04C0};
}

std::shared_ptr<MeterImage> BuildMeter(const MeterDescription& d)
{
    auto img = std::make_shared<MeterImage>();
    img->SetDeviceCode(d.deviceCode);
    img->SetSoftwareVersion(d.softwareVersion);
    img->SetDeviceValue(d.deviceValue);
    img->SetSerialNumber(d.serialNumber);
    img->SetStatus(d.status);
    if (d.correctionMode) img->SetCorrectionMode(*d.correctionMode);
    img->emulator = d.emulator;
    img->flashWrites = d.flashWrites;
    img->slaveAddress = d.slaveAddress;
    img->moduleCount = d.moduleCount;
    img->options = d.options;
    img->display = d.display;

    if (d.slaveAddress == 0 || d.slaveAddress >= 239)
        Fail("slaveAddress: " + std::to_string(d.slaveAddress) + " is not a slave address (1..238)");

    for (int k = 0; k < kPointerCount; ++k) img->SetRamPointer(k, d.ramPointers[static_cast<size_t>(k)]);
    for (const Sizes& b : kRamBlocks) {
        const uint16_t at = d.ramPointers[static_cast<size_t>(b.word)];
        if (!img->ram.Contains(at, b.size))
            Fail("ramPointers[" + std::to_string(b.word) + "]: the " + std::to_string(b.size) +
                 "-byte block at " + HexAddress(at) + " runs past the end of RAM");
    }

    img->flash.PutU8(kConfig + config::kPathsPerSensor, d.pathsPerSensor);
    std::set<int> seen;
    for (size_t i = 0; i < d.modules.size(); ++i) {
        const ModuleDescription& m = d.modules[i];
        if (m.number > config::kMaxModule)
            Fail("configuration.modules[" + std::to_string(i) + "].number: " + std::to_string(m.number) +
                 " has no place in the configuration record (0.." + std::to_string(config::kMaxModule) + ")");
        if (!seen.insert(m.number).second)
            Fail("configuration.modules[" + std::to_string(i) + "].number: module " + std::to_string(m.number) +
                 " is described twice");
        img->flash.PutU16(kConfig + config::kExecution + config::kModuleStride * m.number, m.execution);
        img->flash.PutU8(kConfig + config::kTableSet + m.number, m.tableSet);
    }

    for (int i = 0; i < kSensorCount; ++i)
        if (const auto& s = d.sensors[static_cast<size_t>(i)]) {
            WriteSensor(*img, i, *s);
            img->sensorPhysics[static_cast<size_t>(i)] = s->physics;
        }

    const uint16_t fdw = d.ramPointers[ram::kDeviceFlagsWord];
    for (size_t k = 0; k < d.deviceFlags.size(); ++k) img->ram.PutU32(fdw + 4 * k, d.deviceFlags[k]);
    img->SetEmulatorMode(d.emulatorMode);
    img->ram.Write(d.ramPointers[ram::kEmulatorWord], d.emulatorBlock);

    WriteJournals(*img, d);
    WriteMeterRecords(*img, d);
    WriteRaw(img->flash, d.flashBytes, "flashBytes");
    WriteRaw(img->ram, d.ramBytes, "ramBytes");
    return img;
}

MeterDescription DefaultDescription()
{
    MeterDescription d;
    d.deviceCode = 0x1400;
    d.softwareVersion = 203;
    d.deviceValue = 0x00010002;
    d.serialNumber = 21345;
    d.status = 0;
    d.moduleCount = 1;
    d.display = "Q=0,000 м3/ч";
    d.pathsPerSensor = 1;
    d.modules = {{1, 7, 2}};
    d.emulatorMode = true;
    d.deviceFlags = {0x00000105, 0, 0, 0, 0, 0};
    d.emulatorBlock = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};

    // Sizes 12, 20, 50 and 30 m3/h on their standard pipes; no flow correction (a = 1 in every segment).
    // Their transit times make a verification sweep 11, 10, 9 and 10 delays.
    struct Row {
        uint8_t type;
        const char* serial;
        const char* qvmax;
        const char* kfsText;
        float nominal, kfs, diameter;
        std::array<float, sensor::kThresholdCount> thresholds;
        double transitTime;
    };
    const Row rows[] = {
        {1, "1001", "12", "1,0012", 12, 1.0012f, 0.025f, {0.12f, 0.48f, 1.2f, 4.8f}, 1.261e-3},
        {1, "1002", "20", "0,9987", 20, 0.9987f, 0.032f, {0.2f, 0.8f, 2, 8}, 4.015e-5},
        {2, "2003", "50", "1,0035", 50, 1.0035f, 0.05f, {0.5f, 2, 5, 20}, 4.707e-5},
        {1, "1004", "30", "1,0000", 30, 1.0f, 0.04f, {0.3f, 1.2f, 3, 12}, 4.55e-5},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SensorDescription s;
        s.type = r.type;
        s.module = 1;
        s.serial = r.serial;
        s.qvmax = r.qvmax;
        s.kfsText = r.kfsText;
        s.nominalMax = r.nominal;
        s.kfs = r.kfs;
        s.diameter = r.diameter;
        s.diameter2 = r.diameter;
        for (auto& seg : s.correction) seg = {1, 0, 0};
        s.thresholds = r.thresholds;
        s.physics.transitTime = r.transitTime;
        d.sensors[i] = s;
    }
    // The coefficients of sensors 0 and 1 were set once since the meter left the factory.
    JournalDescription changes;
    changes.number = 0;
    changes.records = {{0x90, 0, 0, 1, 0x00000105, 1.0f, 1.0012f, 0}, {0x90, 0, 0, 1, 0x00000105, 1.0f, 0.9987f, 0}};
    d.journals = {changes};

    // Archives: the hour rings have wrapped (1085 records written), the day rings have not. One
    // day ring keeps 4-byte values in 6-byte records.
    d.hourRecords = 1085;
    d.dayRecords = 100;
    d.archives = {
        {true, 0x7BC0, 4, 4, 100000, 7, {}},
        {true, 0x4410, 2, 2, 0, 3, {}},
        {true, 0x14E20, 8, 8, 1000000000000, 1000003, {}},
        {false, 0x44940, 4, 4, 5000, 11, {}},
        {false, 0x42A50, 2, 2, 10, 1, {}},
        {false, 0xE4F0, 6, 4, -20, 5, {}},
        {false, 0x1B750, 8, 8, -500000000000, 999, {}},
    };
    d.allSums = {123456, 654321, 1000, 2000};
    d.daySums = {11, 22, 33};
    d.checkEditCounters = {5, 7};
    d.hourSums = {1, 2, 3, 4, 5};
    d.stopTime = {3600, 0, 17, 0};
    ErrorBlockDescription first;
    first.block = 0;
    first.records = {{0x0101, 0x60000001, 1}, {0x0102, 0x60000002, 2}, {0x0103, 0x60000003, 3}};
    ErrorBlockDescription grouped;
    grouped.group = 1;
    grouped.block = 2;
    grouped.records = {{0x0201, 0x61000001, 4}, {0x0202, 0x61000002, 5}};
    d.errorJournal = {first, grouped};
    d.pressData = {0x9A, 0x99, 0x19, 0x3F, 0x9A, 0x99, 0x99, 0x3E};
    return d;
}

std::shared_ptr<MeterImage> DefaultMeter() { return BuildMeter(DefaultDescription()); }

}  // namespace rv::sim
