// Arbitrary answers to every decoder of the meter command set: requests of every kind started
// with arguments from the input (indexes outside their ranges included), then answers of 0..250
// arbitrary bytes handed to the installed handler in buffers of exactly that size, framed answers
// and acknowledges through the link, time-outs, breaks and abandoned requests in between. Every
// record an event points at is read whole, so a copy past an answer or a record is found by the
// sanitizers; counts and lengths outside what the component can hold abort.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/VirtualLoop.h"
#include "fakes/ScriptedLink.h"
#include "fuzz/FuzzInput.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"

namespace {

using rv::TRurIvaQs_6x6;

using rv::fuzzing::Input;
using rv::fuzzing::Touch;

// The caller's own handler, a type of its own so that the test can tell it is back in the slot.
struct Caller {
    void operator()(short Length, unsigned char* Buffer) const
    {
        if (Length < 0 || Length > 250) std::abort();
        Touch(Buffer, static_cast<size_t>(Length));
    }
};

template <class T>
void CheckArchive(int count, const T* values)
{
    if (count < 0 || count > TRurIvaQs_6x6::kHourRing) std::abort();
    Touch(values, sizeof(T) * static_cast<size_t>(count));
}

void Hook(TRurIvaQs_6x6& n)
{
    n.OnPointerRAM = [](const rv::SPointerRAM* p) { Touch(p, sizeof *p); };
    n.OnDeviceFDW = [](const rv::SDeviceFlagsDWord* p) { Touch(p, sizeof *p); };
    n.OnModuleSumHoure = [](const rv::UModuleSumHoure* p) { Touch(p, sizeof *p); };
    n.OnLast = [](const rv::SLastMeasure* p) { Touch(p, sizeof *p); };
    n.OnFAllSumm = [](const rv::SAllSumm* p) { Touch(p, sizeof *p); };
    n.OnStopTimeHour = [](const void* p) { Touch(p, TRurIvaQs_6x6::kStopTimeSize); };
    n.OnArhives = [](const rv::SArhives* p) { Touch(p, sizeof *p); };
    n.OnArhivesHourLong = CheckArchive<int32_t>;
    n.OnArhivesDayLong = CheckArchive<int32_t>;
    n.OnArhivesHourShort = CheckArchive<int16_t>;
    n.OnArhivesDayShort = CheckArchive<int16_t>;
    n.OnArhivesV2HourShort = CheckArchive<int16_t>;
    n.OnArhivesV2DayShort = CheckArchive<int16_t>;
    n.OnArhivesV2HourLong = CheckArchive<int32_t>;
    n.OnArhivesV2DayLong = CheckArchive<int32_t>;
    n.OnArhivesV2HourDLong = CheckArchive<int64_t>;
    n.OnArhivesV2DayDLong = CheckArchive<int64_t>;
    n.OnClearAllSumm = [](int8_t) {};
    n.OnClearSummDay = [](int8_t) {};
    n.OnClearHead = [](int8_t) {};
    n.OnClearSetChecEditCounter = [](int8_t) {};
    n.OnErrorH1 = [](const rv::SHead* h) { Touch(h, 8 * sizeof *h); };
    n.OnErrorH1V2 = [](const rv::SHead* h) { Touch(h, 8 * sizeof *h); };
    n.OnErrorH6 = [](const rv::SHead* h) { Touch(h, 6 * sizeof *h); };
    n.OnErrorH6V2 = [](const rv::SHead* h) { Touch(h, 5 * sizeof *h); };
    n.OnError1 = [](const rv::SErrorRecord* r) { Touch(r, 16 * sizeof *r); };
    n.OnError6 = [](const rv::SErrorRecord* r) { Touch(r, 16 * sizeof *r); };
    n.OnError1V2 = [](const rv::SErrorRecordV2* r) { Touch(r, 16 * sizeof *r); };
    n.OnError6V2 = [](const rv::SErrorRecordV2* r) { Touch(r, 16 * sizeof *r); };
    n.OnFB6x6 = [](const rv::S6x6FlagsByte* p) { Touch(p, sizeof *p); };
    n.OnEditH1 = [](const rv::SHead* h) { Touch(h, sizeof *h); };
    n.OnEditH1V2 = [](const rv::SHead* h) { Touch(h, sizeof *h); };
    n.OnReceiveEdit = [](const rv::SEventRecord* r) { Touch(r, 16 * sizeof *r); };
    n.OnReceiveEditV2 = [](const rv::SEventRecordV2* r) { Touch(r, 16 * sizeof *r); };
    n.OnV2AllSumm = [](const rv::SModuleSumALLM* p) { Touch(p, sizeof *p); };
}

// Starts one of the component's operations, its arguments taken from the input.
void Start(TRurIvaQs_6x6& n, unsigned op, Input& in)
{
    const int a = static_cast<int8_t>(in.Byte());
    const int b = static_cast<int8_t>(in.Byte());
    const unsigned kind = op % 50;
    if (kind >= 30) {
        // The archive reads: the ring's address, a start and a count from the input.
        const uint32_t address = in.U32();
        const uint32_t from = in.U32() % 4096;
        const int count = static_cast<int16_t>(in.U32());
        const int size = a;
        switch (kind % 10) {
            case 0:
                return n.GetArrayHourLong(address, from, count);
            case 1:
                return n.GetArrayDayLong(address, from, count);
            case 2:
                return n.GetArrayHourShort(address, from, count);
            case 3:
                return n.GetArrayDayShort(address, from, count);
            case 4:
                return n.GetArrayHourShortV2(address, from, count, size);
            case 5:
                return n.GetArrayDayShortV2(address, from, count, size);
            case 6:
                return n.GetArrayHourLongV2(address, from, count, size);
            case 7:
                return n.GetArrayDayLongV2(address, from, count, size);
            case 8:
                return n.GetArrayHourDLongV2(address, from, count, size);
            default:
                return n.GetArrayDayDLongV2(address, from, count, size);
        }
    }
    switch (kind) {
        case 0:
            return n.GetFPointerRAM(a);
        case 1:
            return n.GetDeviceFDW();
        case 2:
            return n.GetLast();
        case 3:
            return n.GetFB_6x6();
        case 4:
            return n.GetEditH1(a);
        case 5:
            return n.GetEditH1V2(a);
        case 6:
            return n.GetEdit(a);
        case 7:
            return n.GetEditV2(a);
        case 8:
            return n.GetADCData();
        case 9:
            return n.GetADCPressData();
        case 10:
            return n.ClearSetChecEditCounter();
        case 11:
            return n.GetFArhives();
        case 12:
            return n.GetModuleSumHour();
        case 13:
            return n.V2GetAllSumm();
        case 14:
            return n.GetFAllSumm();
        case 15:
            return n.GetStopTimeHour();
        case 16:
            return n.GetErrorH1();
        case 17:
            return n.GetErrorH1V2();
        case 18:
            return n.GetErrorH6(a);
        case 19:
            return n.GetErrorH6V2(a);
        case 20:
            return n.GetErr1(a);
        case 21:
            return n.GetErr1V2(a);
        case 22:
            return n.GetErr6(a, b);
        case 23:
            return n.GetErr6V2(a, b);
        case 24:
            return n.ClearAllSumm();
        case 25:
            return n.ClearSummDay();
        case 26:
            return n.ClearHead();
        case 27:
            return n.StartFlowCalculation(static_cast<unsigned char>(a));
        case 28:
            return n.AnalogRead(static_cast<unsigned short>(a), static_cast<unsigned char>(b));
        default:
            return n.ReadArhiveV2(in.U32(), static_cast<unsigned char>(a), static_cast<unsigned char>(b));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    rv::VirtualLoop loop;
    rv::test::ScriptedLink link(&loop);
    TRurIvaQs_6x6 net(nullptr, &loop);
    net.SetDeviceComm(&link);
    net.SetMasterNetAddress(0xF0);
    net.SetSlaveNetAddress(0xC9);
    Hook(net);
    net.SetProgressControl([](const std::string& text) { Touch(text.data(), text.size()); });
    net.OnReceiveExecuted = Caller{};

    const uint8_t setup = in.Byte();
    net.SetReceiving_back(setup & 1);
    net.SetRepetition(setup & 2);
    // Chain the next read from an event now and then, as the windows do.
    if (setup & 4) {
        net.OnPointerRAM = [&net](const rv::SPointerRAM*) { net.GetFB_6x6(); };
        net.OnArhivesHourLong = [&net](int count, const int32_t* values) {
            CheckArchive(count, values);
            net.GetFArhives();
        };
    }

    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        try {
            if (op < 64) {
                Start(net, op, in);
            } else if (op < 160) {
                // An answer straight to the installed handler, in a buffer of exactly its length.
                const size_t len = in.Byte() % 251;
                std::unique_ptr<uint8_t[]> buffer(new uint8_t[len ? len : 1]);
                in.Take(buffer.get(), len);
                net.OnReceiveExecuted(static_cast<short>(len), len ? buffer.get() : nullptr);
            } else if (op < 200) {
                // A framed answer through the link, after the echo of the frame last sent.
                std::vector<uint8_t> bytes;
                const auto frames = link.Frames();
                if (net.GetReceiving_back() && !frames.empty()) bytes = frames.back();
                const size_t len = in.Byte() % 251;
                std::vector<uint8_t> payload(len);
                in.Take(payload.data(), len);
                std::vector<uint8_t> answer(len + 5);
                rv::BuildAnswer(answer.data(), (op & 1) ? 0xF0 : in.Byte(), payload.data(), len, 0);
                bytes.insert(bytes.end(), answer.begin(), answer.end());
                link.Deliver(bytes, 1 + (op & 31));
            } else if (op < 216) {
                link.Deliver({in.Byte()});  // an acknowledge, or a stray byte
            } else if (op < 232) {
                loop.RunFor(static_cast<uint64_t>(op & 15) * 200);
            } else if (op < 240) {
                net.AbandonRequest();
                if (net.GetDecoding() || !net.OnReceiveExecuted.Target<Caller>()) std::abort();
            } else if (op < 248) {
                net.BreakTransmit();
            } else {
                net.SetRepetition(!net.GetRepetition());
            }
        } catch (const rv::EProtocolError&) {
            // An index outside its range or a count that cannot be: refused before anything is sent.
        }
    }
    return 0;
}
