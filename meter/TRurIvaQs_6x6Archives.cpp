// Archives: the archive pointers, and runs of hour and day records read out of the meter's rings
// in chronological order, in chunks of at most 160 bytes, into the component's buffers.
//
// Record number k of a ring of N records lies in slot k mod N; the newest is the running number
// P minus 1. A read that starts before the oldest record still in the ring starts at the oldest
// (slot P mod N); a run that passes the end of the ring goes on from slot 0 (the wrapped pass).
// Either way one read takes at most N values, so the 2000-entry buffers hold any read.
#include "TRurIvaQs_6x6.h"

#include <algorithm>

#include "meter/AnswerCopy.h"
#include "protocol/Frame.h"

namespace rv {

using meter_detail::DecodeAnswer;

namespace {

constexpr uint8_t kReadArhiveV2 = 0x90;
constexpr uint8_t kTestArhiveV2 = 0x91;

uint64_t GetU64(const uint8_t* p)
{
    return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

}  // namespace

void TRurIvaQs_6x6::GetFArhives()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveFArhives, [this] {
        ReadFlashExactly(FlashAddress(flash::kArchivePointers), static_cast<unsigned char>(SArhives::kSize));
    });
}

void TRurIvaQs_6x6::ReceiveFArhives(int Length, const uint8_t* Buffer)
{
    EndDecoding();
    arhives_ = DecodeAnswer<SArhives>(Buffer, Length);
    OnArhives(&arhives_);
}

void TRurIvaQs_6x6::ReadArhiveV2(unsigned int address, unsigned char bytes, unsigned char width)
{
    uint8_t* p = BeginRequest(kReadArhiveV2);
    PutU32(p, address);
    p[4] = bytes;
    p[5] = width;
    FinishRequest(6, TAnswerKind::Framed);
}

void TRurIvaQs_6x6::TestArhiveV2(unsigned char value8, unsigned int value32, unsigned short value16)
{
    uint8_t* p = BeginRequest(kTestArhiveV2);
    p[0] = value8;
    PutU32(p + 1, value32);
    PutU16(p + 5, value16);
    FinishRequest(7, TAnswerKind::Framed);
}

// --- The ten reads

TRurIvaQs_6x6::ArchiveShape TRurIvaQs_6x6::ShapeOf(ArchiveKind kind)
{
    using K = ArchiveKind;
    using T = TRurIvaQs_6x6;
    switch (kind) {
        case K::HourLong:
            return {true, 4, false, false, &T::ReceiveArrayHourLong};
        case K::DayLong:
            return {false, 4, false, false, &T::ReceiveArrayDayLong};
        case K::HourShort:
            return {true, 2, false, false, &T::ReceiveArrayHourShort};
        case K::DayShort:
            return {false, 2, false, false, &T::ReceiveArrayDayShort};
        case K::HourShortV2:
            return {true, 2, true, false, &T::ReceiveArrayHourShortV2};
        case K::DayShortV2:
            return {false, 2, true, true, &T::ReceiveArrayDayShortV2};
        case K::HourLongV2:
            return {true, 4, true, true, &T::ReceiveArrayHourLongV2};
        case K::DayLongV2:
            return {false, 4, true, true, &T::ReceiveArrayDayLongV2};
        case K::HourDLongV2:
            return {true, 8, true, true, &T::ReceiveArrayHourDLongV2};
        case K::DayDLongV2:
            return {false, 8, true, true, &T::ReceiveArrayDayDLongV2};
    }
    return {true, 4, false, false, &T::ReceiveArrayHourLong};
}

void TRurIvaQs_6x6::GetArrayHourLong(unsigned int address, unsigned int from, int count)
{
    StartArchive("GetArrayHourLong", ArchiveKind::HourLong, address, from, count, 0);
}
void TRurIvaQs_6x6::GetArrayDayLong(unsigned int address, unsigned int from, int count)
{
    StartArchive("GetArrayDayLong", ArchiveKind::DayLong, address, from, count, 0);
}
void TRurIvaQs_6x6::GetArrayHourShort(unsigned int address, unsigned int from, int count)
{
    StartArchive("GetArrayHourShort", ArchiveKind::HourShort, address, from, count, 0);
}
void TRurIvaQs_6x6::GetArrayDayShort(unsigned int address, unsigned int from, int count)
{
    StartArchive("GetArrayDayShort", ArchiveKind::DayShort, address, from, count, 0);
}
// The hour ring of 16-bit values of layout 2 lies densely: the record size is kept, not used.
void TRurIvaQs_6x6::GetArrayHourShortV2(unsigned int address, unsigned int from, int count, int recordSize)
{
    StartArchive("GetArrayHourShortV2", ArchiveKind::HourShortV2, address, from, count, recordSize);
}
void TRurIvaQs_6x6::GetArrayDayShortV2(unsigned int address, unsigned int from, int count, int recordSize)
{
    StartArchive("GetArrayDayShortV2", ArchiveKind::DayShortV2, address, from, count, recordSize);
}
void TRurIvaQs_6x6::GetArrayHourLongV2(unsigned int address, unsigned int from, int count, int recordSize)
{
    StartArchive("GetArrayHourLongV2", ArchiveKind::HourLongV2, address, from, count, recordSize);
}
void TRurIvaQs_6x6::GetArrayDayLongV2(unsigned int address, unsigned int from, int count, int recordSize)
{
    StartArchive("GetArrayDayLongV2", ArchiveKind::DayLongV2, address, from, count, recordSize);
}
void TRurIvaQs_6x6::GetArrayHourDLongV2(unsigned int address, unsigned int from, int count, int recordSize)
{
    StartArchive("GetArrayHourDLongV2", ArchiveKind::HourDLongV2, address, from, count, recordSize);
}
void TRurIvaQs_6x6::GetArrayDayDLongV2(unsigned int address, unsigned int from, int count, int recordSize)
{
    StartArchive("GetArrayDayDLongV2", ArchiveKind::DayDLongV2, address, from, count, recordSize);
}

void TRurIvaQs_6x6::StartArchive(const char* operation, ArchiveKind kind, unsigned int address, unsigned int from,
                                 int count, int recordSize)
{
    const ArchiveShape shape = ShapeOf(kind);
    if (count < 0)
        throw EMeterError(std::string(operation) + ": число записей " + std::to_string(count) +
                          " не может быть отрицательным.");
    if (shape.recordStride && recordSize < static_cast<int>(shape.width))
        throw EMeterError(std::string(operation) + ": размер записи " + std::to_string(recordSize) +
                          " байт меньше размера значения (" + std::to_string(shape.width) + " байт).");

    const uint32_t N = shape.hour ? kHourRing : kDayRing;
    const uint32_t P = shape.hour ? arhives_.HourRecords : arhives_.DayRecords;
    const uint32_t R = shape.recordStride ? static_cast<uint32_t>(recordSize) : shape.width;

    BeginDecoding(shape.decoder);
    if (shape.layout2) recordSizeV2_ = recordSize;
    archiveKind_ = kind;
    paging_ = ArchivePaging{};
    paging_.base = address;
    paging_.stride = R;
    paging_.width = shape.width;
    paging_.layout2 = shape.layout2;

    if (from > P) from = P;
    // Records older than the ring holds are gone: start at the oldest still there.
    paging_.offset = static_cast<uint64_t>(R) * (P - from < N ? from % N : P % N);
    uint64_t still = count != 0 ? static_cast<uint64_t>(count) : P - from;
    const uint64_t ring = static_cast<uint64_t>(N) * R;
    if (paging_.offset + still * R > ring) {
        const uint64_t first = (ring - paging_.offset) / R;
        paging_.left = std::min<uint32_t>(N - static_cast<uint32_t>(first), P % N);
        still = first;
    }
    paging_.still = static_cast<uint32_t>(still);
    try {
        RequestChunk();
    } catch (...) {
        EndDecoding();
        throw;
    }
}

void TRurIvaQs_6x6::RequestChunk()
{
    paging_.chunk = std::min<uint32_t>(kArchiveChunk, paging_.still * paging_.width);
    if (paging_.chunk == 0) return FinishArchive();
    const auto address = static_cast<uint32_t>(paging_.base + paging_.offset);
    const auto bytes = static_cast<unsigned char>(paging_.chunk);
    // Fewer bytes than asked are taken (the rest is asked again), more never.
    Expect(Fit::AtMost, bytes);
    if (paging_.layout2)
        ReadArhiveV2(address, bytes, static_cast<unsigned char>(paging_.width));
    else
        ReadFlashLarge(address, bytes);
}

void TRurIvaQs_6x6::ReceiveArrayHourLong(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::HourLong, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayDayLong(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::DayLong, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayHourShort(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::HourShort, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayDayShort(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::DayShort, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayHourShortV2(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::HourShortV2, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayDayShortV2(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::DayShortV2, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayHourLongV2(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::HourLongV2, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayDayLongV2(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::DayLongV2, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayHourDLongV2(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::HourDLongV2, L, B);
}
void TRurIvaQs_6x6::ReceiveArrayDayDLongV2(int L, const uint8_t* B)
{
    ReceiveArchive(ArchiveKind::DayDLongV2, L, B);
}

void TRurIvaQs_6x6::ReceiveArchive(ArchiveKind kind, int Length, const uint8_t* Buffer)
{
    if (kind != archiveKind_) return;
    ArchivePaging& pg = paging_;
    // Only the values this pass still needs, and never beyond the buffer: an answer longer than
    // asked cannot overrun it.
    uint32_t n = static_cast<uint32_t>(Length) / pg.width;
    n = std::min(n, pg.still != 0 ? pg.still : pg.left);
    n = std::min(n, kArchiveCapacity - pg.received);
    StoreValues(Buffer, n);
    pg.received += n;
    if (pg.still != 0)
        pg.still -= n;
    else
        pg.left -= n;

    // An answer without a whole value is asked again; a meter that keeps answering so ends the
    // read with what has come rather than holding the line for ever.
    if (n == 0) {
        if (++pg.empty >= kMaxEmptyAnswers) return FinishArchive();
    } else {
        pg.empty = 0;
    }

    if (pg.still != 0) {
        ShowProgress(pg.still);
        // By the values taken, so that a ragged answer cannot shift the next read off a value.
        pg.offset += static_cast<uint64_t>(n) * pg.stride;
        return RequestChunk();
    }
    if (pg.left == 0) return FinishArchive();
    pg.offset = 0;
    ShowProgress(pg.left);
    pg.still = pg.left;
    pg.left = 0;
    RequestChunk();
}

void TRurIvaQs_6x6::StoreValues(const uint8_t* Buffer, uint32_t n)
{
    const uint32_t at = paging_.received;
    switch (paging_.width) {
        case 2:
            for (uint32_t i = 0; i < n; ++i) archiveShort_[at + i] = static_cast<int16_t>(GetU16(Buffer + 2 * i));
            break;
        case 4:
            for (uint32_t i = 0; i < n; ++i) archiveLong_[at + i] = static_cast<int32_t>(GetU32(Buffer + 4 * i));
            break;
        default:
            for (uint32_t i = 0; i < n; ++i) archiveDLong_[at + i] = static_cast<int64_t>(GetU64(Buffer + 8 * i));
            break;
    }
}

void TRurIvaQs_6x6::FinishArchive()
{
    // The event comes before the caller's handler is put back. Should its handler start another
    // decoding request of ours, that request keeps the slot.
    const uint64_t generation = generation_;
    const int n = static_cast<int>(paging_.received);
    switch (archiveKind_) {
        case ArchiveKind::HourLong:
            OnArhivesHourLong(n, archiveLong_);
            break;
        case ArchiveKind::DayLong:
            OnArhivesDayLong(n, archiveLong_);
            break;
        case ArchiveKind::HourShort:
            OnArhivesHourShort(n, archiveShort_);
            break;
        case ArchiveKind::DayShort:
            OnArhivesDayShort(n, archiveShort_);
            break;
        case ArchiveKind::HourShortV2:
            OnArhivesV2HourShort(n, archiveShort_);
            break;
        case ArchiveKind::DayShortV2:
            OnArhivesV2DayShort(n, archiveShort_);
            break;
        case ArchiveKind::HourLongV2:
            OnArhivesV2HourLong(n, archiveLong_);
            break;
        case ArchiveKind::DayLongV2:
            OnArhivesV2DayLong(n, archiveLong_);
            break;
        case ArchiveKind::HourDLongV2:
            OnArhivesV2HourDLong(n, archiveDLong_);
            break;
        case ArchiveKind::DayDLongV2:
            OnArhivesV2DayDLong(n, archiveDLong_);
            break;
    }
    if (generation == generation_) EndDecoding();
}

void TRurIvaQs_6x6::ShowProgress(uint32_t records)
{
    if (progress_) progress_(std::to_string(records));
}

}  // namespace rv
