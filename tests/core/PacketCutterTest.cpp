// Packet cutting over a byte source, with the length changed by the receiver between packets.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/PacketCutter.h"

using namespace rv;

namespace {

struct Source {
    std::deque<unsigned char> q;
    void Add(const std::string& s) { q.insert(q.end(), s.begin(), s.end()); }
    size_t Read(unsigned char* dst, size_t n)
    {
        size_t k = 0;
        while (k < n && !q.empty()) {
            dst[k++] = q.front();
            q.pop_front();
        }
        return k;
    }
};

struct Rig {
    PacketCutter cut;
    Source src;
    int length = 3;
    std::vector<std::string> packets;
    std::function<void(const std::string&)> onPacket;

    void Arrive(const std::string& s)
    {
        src.Add(s);
        cut.Feed(
            s.size(), [&] { return length; },
            [&](unsigned char* b, int n) {
                packets.emplace_back(reinterpret_cast<char*>(b), static_cast<size_t>(n));
                if (onPacket) onPacket(packets.back());
            },
            [&](unsigned char* d, size_t n) { return src.Read(d, n); });
    }
};

}  // namespace

TEST(PacketCutter, AssemblesAcrossEventsAndSplitsWithinOne)
{
    Rig r;
    r.Arrive("ab");
    EXPECT_TRUE(r.packets.empty());
    r.Arrive("cdefgh");  // completes abc, then def, keeps gh
    EXPECT_EQ(r.packets, (std::vector<std::string>{"abc", "def"}));
    EXPECT_EQ(r.cut.Fill(), 2);
    r.cut.Reset();  // a new transmission discards the half packet
    r.Arrive("xyz");
    EXPECT_EQ(r.packets.back(), "xyz");
}

TEST(PacketCutter, LengthChangedInsideTheHandlerGovernsTheQueuedBytes)
{
    Rig r;
    r.length = 9;
    r.onPacket = [&](const std::string&) { r.length = 2; };
    r.Arrive("123456789ABCD");  // 9, then 4 queued become two packets of 2
    EXPECT_EQ(r.packets, (std::vector<std::string>{"123456789", "AB", "CD"}));
}

TEST(PacketCutter, OutOfRangeLengthsAreBoundedAndAShrunkLengthKeepsTheSurplus)
{
    Rig r;
    r.length = 0;  // counts as 1
    r.Arrive("xy");
    EXPECT_EQ(r.packets, (std::vector<std::string>{"x", "y"}));
    r.packets.clear();
    r.length = 5;
    r.Arrive("abc");
    r.length = 2;  // changed from outside while 3 bytes are held
    r.Arrive("d");
    EXPECT_EQ(r.packets, (std::vector<std::string>{"ab", "cd"}));
    r.length = 100000;
    r.Arrive(std::string(1500, 'z'));
    ASSERT_EQ(r.packets.size(), 3u);
    EXPECT_EQ(r.packets.back().size(), static_cast<size_t>(PacketCutter::kBufferSize));
}
