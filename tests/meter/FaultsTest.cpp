// Every read of the meter command set through a line that loses, spoils, delays and garbles a
// fifth of the meter's answers: what each event delivers is exactly what a clean line delivers.
#include <bit>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "MeterRig.h"

namespace rv::test {
namespace {

// What the events of a run delivered, in order: the event's name and the bytes of its record.
using Log = std::vector<std::pair<std::string, Bytes>>;

void PutU(Bytes& out, uint64_t v, unsigned width)
{
    for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

template <class T>
void PutArray(Bytes& out, const T* values, int count)
{
    for (int i = 0; i < count; ++i) PutU(out, static_cast<uint64_t>(values[i]), sizeof(T));
}

Bytes Heads(const SHead* h, int count)
{
    Bytes out;
    for (int i = 0; i < count; ++i) PutU(out, static_cast<uint16_t>(h[i].Value), 2);
    return out;
}

template <class R>
Bytes Records(const R* r)
{
    Bytes out;
    for (int i = 0; i < 16; ++i) {
        PutArray(out, r[i].Word, 2);
        if constexpr (requires { r[i].Tail; }) PutU(out, r[i].Tail, 2);
    }
    return out;
}

template <class R>
Bytes Page(const R* r)
{
    Bytes out(16 * R::kSize);
    for (size_t i = 0; i < 16; ++i) r[i].Encode(out.data() + i * R::kSize);
    return out;
}

// Hooks every event of the component and the caller's handler into the log.
void Record(MeterRig& rig, Log& log)
{
    TRurIvaQs_6x6& n = rig.net;
    auto put = [&log](const char* name, Bytes b) { log.emplace_back(name, std::move(b)); };
    auto bytes = [](const void* p, size_t size) {
        const auto* b = static_cast<const uint8_t*>(p);
        return Bytes(b, b + size);
    };
    n.OnPointerRAM = [=](const SPointerRAM* p) {
        Bytes b;
        PutArray(b, p->Word, SPointerRAM::kCount);
        put("PointerRAM", b);
    };
    n.OnDeviceFDW = [=](const SDeviceFlagsDWord* p) {
        Bytes b;
        PutArray(b, p->Word, SDeviceFlagsDWord::kCount);
        put("DeviceFDW", b);
    };
    n.OnLast = [=](const SLastMeasure* p) {
        Bytes b;
        for (float v : p->Value) PutU(b, std::bit_cast<uint32_t>(v), 4);
        put("Last", b);
    };
    n.OnFB6x6 = [=](const S6x6FlagsByte* p) { put("FB6x6", bytes(p->Byte, S6x6FlagsByte::kSize)); };
    n.OnEditH1 = [=](const SHead* h) { put("EditH1", Heads(h, 1)); };
    n.OnEditH1V2 = [=](const SHead* h) { put("EditH1V2", Heads(h, 1)); };
    n.OnReceiveEdit = [=](const SEventRecord* r) { put("Edit", Page(r)); };
    n.OnReceiveEditV2 = [=](const SEventRecordV2* r) { put("EditV2", Page(r)); };
    n.OnModuleSumHoure = [=](const UModuleSumHoure* s) { put("ModuleSumHoure", bytes(s->Bytes, s->kSize)); };
    n.OnV2AllSumm = [=](const SModuleSumALLM* s) { put("V2AllSumm", bytes(s->Bytes, s->kSize)); };
    n.OnFAllSumm = [=](const SAllSumm* s) { put("FAllSumm", bytes(s->Bytes, s->kSize)); };
    n.OnStopTimeHour = [=](const void* s) { put("StopTimeHour", bytes(s, TRurIvaQs_6x6::kStopTimeSize)); };
    n.OnArhives = [=](const SArhives* a) {
        Bytes b;
        PutU(b, a->Value0, 4);
        PutU(b, a->HourRecords, 4);
        PutU(b, a->DayRecords, 4);
        put("Arhives", b);
    };
    n.OnErrorH1 = [=](const SHead* h) { put("ErrorH1", Heads(h, 8)); };
    n.OnErrorH1V2 = [=](const SHead* h) { put("ErrorH1V2", Heads(h, 8)); };
    n.OnErrorH6 = [=](const SHead* h) { put("ErrorH6", Heads(h, 6)); };
    n.OnErrorH6V2 = [=](const SHead* h) { put("ErrorH6V2", Heads(h, 5)); };
    n.OnError1 = [=](const SErrorRecord* r) { put("Error1", Records(r)); };
    n.OnError6 = [=](const SErrorRecord* r) { put("Error6", Records(r)); };
    n.OnError1V2 = [=](const SErrorRecordV2* r) { put("Error1V2", Records(r)); };
    n.OnError6V2 = [=](const SErrorRecordV2* r) { put("Error6V2", Records(r)); };
    auto archive = [=]<class T>(const char* name) {
        return [=](int count, const T* values) {
            Bytes b;
            PutU(b, static_cast<uint32_t>(count), 4);
            PutArray(b, values, count);
            put(name, b);
        };
    };
    n.OnArhivesHourLong = archive.operator()<int32_t>("HourLong");
    n.OnArhivesDayLong = archive.operator()<int32_t>("DayLong");
    n.OnArhivesHourShort = archive.operator()<int16_t>("HourShort");
    n.OnArhivesDayShort = archive.operator()<int16_t>("DayShort");
    n.OnArhivesV2HourShort = archive.operator()<int16_t>("HourShortV2");
    n.OnArhivesV2DayShort = archive.operator()<int16_t>("DayShortV2");
    n.OnArhivesV2HourLong = archive.operator()<int32_t>("HourLongV2");
    n.OnArhivesV2DayLong = archive.operator()<int32_t>("DayLongV2");
    n.OnArhivesV2HourDLong = archive.operator()<int64_t>("HourDLongV2");
    n.OnArhivesV2DayDLong = archive.operator()<int64_t>("DayDLongV2");
    n.OnReceiveExecuted = [=](short length, unsigned char* buffer) { put("caller", bytes(buffer, length)); };
}

// Runs every read once, each started when the one before has delivered.
Log ReadEverything(MeterRig& rig)
{
    Log log;
    Record(rig, log);
    TRurIvaQs_6x6& n = rig.net;
    const std::function<void()> reads[] = {
        [&] { n.GetFPointerRAM(); },
        [&] { n.GetDeviceFDW(); },
        [&] { n.GetLast(); },
        [&] { n.GetFB_6x6(); },
        [&] { n.GetEditH1(0); },
        [&] { n.GetEditH1V2(0); },
        [&] { n.GetEdit(0); },
        [&] { n.GetEditV2(0); },
        [&] { n.GetADCData(); },
        [&] { n.GetADCPressData(); },
        [&] { n.GetFArhives(); },
        [&] { n.GetArrayHourLong(0x7BC0, 700, 0); },  // runs over the end of the ring
        [&] { n.GetArrayDayLong(0x44940, 0, 0); },
        [&] { n.GetArrayHourShort(0x4410, 0, 0); },
        [&] { n.GetArrayDayShort(0x42A50, 20, 50); },
        [&] { n.GetArrayHourShortV2(0x4410, 900, 0, 2); },
        [&] { n.GetArrayDayShortV2(0x42A50, 0, 0, 2); },
        [&] { n.GetArrayHourLongV2(0x7BC0, 1000, 0, 4); },
        [&] { n.GetArrayDayLongV2(0xE4F0, 0, 0, 6); },
        [&] { n.GetArrayHourDLongV2(0x14E20, 800, 0, 8); },
        [&] { n.GetArrayDayDLongV2(0x1B750, 0, 0, 8); },
        [&] { n.GetModuleSumHour(); },
        [&] { n.V2GetAllSumm(); },
        [&] { n.GetFAllSumm(); },
        [&] { n.GetStopTimeHour(); },
        [&] { n.GetErrorH1(); },
        [&] { n.GetErrorH1V2(); },
        [&] { n.GetErrorH6(1); },
        [&] { n.GetErrorH6V2(1); },
        [&] { n.GetErr1(0); },
        [&] { n.GetErr1V2(0); },
        [&] { n.GetErr6(1, 2); },
        [&] { n.GetErr6V2(1, 2); },
    };
    for (const auto& read : reads) {
        const size_t before = log.size();
        read();
        if (!rig.Run([&] { return log.size() > before && !n.GetDecoding(); }, 30 * 60'000)) {
            ADD_FAILURE() << "read " << before << " did not finish";
            break;
        }
        EXPECT_EQ(log.size(), before + 1);
    }
    return log;
}

TEST(MeterUnderFaults, EveryReadDeliversWhatACleanLineDelivers)
{
    sim::MeterDescription d = sim::DefaultDescription();
    // Something to tell apart in the RAM blocks the reads take.
    for (uint32_t i = 0; i < 0x400; ++i) d.ramBytes.push_back({0x200 + i, {static_cast<uint8_t>(i * 7 + 3)}});
    MeterRig clean(d);
    const Log want = ReadEverything(clean);
    ASSERT_EQ(want.size(), 33u);
    EXPECT_EQ(clean.net.GetRepetitionCounter(), 0);

    sim::FaultPlan faults;
    faults.seed = 20240611;
    faults.dropAnswer = 0.08;
    faults.badChecksum = 0.06;
    faults.garbage = 0.03;
    faults.late = 0.03;  // later than the time-out: the request has been sent again meanwhile
    MeterRig faulty(d, faults);
    int falseCRC = 0;
    faulty.net.OnFalseCRC = [&](TObject*) { ++falseCRC; };
    const Log got = ReadEverything(faulty);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].first, want[i].first) << i;
        EXPECT_EQ(got[i].second, want[i].second) << want[i].first;
    }
    const SLineStatistics& s = faulty.net.GetStatistics();
    EXPECT_GT(s.TimeOuts, 0u);
    EXPECT_GT(falseCRC, 0);
    std::printf("every read through faults: %llu frames (%llu clean), %llu time-outs, %d bad checksums\n",
                static_cast<unsigned long long>(s.Frames),
                static_cast<unsigned long long>(clean.net.GetStatistics().Frames),
                static_cast<unsigned long long>(s.TimeOuts), falseCRC);
}

}  // namespace
}  // namespace rv::test
