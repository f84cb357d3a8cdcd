// Meter data reads and measurement control against the simulated meter: the frames on the line,
// the addresses taken from the flash table and the pointer table, the records decoded from what the
// meter holds, and the caller's handler saved, restored and never lost.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include "MeterRig.h"
#include "meter/FlashAddress.h"
#include "sim/MeterCommands.h"

namespace rv::test {
namespace {

constexpr uint32_t kEventJournal = 0x74458;

TEST(MeterFrames, MeasurementCommandsAreFramedByteForByteAndAnswerTheInstalledHandler)
{
    MeterRig rig;
    rig.net.StartFlowCalculation(5);
    ASSERT_TRUE(rig.Run([&] { return rig.callerCalls.size() == 1; }));
    EXPECT_EQ(rig.LastFrame(), (Bytes{0xC9, 0x02, 0x84, 0x05, 0xF0, 0x44, 0x02}));
    EXPECT_EQ(rig.callerCalls[0], Bytes{sim::kAckOk});
    EXPECT_EQ(rig.image->meterCommands.flowChannelMask, 5);

    struct Case {
        std::function<void()> send;
        size_t frameLength;
        Bytes payload;  // after the command code
        Bytes answer;   // what reaches the caller's handler
    };
    const Case cases[] = {
        {[&] { rig.net.SaveData(3); }, 7, {3}, {sim::kAckOk}},
        {[&] { rig.net.AnalogStart(9); }, 7, {9}, {sim::kAckOk}},
        {[&] { rig.net.AnalogRead(0x1234, 7); }, 9, {0x34, 0x12, 7}, {0x34, 0x12, 7, 9}},
        {[&] { rig.net.AnalogEnd(); }, 6, {}, {sim::kAckOk}},
        {[&] { rig.net.StartTermCalculation(); }, 6, {}, {sim::kAckOk}},
        {[&] { rig.net.GetADCPressData(); }, 6, {}, rig.image->pressData},
        {[&] { rig.net.ReadArhiveV2(0x7BC0, 8, 4); }, 12, {0xC0, 0x7B, 0, 0, 8, 4}, rig.Flash(0x7BC0, 8)},
        {[&] { rig.net.TestArhiveV2(1, 0x05040302, 0x0706); }, 13, {1, 2, 3, 4, 5, 6, 7}, {1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        rig.callerCalls.clear();
        c.send();
        ASSERT_TRUE(rig.Run([&] { return rig.callerCalls.size() == 1; })) << c.frameLength;
        const Bytes frame = rig.LastFrame();
        ASSERT_EQ(frame.size(), c.frameLength);
        EXPECT_EQ(frame[1], c.payload.size() + 1);
        EXPECT_EQ(Bytes(frame.begin() + 3, frame.end() - 3), c.payload);
        EXPECT_EQ(GetU16(frame.data() + frame.size() - 2),
                  CRC(frame.data(), static_cast<unsigned char>(frame.size() - 2)));
        EXPECT_EQ(rig.callerCalls[0], c.answer) << int(frame[2]);
        EXPECT_TRUE(rig.CallerHoldsSlot());
        EXPECT_FALSE(rig.net.GetDecoding());
    }
    EXPECT_EQ(rig.image->meterCommands.saves, 1u);
    EXPECT_EQ(rig.image->meterCommands.lastSaveChannel, 3);
    EXPECT_FALSE(rig.image->meterCommands.analogueRunning);
    EXPECT_EQ(rig.image->meterCommands.termCalculations, 1u);
}

TEST(MeterReads, ChainAsTheWindowsDoAndGetTheirOwnHandlerBack)
{
    MeterRig rig;
    const sim::MeterImage& img = *rig.image;
    int flags = 0, fdw = 0, lastCount = 0;
    rig.net.OnPointerRAM = [&](const SPointerRAM* p) {
        for (int k = 0; k < SPointerRAM::kCount; ++k) EXPECT_EQ(p->Word[k], img.RamPointer(k)) << k;
        EXPECT_TRUE(rig.CallerHoldsSlot());  // restored before the event
        rig.net.GetFB_6x6();
    };
    rig.net.OnFB6x6 = [&](const S6x6FlagsByte* f) {
        ++flags;
        EXPECT_TRUE(f->EmulatorMode());
        rig.net.GetDeviceFDW();
    };
    rig.net.OnDeviceFDW = [&](const SDeviceFlagsDWord* d) {
        ++fdw;
        EXPECT_EQ(d->Word[0], 0x00000105u);
        rig.net.GetLast();
    };
    rig.net.OnLast = [&](const SLastMeasure* l) {
        ++lastCount;
        const uint16_t at = img.RamPointer(6);
        for (int k = 0; k < SLastMeasure::kCount; ++k) EXPECT_EQ(l->Value[k], img.ram.F32(at + 4u * k)) << k;
    };
    // Something to see in the last-measurement block.
    for (int k = 0; k < SLastMeasure::kCount; ++k) rig.image->ram.PutF32(img.RamPointer(6) + 4u * k, 0.5f * k - 3);

    rig.net.GetFPointerRAM(0);
    ASSERT_TRUE(rig.Run([&] { return lastCount == 1; }));
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(fdw, 1);
    EXPECT_TRUE(rig.CallerHoldsSlot());
    EXPECT_TRUE(rig.callerCalls.empty());

    // What went out: the table read whole (38 bytes, 34 kept), 16 flag bytes (14 kept), 24, 152.
    const auto reads = rig.Requests();
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0].command, sim::cmd::kReadFlashLarge);
    EXPECT_EQ(reads[0].Address32(), FlashAddress(2));
    EXPECT_EQ(reads[0].CountAfter(4), 38);
    const std::pair<int, int> ram[] = {{3, 16}, {2, 24}, {6, 152}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reads[i + 1].command, sim::cmd::kReadRam);
        EXPECT_EQ(reads[i + 1].Address16(), img.RamPointer(ram[i].first));
        EXPECT_EQ(reads[i + 1].CountAfter(2), ram[i].second);
    }
    EXPECT_EQ(std::memcmp(rig.net.GetFlags6x6().Byte, rig.Ram(img.RamPointer(3), 14).data(), 14), 0);

    // With its event unassigned a read still fills its record and gives the handler back.
    rig.net.OnPointerRAM = nullptr;
    rig.image->SetRamPointer(6, 0x0700);
    rig.net.GetFPointerRAM(0);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.net.GetPointerRAM().Word[6], 0x0700);
    EXPECT_TRUE(rig.CallerHoldsSlot());
}

TEST(MeterReads, EventJournalHeadsAndPagesOfBothLayouts)
{
    MeterRig rig;
    // A pattern over the whole journal region, so that every byte tells where it came from.
    for (uint32_t i = 0; i < 16 + 8 * 288; ++i)
        rig.image->flash.PutU8(kEventJournal + i, static_cast<uint8_t>(i * 7 + (i >> 8)));

    std::vector<int16_t> heads;
    rig.net.OnEditH1 = [&](const SHead* h) { heads.push_back(h->Value); };
    rig.net.OnEditH1V2 = [&](const SHead* h) { heads.push_back(h->Value); };
    rig.net.GetEditH1(2);
    ASSERT_TRUE(rig.RunToEnd());
    rig.net.GetEditH1V2(2);
    ASSERT_TRUE(rig.RunToEnd());
    for (const SentRequest& r : rig.Requests()) {
        EXPECT_EQ(r.Address32(), FlashAddress(174) + 4);
        EXPECT_EQ(r.CountAfter(4), 2);
    }
    const auto head = static_cast<int16_t>(rig.image->flash.U16(kEventJournal + 4));
    EXPECT_EQ(heads, (std::vector<int16_t>{head, head}));
    EXPECT_EQ(rig.net.GetEditHead(2).Value, head);
    EXPECT_EQ(rig.net.GetEditHeadV2(2).Value, head);

    rig.line.ClearLog();
    const SEventRecord* page = nullptr;
    rig.net.OnReceiveEdit = [&](const SEventRecord* e) { page = e; };
    rig.net.GetEdit(3);
    ASSERT_TRUE(rig.RunToEnd());
    auto reads = rig.Requests();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].Address32(), FlashAddress(174) + 784);
    EXPECT_EQ(reads[1].Address32(), FlashAddress(174) + 912);
    EXPECT_EQ(reads[0].CountAfter(4), 128);
    EXPECT_EQ(reads[1].CountAfter(4), 128);
    ASSERT_EQ(page, rig.net.GetEditPage(3));
    for (int k = 0; k < 16; ++k) {
        const SEventRecord want = SEventRecord::Decode(rig.Flash(kEventJournal + 784 + 16u * k, 16).data());
        EXPECT_EQ(page[k].Code, want.Code) << k;
        EXPECT_EQ(page[k].DeviceFlags, want.DeviceFlags) << k;
        EXPECT_EQ(page[k].Value[1], want.Value[1]) << k;
    }

    rig.line.ClearLog();
    const SEventRecordV2* pageV2 = nullptr;
    rig.net.OnReceiveEditV2 = [&](const SEventRecordV2* e) { pageV2 = e; };
    rig.net.GetEditV2(3);
    ASSERT_TRUE(rig.RunToEnd());
    reads = rig.Requests();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].Address32(), FlashAddress(174) + 880);
    EXPECT_EQ(reads[1].Address32(), FlashAddress(174) + 1024);
    EXPECT_EQ(reads[1].CountAfter(4), 144);
    ASSERT_EQ(pageV2, rig.net.GetEditPageV2(3));
    for (int k = 0; k < 16; ++k) {
        Bytes bytes(18);
        pageV2[k].Encode(bytes.data());
        EXPECT_EQ(bytes, rig.Flash(kEventJournal + 880 + 18u * k, 18)) << k;  // the closing word too
    }
    EXPECT_TRUE(rig.CallerHoldsSlot());
}

// Records of both layouts as the meter keeps them, typed byte by byte at offsets worked out by
// hand: what the reads decode from them, and what the command set would write for those fields.
TEST(MeterReads, EventJournalRecordsOfBothLayoutsMatchBytesTypedByHand)
{
    MeterRig rig;
    auto put = [&](uint32_t offset, const Bytes& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i)
            rig.image->flash.PutU8(kEventJournal + offset + static_cast<uint32_t>(i), bytes[i]);
    };
    put(0, Bytes(16 + 8 * 288, 0x00));
    // Layout 1: code, journal, index, flag, device flag word, two values.
    const Bytes v1 = {0x90, 0x02, 0x05, 0x01, 0x05, 0x01, 0x00, 0x80, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F};
    // Layout 2: the same fields, then the closing word.
    const Bytes v2 = {0x91, 0x07, 0x0F, 0x00, 0xEF, 0xBE, 0xAD, 0xDE, 0x01, 0x00,
                      0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0xA2};
    put(6, {0x11, 0x80});   // head of journal 3
    put(528, v1);           // layout 1, page 2 (16 + 2 * 256), slot 0
    put(528 + 144, v1);     // slot 9, in the second half
    put(1456, v2);          // layout 2, page 5 (16 + 5 * 288), slot 0
    put(1456 + 270, v2);    // slot 15: its closing word ends the second half

    rig.net.GetEditH1(3);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.net.GetEditHead(3).Value, -32751);  // 0x8011

    rig.net.GetEdit(2);
    ASSERT_TRUE(rig.RunToEnd());
    const SEventRecord* page = rig.net.GetEditPage(2);
    for (int slot : {0, 9}) {
        const SEventRecord& r = page[slot];
        EXPECT_EQ(r.Code, 0x90) << slot;
        EXPECT_EQ(r.Journal, 2) << slot;
        EXPECT_EQ(r.Index, 5) << slot;
        EXPECT_EQ(r.Flag, 1) << slot;
        EXPECT_EQ(r.DeviceFlags, 0x80000105u) << slot;
        EXPECT_EQ(r.Value[0], 0x12345678u) << slot;
        EXPECT_EQ(std::bit_cast<float>(r.Value[1]), 1.0f) << slot;
    }
    EXPECT_EQ(page[1].Code, 0);
    EXPECT_EQ(page[8].DeviceFlags, 0u);

    rig.net.GetEditV2(5);
    ASSERT_TRUE(rig.RunToEnd());
    const SEventRecordV2* pageV2 = rig.net.GetEditPageV2(5);
    for (int slot : {0, 15}) {
        const SEventRecordV2& r = pageV2[slot];
        EXPECT_EQ(r.Code, 0x91) << slot;
        EXPECT_EQ(r.Journal, 7) << slot;
        EXPECT_EQ(r.Index, 15) << slot;
        EXPECT_EQ(r.Flag, 0) << slot;
        EXPECT_EQ(r.DeviceFlags, 0xDEADBEEFu) << slot;
        EXPECT_EQ(r.Value[0], 1u) << slot;
        EXPECT_EQ(r.Value[1], 0xFFFFFFFFu) << slot;
        EXPECT_EQ(r.Tail, 0xA234) << slot;
    }
    EXPECT_EQ(pageV2[14].Tail, 0);

    Bytes out1(16), out2(18);
    SEventRecord{0x90, 2, 5, 1, 0x80000105u, {0x12345678u, 0x3F800000u}}.Encode(out1.data());
    SEventRecordV2{0x91, 7, 15, 0, 0xDEADBEEFu, {1u, 0xFFFFFFFFu}, 0xA234}.Encode(out2.data());
    EXPECT_EQ(out1, v1);
    EXPECT_EQ(out2, v2);
}

// The table is read when a request is built, so a new layout reaches the very next request.
TEST(MeterReads, ANewFlashLayoutReachesTheNextRequest)
{
    MeterRig rig;
    struct Restore {
        ~Restore() { TRurIvaQs_6x6::SetFlashAddressDefault(); }
    } restore;
    std::vector<uint8_t> raw(SDevVexa::kSize, 0);
    PutU32(raw.data() + 104, 0x100);   // base
    PutU16(raw.data() + 118, 0x8000);  // the event journal at 0x8100
    const SDevVexa layout = SDevVexa::Decode(raw.data(), raw.size());
    rig.image->flash.PutU8(0x8100 + 2, 0x34);
    rig.image->flash.PutU8(0x8100 + 3, 0x12);

    TRurIvaQs_6x6::SetFlashAddress(&layout);
    rig.net.GetEditH1(1);
    ASSERT_TRUE(rig.RunToEnd());
    auto reads = rig.Requests();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].Address32(), 0x8102u);
    EXPECT_EQ(rig.net.GetEditHead(1).Value, 0x1234);

    TRurIvaQs_6x6::SetFlashAddressDefault();
    rig.line.ClearLog();
    rig.net.GetEditH1(1);
    ASSERT_TRUE(rig.RunToEnd());
    reads = rig.Requests();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].Address32(), kEventJournal + 2);
}

TEST(MeterReads, DefaultMeterJournalDecodesAsWritten)
{
    MeterRig rig;  // software version 203: layout 2, two KFS changes in journal 0
    rig.net.GetEditV2(0);
    ASSERT_TRUE(rig.RunToEnd());
    const SEventRecordV2* page = rig.net.GetEditPageV2(0);
    EXPECT_EQ(page[1].Code, 0x90);
    EXPECT_EQ(page[1].Flag, 1);
    EXPECT_EQ(page[1].DeviceFlags, 0x00000105u);
    EXPECT_EQ(std::bit_cast<float>(page[1].Value[1]), 0.9987f);
}

TEST(MeterReads, AnalogueDataReachesTheCallersHandlerOnceWith64Bytes)
{
    MeterRig rig;
    const sim::MeterImage& img = *rig.image;
    for (uint32_t i = 0; i < 32; ++i) {
        rig.image->ram.PutU8(img.RamPointer(6) + i, static_cast<uint8_t>(0x10 + i));
        rig.image->ram.PutU8(img.RamPointer(14) + i, static_cast<uint8_t>(0x80 + i));
    }
    int events = 0;
    rig.net.OnPointerRAM = [&](const SPointerRAM*) { ++events; };
    rig.net.GetADCData();
    ASSERT_TRUE(rig.RunToEnd());
    rig.loop.RunFor(5000);
    EXPECT_EQ(events, 0);
    ASSERT_EQ(rig.callerCalls.size(), 1u);
    Bytes want = rig.Ram(img.RamPointer(6), 32);
    const Bytes ul = rig.Ram(img.RamPointer(14), 32);
    want.insert(want.end(), ul.begin(), ul.end());
    EXPECT_EQ(rig.callerCalls[0], want);
    EXPECT_TRUE(rig.CallerHoldsSlot());

    const auto reqs = rig.Requests();
    ASSERT_EQ(reqs.size(), 4u);
    EXPECT_EQ(reqs[0].command, sim::cmd::kReadFlashLarge);
    EXPECT_EQ(reqs[0].CountAfter(4), 34);
    EXPECT_EQ(reqs[1].command, sim::cmd::kStartTermCalculation);
    EXPECT_EQ(reqs[2].Address16(), img.RamPointer(6));
    EXPECT_EQ(reqs[3].Address16(), img.RamPointer(14));
    EXPECT_EQ(reqs[3].CountAfter(2), 32);
    EXPECT_EQ(rig.net.GetAnaloguePointers()[14], img.RamPointer(14));
}

TEST(MeterControl, ClearingTheCheckAndEditCountersWritesZerosAndHandsOnTheAcknowledge)
{
    MeterRig rig;
    ASSERT_NE(rig.Flash(0x2000, 28), Bytes(28, 0));
    std::vector<int> acks;
    rig.net.OnClearSetChecEditCounter = [&](int8_t data) {
        EXPECT_TRUE(rig.CallerHoldsSlot());
        acks.push_back(data);
    };
    rig.net.ClearSetChecEditCounter();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(acks, std::vector<int>{static_cast<int8_t>(sim::kAckOk)});
    EXPECT_EQ(rig.Flash(0x2000, 28), Bytes(28, 0));
    const auto w = rig.Requests(sim::cmd::kWriteFlashLarge);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].Address32(), FlashAddress(26));
    EXPECT_EQ(w[0].CountAfter(4), 28);
}

TEST(MeterReads, IndexesOutsideTheirRangesAreRefusedBeforeAnythingIsSent)
{
    MeterRig rig;
    struct Case {
        std::function<void()> call;
        const char* operation;
        const char* range;
    };
    const Case cases[] = {
        {[&] { rig.net.GetEdit(8); }, "GetEdit", "0..7"},
        {[&] { rig.net.GetEditV2(-1); }, "GetEditV2", "0..7"},
        {[&] { rig.net.GetEditH1(200); }, "GetEditH1", "0..7"},
        {[&] { rig.net.GetEditH1V2(8); }, "GetEditH1V2", "0..7"},
        {[&] { rig.net.GetErrorH6(8); }, "GetErrorH6", "0..7"},
        {[&] { rig.net.GetErrorH6V2(-2); }, "GetErrorH6V2", "0..7"},
        {[&] { rig.net.GetErr1(8); }, "GetErr1", "0..7"},
        {[&] { rig.net.GetErr1V2(9); }, "GetErr1V2", "0..7"},
        {[&] { rig.net.GetErr6(0, 6); }, "GetErr6", "0..5"},
        {[&] { rig.net.GetErr6(8, 0); }, "GetErr6", "0..7"},
        {[&] { rig.net.GetErr6V2(7, 5); }, "GetErr6V2", "0..4"},
        {[&] { rig.net.GetArrayDayLongV2(0xE4F0, 0, 0, 3); }, "GetArrayDayLongV2", "размер записи"},
        {[&] { rig.net.GetArrayHourLong(0x7BC0, 0, -1); }, "GetArrayHourLong", "отрицательным"},
    };
    for (const Case& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.operation << " was not refused";
        } catch (const EMeterError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.operation), std::string::npos) << what;
            EXPECT_NE(what.find(c.range), std::string::npos) << what;
        }
        EXPECT_FALSE(rig.net.GetDecoding());
        EXPECT_TRUE(rig.CallerHoldsSlot());
    }
    rig.loop.RunFor(3000);
    EXPECT_TRUE(rig.line.Writes().empty());
    // Without a link nothing is left half-done either.
    rig.net.SetDeviceComm(nullptr);
    EXPECT_THROW(rig.net.GetLast(), EProtocolError);
    EXPECT_FALSE(rig.net.GetDecoding());
    EXPECT_TRUE(rig.CallerHoldsSlot());
}

TEST(MeterReads, AbandonedAndGivenUpRequestsNeverLoseTheCallersHandler)
{
    MeterRig rig;
    rig.meter.Faults().dropAnswer = 1;
    rig.net.GetLast();
    rig.loop.RunFor(4000);  // retrying
    EXPECT_FALSE(rig.CallerHoldsSlot());
    rig.net.AbandonRequest();
    EXPECT_TRUE(rig.CallerHoldsSlot());
    EXPECT_FALSE(rig.net.GetDecoding());
    const size_t sent = rig.line.Writes().size();
    rig.loop.RunFor(10000);
    EXPECT_EQ(rig.line.Writes().size(), sent);  // the engine stopped too

    // A read that timed out without repetition leaves its decoder in the slot; the next read of
    // the component must still give the caller's handler back at its end.
    rig.net.SetRepetition(false);
    int timeOuts = 0;
    rig.net.OnTimeOut = [&](TObject*) { ++timeOuts; };
    rig.net.GetLast();
    ASSERT_TRUE(rig.Run([&] { return timeOuts == 1; }));
    EXPECT_TRUE(rig.net.GetDecoding());
    rig.meter.Faults().dropAnswer = 0;
    int flags = 0;
    rig.net.OnFB6x6 = [&](const S6x6FlagsByte*) { ++flags; };
    rig.net.GetFB_6x6();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(flags, 1);
    EXPECT_TRUE(rig.CallerHoldsSlot());

    // A caller that installs a handler of its own after giving up gets that one back.
    rig.meter.Faults().dropAnswer = 1;
    rig.net.GetLast();
    ASSERT_TRUE(rig.Run([&] { return timeOuts == 2; }));
    std::vector<Bytes> other;
    struct Other {
        std::vector<Bytes>* calls;
        void operator()(short, unsigned char*) const { calls->push_back({}); }
    };
    rig.net.OnReceiveExecuted = Other{&other};
    rig.meter.Faults().dropAnswer = 0;
    rig.net.GetFB_6x6();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(flags, 2);
    EXPECT_NE(rig.net.OnReceiveExecuted.Target<Other>(), nullptr);
    // AbandonRequest when nothing is under way changes nothing.
    rig.net.AbandonRequest();
    EXPECT_NE(rig.net.OnReceiveExecuted.Target<Other>(), nullptr);
}

// A meter whose next answers to command are deltas[0], deltas[1], ... bytes longer than asked.
void ReshapeReads(MeterRig& rig, uint8_t command, std::vector<int> deltas)
{
    const sim::SimMeter::CommandHandler plain = rig.meter.CommandHandlerFor(command);
    auto next = std::make_shared<size_t>(0);
    rig.meter.SetCommandHandler(command, [plain, deltas, next](sim::SimMeter& m, const sim::Request& r) {
        sim::Answer a = plain(m, r);
        if (*next < deltas.size()) {
            const long size = std::clamp<long>(static_cast<long>(a.bytes.size()) + deltas[(*next)++], 0, 250);
            a.bytes.resize(static_cast<size_t>(size), 0x5A);
        }
        return a;
    });
}

// An answer of another length is what a late answer to the request before looks like (the 24
// flag bytes arriving for the 152-byte measurement), or a meter that cut its answer short.
TEST(MeterReads, AnswersOfAnotherLengthAreRefusedAndAskedAgain)
{
    MeterRig rig;
    const uint16_t lastAt = rig.image->RamPointer(6);
    rig.net.GetFPointerRAM(0);
    ASSERT_TRUE(rig.RunToEnd());
    rig.net.GetLast();
    ASSERT_TRUE(rig.RunToEnd());
    const SLastMeasure before = rig.net.GetLastMeasure();

    for (int k = 0; k < SLastMeasure::kCount; ++k) rig.image->ram.PutF32(lastAt + 4u * k, 1.0f + k);
    ReshapeReads(rig, sim::cmd::kReadRam, {24 - 152, -1});
    int refused = 0, events = 0;
    rig.net.OnFalseCRC = [&](TObject*) {
        ++refused;
        for (int k = 0; k < SLastMeasure::kCount; ++k)
            EXPECT_EQ(std::bit_cast<uint32_t>(rig.net.GetLastMeasure().Value[k]),
                      std::bit_cast<uint32_t>(before.Value[k]));
    };
    rig.net.OnLast = [&](const SLastMeasure* last) {
        ++events;
        for (int k = 0; k < SLastMeasure::kCount; ++k) EXPECT_EQ(last->Value[k], 1.0f + k) << k;
    };
    rig.net.GetLast();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(rig.Requests(sim::cmd::kReadRam).size(), 1u + 3u);
    EXPECT_TRUE(rig.CallerHoldsSlot());

    // Without repetition a refused answer ends the request, as a bad checksum does: the page
    // keeps what it had, the decoder waits, and abandoning puts the caller's handler back.
    MeterRig big;
    for (uint32_t i = 0; i < 8 * 288; ++i) big.image->flash.PutU8(kEventJournal + 16 + i, static_cast<uint8_t>(i));
    big.net.SetRepetition(false);
    int pages = 0, bigRefused = 0;
    big.net.OnReceiveEditV2 = [&](const SEventRecordV2*) { ++pages; };
    big.net.OnFalseCRC = [&](TObject*) { ++bigRefused; };
    ReshapeReads(big, sim::cmd::kReadFlashLarge, {+106});  // 250 bytes for 144
    big.net.GetEditV2(6);
    big.loop.RunFor(10'000);
    EXPECT_EQ(bigRefused, 1);
    EXPECT_EQ(pages, 0);
    EXPECT_TRUE(big.net.GetDecoding());
    for (int k = 0; k < 16; ++k) EXPECT_EQ(big.net.GetEditPageV2(6)[k].Code, 0) << k;
    for (int k = 0; k < 16; ++k) EXPECT_EQ(big.net.GetEditPageV2(7)[k].Code, 0) << k;
    big.net.AbandonRequest();
    EXPECT_TRUE(big.CallerHoldsSlot());
    big.net.GetEditV2(6);
    ASSERT_TRUE(big.RunToEnd());
    EXPECT_EQ(pages, 1);
    Bytes bytes(18);
    for (int k = 0; k < 16; ++k) {
        big.net.GetEditPageV2(6)[k].Encode(bytes.data());
        EXPECT_EQ(bytes, big.Flash(kEventJournal + 16 + 288u * 6 + 18u * k, 18)) << k;
    }
}

}  // namespace
}  // namespace rv::test
