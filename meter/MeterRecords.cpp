// Decoding and encoding of the meter records; the layouts are documented in MeterRecords.h.
#include "MeterRecords.h"

#include <bit>

#include "protocol/Frame.h"

namespace rv {

SPointerRAM SPointerRAM::Decode(const uint8_t* bytes)
{
    SPointerRAM r;
    for (int k = 0; k < kCount; ++k) r.Word[k] = GetU16(bytes + 2 * k);
    return r;
}

SDeviceFlagsDWord SDeviceFlagsDWord::Decode(const uint8_t* bytes)
{
    SDeviceFlagsDWord r;
    for (int k = 0; k < kCount; ++k) r.Word[k] = GetU32(bytes + 4 * k);
    return r;
}

SLastMeasure SLastMeasure::Decode(const uint8_t* bytes)
{
    SLastMeasure r;
    for (int k = 0; k < kCount; ++k) r.Value[k] = std::bit_cast<float>(GetU32(bytes + 4 * k));
    return r;
}

S6x6FlagsByte S6x6FlagsByte::Decode(const uint8_t* bytes)
{
    S6x6FlagsByte r;
    for (size_t k = 0; k < kSize; ++k) r.Byte[k] = bytes[k];
    return r;
}

SHead SHead::Decode(const uint8_t* bytes)
{
    return SHead{static_cast<int16_t>(GetU16(bytes))};
}

SEventRecord SEventRecord::Decode(const uint8_t* bytes)
{
    SEventRecord r;
    r.Code = bytes[0];
    r.Journal = bytes[1];
    r.Index = bytes[2];
    r.Flag = bytes[3];
    r.DeviceFlags = GetU32(bytes + 4);
    r.Value[0] = GetU32(bytes + 8);
    r.Value[1] = GetU32(bytes + 12);
    return r;
}

void SEventRecord::Encode(uint8_t* out) const
{
    out[0] = Code;
    out[1] = Journal;
    out[2] = Index;
    out[3] = Flag;
    PutU32(out + 4, DeviceFlags);
    PutU32(out + 8, Value[0]);
    PutU32(out + 12, Value[1]);
}

SEventRecordV2 SEventRecordV2::Decode(const uint8_t* bytes)
{
    const SEventRecord head = SEventRecord::Decode(bytes);
    SEventRecordV2 r;
    r.Code = head.Code;
    r.Journal = head.Journal;
    r.Index = head.Index;
    r.Flag = head.Flag;
    r.DeviceFlags = head.DeviceFlags;
    r.Value[0] = head.Value[0];
    r.Value[1] = head.Value[1];
    r.Tail = GetU16(bytes + 16);
    return r;
}

void SEventRecordV2::Encode(uint8_t* out) const
{
    const SEventRecord head{Code, Journal, Index, Flag, DeviceFlags, {Value[0], Value[1]}};
    head.Encode(out);
    PutU16(out + 16, Tail);
}

SArhives SArhives::Decode(const uint8_t* bytes)
{
    return SArhives{GetU32(bytes), GetU32(bytes + 4), GetU32(bytes + 8)};
}

SErrorRecord SErrorRecord::Decode(const uint8_t* bytes)
{
    return SErrorRecord{{GetU32(bytes), GetU32(bytes + 4)}};
}

SErrorRecordV2 SErrorRecordV2::Decode(const uint8_t* bytes)
{
    return SErrorRecordV2{{GetU32(bytes), GetU32(bytes + 4)}, GetU16(bytes + 8)};
}

}  // namespace rv
