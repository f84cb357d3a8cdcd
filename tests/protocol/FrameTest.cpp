// The checksum and the frame builders against the byte examples of the line protocol.
#include <vector>

#include <gtest/gtest.h>

#include "protocol/Frame.h"

namespace rv {
namespace {

TEST(Frame, ChecksumIsAnUnsignedSumThatWraps)
{
    const uint8_t identify[] = {0xC9, 0x01, 0x0F, 0xF0};
    EXPECT_EQ(CRC(identify, 4), 0x01C9);
    // 0xFF adds 255, not -1; 255 bytes of 0xFF sum to 65025, and 258 such bytes would wrap.
    std::vector<uint8_t> ff(255, 0xFF);
    EXPECT_EQ(CRC(ff.data(), 255), 255u * 255u);
    std::vector<uint8_t> big(255, 0x00);
    big[0] = 0xFF;
    big[1] = 0x80;
    EXPECT_EQ(CRC(big.data(), 2), 0x17F);
    // A count is one byte: at most 255 bytes are summed.
    std::vector<uint8_t> many(300, 0xFF);
    EXPECT_EQ(CRC(many.data(), static_cast<unsigned char>(255)), 65025);
}

TEST(Frame, RequestBeyondTheParameterLimitIsNotBuilt)
{
    uint8_t out[260];
    std::vector<uint8_t> params(250, 1);
    EXPECT_EQ(BuildRequest(out, 0xC9, 0x20, params.data(), 250, 0xF0), 0u);
    EXPECT_EQ(BuildRequest(out, 0xC9, 0x20, params.data(), 249, 0xF0), 255u);
}

TEST(Frame, AnswerChecksReadOnlyWhatArrived)
{
    uint8_t out[260];
    const size_t n = BuildAnswer(out, 0xF0, nullptr, 0, 0x5A);
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(CheckFramedAnswer(out, n, 0xF0), FrameCheck::Ok);
    EXPECT_EQ(CheckFramedAnswer(out, n - 1, 0xF0), FrameCheck::Incomplete);
    EXPECT_EQ(CheckFramedAnswer(out, n, 0xF1), FrameCheck::WrongAddress);
    out[3] ^= 1;
    EXPECT_EQ(CheckFramedAnswer(out, n, 0xF0), FrameCheck::BadChecksum);
}

}  // namespace
}  // namespace rv
