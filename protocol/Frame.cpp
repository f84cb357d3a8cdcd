// Checksum, frame building and answer checks.
#include "Frame.h"

#include <cstring>

namespace rv {

uint16_t CRC(const void* data, unsigned char count)
{
    const auto* p = static_cast<const uint8_t*>(data);
    uint16_t sum = 0;
    for (unsigned i = 0; i < count; ++i) sum = static_cast<uint16_t>(sum + p[i]);
    return sum;
}

size_t BuildRequest(uint8_t* out, uint8_t destination, uint8_t command, const void* params, size_t nparams,
                    uint8_t master)
{
    if (nparams > kMaxRequestParams) return 0;
    const size_t L = 1 + nparams;
    out[0] = destination;
    out[1] = static_cast<uint8_t>(L);
    out[2] = command;
    if (nparams) std::memcpy(out + 3, params, nparams);
    out[L + 2] = master;
    PutU16(out + L + 3, CRC(out, static_cast<unsigned char>(L + 3)));
    return L + 5;
}

size_t BuildAnswer(uint8_t* out, uint8_t master, const void* payload, size_t npayload, uint8_t filler)
{
    if (npayload > kMaxAnswerPayload) return 0;
    const size_t L = npayload;
    out[0] = master;
    out[1] = static_cast<uint8_t>(L);
    if (npayload) std::memcpy(out + 2, payload, npayload);
    out[L + 2] = filler;
    PutU16(out + L + 3, CRC(out, static_cast<unsigned char>(L + 3)));
    return L + 5;
}

FrameCheck CheckFramedAnswer(const uint8_t* frame, size_t size, uint8_t master)
{
    if (size < 2) return FrameCheck::Incomplete;
    if (frame[0] != master) return FrameCheck::WrongAddress;
    const size_t L = frame[1];
    if (size < L + 5) return FrameCheck::Incomplete;
    return CRC(frame, static_cast<unsigned char>(L + 3)) == GetU16(frame + L + 3) ? FrameCheck::Ok
                                                                                   : FrameCheck::BadChecksum;
}

FrameCheck CheckIdentityAnswer(const uint8_t* frame, size_t size, uint8_t master)
{
    if (size < kIdentityAnswerSize) return FrameCheck::Incomplete;
    if (frame[0] != master) return FrameCheck::WrongAddress;
    return CRC(frame, 17) == GetU16(frame + 17) ? FrameCheck::Ok : FrameCheck::BadChecksum;
}

}  // namespace rv
