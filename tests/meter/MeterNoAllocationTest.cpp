// The meter command set's requests, decoders and events work in the component's records and the
// engine's fixed buffers: a whole read chain, an archive read of a full ring included, never
// touches the allocator. Counts every operator new of this test program.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/VirtualLoop.h"
#include "fakes/CountingAllocator.h"
#include "fakes/FixedBufferLink.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"

namespace rv {
namespace {

using test::Allocations;

// A link that answers every frame of the meter command set out of fixed buffers, so that any
// allocation seen is the component's: the echo, then a framed answer of the count asked (a
// pattern of bytes) or an acknowledge.
class AnsweringLink : public test::FixedBufferLink {
public:
    void Transmit_Packed(const void* data, unsigned char count) override
    {
        FixedBufferLink::Transmit_Packed(data, count);
        std::memcpy(frame_, data, count);
        frameLength_ = count;
        ++frames;
    }

    // Answers the frame last sent, once.
    bool Answer()
    {
        if (frameLength_ == 0) return false;
        size_t n = frameLength_;
        std::memcpy(out_, frame_, n);
        const uint8_t command = frame_[2];
        const uint8_t count = command == 0x10 ? frame_[5] : command == 0x31 || command == 0x90 ? frame_[7] : 0;
        if (count) {
            for (size_t i = 0; i < count; ++i) payload_[i] = static_cast<uint8_t>(i * 7 + frames);
            n += BuildAnswer(out_ + n, 0xF0, payload_, count, 0);
        } else {
            out_[n++] = 0xFF;
        }
        frameLength_ = 0;
        Deliver(out_, n);
        return true;
    }

    long frames = 0;

private:
    uint8_t frame_[256] = {};
    size_t frameLength_ = 0;
    uint8_t payload_[256] = {};
    uint8_t out_[600] = {};
};

TEST(MeterNoAllocation, ReadChainsAndArchiveReadsUseTheComponentsRecordsOnly)
{
    VirtualLoop loop;
    AnsweringLink link;
    TRurIvaQs_6x6 net(nullptr, &loop);
    net.SetDeviceComm(&link);
    net.SetReceiving_back(true);
    net.SetMasterNetAddress(0xF0);
    net.SetSlaveNetAddress(0xC9);
    long events = 0, values = 0, progress = 0;
    net.OnReceiveExecuted = [&events](short, unsigned char*) { ++events; };
    net.OnPointerRAM = [&events](const SPointerRAM*) { ++events; };
    net.OnLast = [&events](const SLastMeasure*) { ++events; };
    net.OnReceiveEditV2 = [&events](const SEventRecordV2*) { ++events; };
    net.OnModuleSumHoure = [&events](const UModuleSumHoure*) { ++events; };
    net.OnError6V2 = [&events](const SErrorRecordV2*) { ++events; };
    net.OnClearHead = [&events](int8_t) { ++events; };
    net.OnArhives = [&events](const SArhives*) { ++events; };
    net.OnArhivesHourLong = [&values](int count, const int32_t*) { values += count; };
    net.OnArhivesV2DayDLong = [&values](int count, const int64_t*) { values += count; };
    net.SetProgressControl([&progress](const std::string& text) { progress += static_cast<long>(text.size()); });

    // Runs the request chain started by start to its end: the send timer, then the answer.
    auto chain = [&](auto start) {
        const long before = Allocations();
        start();
        for (int guard = 0; guard < 1000; ++guard) {
            loop.RunFor(2);
            if (link.Answer()) continue;
            loop.RunFor(100);  // a woken frame goes out after the wake-up pause
            if (!link.Answer()) break;
        }
        loop.RunFor(2);
        return Allocations() - before;
    };
    loop.RunFor(200);
    EXPECT_EQ(chain([&] { net.GetFPointerRAM(); }), 0);
    EXPECT_EQ(chain([&] { net.GetLast(); }), 0);
    EXPECT_EQ(chain([&] { net.GetEditV2(3); }), 0);
    EXPECT_EQ(chain([&] { net.GetADCData(); }), 0);
    EXPECT_EQ(chain([&] { net.GetModuleSumHour(); }), 0);
    EXPECT_EQ(chain([&] { net.GetErr6V2(7, 4); }), 0);
    EXPECT_EQ(chain([&] { net.ClearHead(); }), 0);
    EXPECT_EQ(chain([&] { net.GetFArhives(); }), 0);
    // Whatever running numbers the pattern gave, a read of more than the ring gives the whole ring.
    EXPECT_EQ(chain([&] { net.GetArrayHourLong(0x7BC0, 0, 5000); }), 0);
    EXPECT_EQ(chain([&] { net.GetArrayDayDLongV2(0x1B750, 0, 5000, 8); }), 0);
    EXPECT_EQ(events, 7 + 1);  // GetADCData answers the caller's handler
    EXPECT_EQ(values, 1080 + 550);
    EXPECT_GT(progress, 0);
    EXPECT_FALSE(net.GetDecoding());
}

}  // namespace
}  // namespace rv
