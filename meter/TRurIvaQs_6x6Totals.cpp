// Totals, error journals and counters: module sums from RAM, all sums from flash, the stop-time
// block, the error-journal heads and blocks of both layouts, and the clearing writes.
//
// Error journal region (entry 173), offsets from its start:
//   layout 1: 0 heads (8 x i16) | 16 + 128a block a (16 x 8-byte records)
//             | 1040 + 12a heads of group a (6 x i16) | 1136 + 768a + 128b block b of group a
//   layout 2: 0 heads (8 x i16) | 16 + 160a block a (16 x 10-byte records)
//             | 1296 + 10a heads of group a (5 x i16) | 1376 + 800a + 160b block b of group a
#include "TRurIvaQs_6x6.h"

#include <algorithm>

#include "meter/AnswerCopy.h"

namespace rv {

using meter_detail::CopyAnswer;
using meter_detail::DecodeRecords;
using meter_detail::DecodeWholeRecords;

namespace {

constexpr unsigned char kModuleSumFirst = 160;  // the rest, 88 bytes, follows in a second read
constexpr unsigned char kSumChunk = 100;
constexpr unsigned char kHeadsSize = 16;
constexpr unsigned char kGroupHeadsSize = 12;
constexpr int kGroupHeadBlocks = 33;  // ClearHead zeroes 33 blocks of 12 bytes from offset 1040
constexpr int8_t kClearDone = -1;

uint32_t ErrorJournal(uint32_t offset)
{
    return FlashAddress(flash::kErrorJournals) + offset;
}
uint32_t Block1(int a)
{
    return ErrorJournal(16u + 128u * static_cast<uint32_t>(a));
}
uint32_t Block1V2(int a)
{
    return ErrorJournal(16u + 160u * static_cast<uint32_t>(a));
}
uint32_t GroupHeads(int n)
{
    return ErrorJournal(1040u + 12u * static_cast<uint32_t>(n));
}
uint32_t GroupHeadsV2(int n)
{
    return ErrorJournal(1296u + 10u * static_cast<uint32_t>(n));
}
uint32_t GroupBlock(int a, int b)
{
    return ErrorJournal(1136u + 768u * static_cast<uint32_t>(a) + 128u * static_cast<uint32_t>(b));
}
uint32_t GroupBlockV2(int a, int b)
{
    return ErrorJournal(1376u + 800u * static_cast<uint32_t>(a) + 160u * static_cast<uint32_t>(b));
}

}  // namespace

// --- Sums

void TRurIvaQs_6x6::GetModuleSumHour()
{
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveModuleSumHour,
                  [this] { ReadRAMExactly(RamWord(SPointerRAM::kModuleSums), kModuleSumFirst); });
}

void TRurIvaQs_6x6::ReceiveModuleSumHour(int Length, const uint8_t* Buffer)
{
    constexpr size_t kRest = UModuleSumHoure::kSize - kModuleSumFirst;
    if (step_ == 0) {
        step_ = 1;
        CopyAnswer(moduleSumHoure_.Bytes, kModuleSumFirst, Buffer, Length);
        // RAM addresses are 16 bits: the second part may wrap to the bottom of RAM.
        ReadRAMExactly(static_cast<unsigned short>(RamWord(SPointerRAM::kModuleSums) + kModuleSumFirst),
                       static_cast<unsigned char>(kRest));
    } else if (step_ == 1) {
        step_ = 2;
        CopyAnswer(moduleSumHoure_.Bytes + kModuleSumFirst, kRest, Buffer, Length);
        EndDecoding();
        OnModuleSumHoure(&moduleSumHoure_);
    }
}

void TRurIvaQs_6x6::V2GetAllSumm()
{
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveV2AllSumm,
                  [this] { ReadRAMExactly(RamWord(SPointerRAM::kModuleSums), kSumChunk); });
}

void TRurIvaQs_6x6::ReceiveV2AllSumm(int Length, const uint8_t* Buffer)
{
    constexpr int kSteps = 3;  // 100, 100 and 48 bytes
    if (step_ < 0 || step_ >= kSteps) return;
    const size_t at = static_cast<size_t>(step_) * kSumChunk;
    const size_t size = std::min<size_t>(kSumChunk, SModuleSumALLM::kSize - at);
    CopyAnswer(moduleSumAll_.Bytes + at, size, Buffer, Length);
    if (++step_ < kSteps) {
        const size_t next = static_cast<size_t>(step_) * kSumChunk;
        ReadRAMExactly(static_cast<unsigned short>(RamWord(SPointerRAM::kModuleSums) + next),
                       static_cast<unsigned char>(std::min<size_t>(kSumChunk, SModuleSumALLM::kSize - next)));
        return;
    }
    EndDecoding();
    OnV2AllSumm(&moduleSumAll_);
}

void TRurIvaQs_6x6::GetFAllSumm()
{
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveFAllSumm,
                  [this] { ReadFlashExactly(FlashAddress(flash::kAllSums), kSumChunk); });
}

void TRurIvaQs_6x6::ReceiveFAllSumm(int Length, const uint8_t* Buffer)
{
    constexpr int kSteps = 6;  // five of 100 bytes, one of 60
    if (step_ < 0 || step_ >= kSteps) return;
    const size_t at = static_cast<size_t>(step_) * kSumChunk;
    CopyAnswer(allSumm_.Bytes + at, std::min<size_t>(kSumChunk, SAllSumm::kSize - at), Buffer, Length);
    if (++step_ < kSteps) {
        const size_t next = static_cast<size_t>(step_) * kSumChunk;
        ReadFlashExactly(FlashAddress(flash::kAllSums) + static_cast<uint32_t>(next),
                         static_cast<unsigned char>(std::min<size_t>(kSumChunk, SAllSumm::kSize - next)));
        return;
    }
    EndDecoding();
    OnFAllSumm(&allSumm_);
}

void TRurIvaQs_6x6::GetStopTimeHour()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveStopTimeHour, [this] {
        ReadRAMExactly(RamWord(SPointerRAM::kStopTime), static_cast<unsigned char>(kStopTimeSize));
    });
}

void TRurIvaQs_6x6::ReceiveStopTimeHour(int Length, const uint8_t* Buffer)
{
    CopyAnswer(stopTime_, kStopTimeSize, Buffer, Length);
    EndDecoding();
    OnStopTimeHour(stopTime_);
}

// --- Error journal heads

void TRurIvaQs_6x6::GetErrorH1()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveErrorH1, [this] { ReadFlashExactly(ErrorJournal(0), kHeadsSize); });
}

void TRurIvaQs_6x6::ReceiveErrorH1(int Length, const uint8_t* Buffer)
{
    DecodeRecords(errHeads_, kJournals, Buffer, Length);
    EndDecoding();
    OnErrorH1(errHeads_);
}

void TRurIvaQs_6x6::GetErrorH1V2()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveErrorH1V2, [this] { ReadFlashExactly(ErrorJournal(0), kHeadsSize); });
}

void TRurIvaQs_6x6::ReceiveErrorH1V2(int Length, const uint8_t* Buffer)
{
    DecodeRecords(errHeadsV2_, kJournals, Buffer, Length);
    EndDecoding();
    OnErrorH1V2(errHeadsV2_);
}

void TRurIvaQs_6x6::GetErrorH6(int n)
{
    CheckIndex("GetErrorH6", "номер группы", n, kJournals);
    journal_ = n;
    StartDecoding(&TRurIvaQs_6x6::ReceiveErrorH6,
                  [this, n] { ReadFlashExactly(GroupHeads(n), kGroupBlocks * SHead::kSize); });
}

void TRurIvaQs_6x6::ReceiveErrorH6(int Length, const uint8_t* Buffer)
{
    DecodeRecords(errGroupHeads_[journal_], kGroupBlocks, Buffer, Length);
    EndDecoding();
    OnErrorH6(errGroupHeads_[journal_]);
}

void TRurIvaQs_6x6::GetErrorH6V2(int n)
{
    CheckIndex("GetErrorH6V2", "номер группы", n, kJournals);
    journal_ = n;
    StartDecoding(&TRurIvaQs_6x6::ReceiveErrorH6V2,
                  [this, n] { ReadFlashExactly(GroupHeadsV2(n), kGroupBlocksV2 * SHead::kSize); });
}

void TRurIvaQs_6x6::ReceiveErrorH6V2(int Length, const uint8_t* Buffer)
{
    DecodeRecords(errGroupHeadsV2_[journal_], kGroupBlocksV2, Buffer, Length);
    EndDecoding();
    OnErrorH6V2(errGroupHeadsV2_[journal_]);
}

// --- Error journal blocks

void TRurIvaQs_6x6::GetErr1(int a)
{
    CheckIndex("GetErr1", "номер блока", a, kJournals);
    block_ = a;
    StartDecoding(&TRurIvaQs_6x6::ReceiveErr1,
                  [this, a] { ReadFlashExactly(Block1(a), kPageRecords * SErrorRecord::kSize); });
}

void TRurIvaQs_6x6::ReceiveErr1(int Length, const uint8_t* Buffer)
{
    DecodeWholeRecords(errBlocks_[block_], kPageRecords, Buffer, Length);
    EndDecoding();
    OnError1(errBlocks_[block_]);
}

void TRurIvaQs_6x6::GetErr1V2(int a)
{
    CheckIndex("GetErr1V2", "номер блока", a, kJournals);
    block_ = a;
    StartDecoding(&TRurIvaQs_6x6::ReceiveErr1V2,
                  [this, a] { ReadFlashExactly(Block1V2(a), kPageRecords * SErrorRecordV2::kSize); });
}

void TRurIvaQs_6x6::ReceiveErr1V2(int Length, const uint8_t* Buffer)
{
    DecodeWholeRecords(errBlocksV2_[block_], kPageRecords, Buffer, Length);
    EndDecoding();
    OnError1V2(errBlocksV2_[block_]);
}

void TRurIvaQs_6x6::GetErr6(int a, int b)
{
    CheckIndex("GetErr6", "номер группы", a, kJournals);
    CheckIndex("GetErr6", "номер блока", b, kGroupBlocks);
    journal_ = a;
    block_ = b;
    StartDecoding(&TRurIvaQs_6x6::ReceiveErr6,
                  [this, a, b] { ReadFlashExactly(GroupBlock(a, b), kPageRecords * SErrorRecord::kSize); });
}

void TRurIvaQs_6x6::ReceiveErr6(int Length, const uint8_t* Buffer)
{
    DecodeWholeRecords(errGroupBlocks_[journal_][block_], kPageRecords, Buffer, Length);
    EndDecoding();
    OnError6(errGroupBlocks_[journal_][block_]);
}

void TRurIvaQs_6x6::GetErr6V2(int a, int b)
{
    CheckIndex("GetErr6V2", "номер группы", a, kJournals);
    CheckIndex("GetErr6V2", "номер блока", b, kGroupBlocksV2);
    journal_ = a;
    block_ = b;
    StartDecoding(&TRurIvaQs_6x6::ReceiveErr6V2,
                  [this, a, b] { ReadFlashExactly(GroupBlockV2(a, b), kPageRecords * SErrorRecordV2::kSize); });
}

void TRurIvaQs_6x6::ReceiveErr6V2(int Length, const uint8_t* Buffer)
{
    DecodeWholeRecords(errGroupBlocksV2_[journal_][block_], kPageRecords, Buffer, Length);
    EndDecoding();
    OnError6V2(errGroupBlocksV2_[journal_][block_]);
}

// --- Clearing: zero-buffer writes, each sent on the acknowledge of the one before. The
// acknowledge bytes are not judged.

void TRurIvaQs_6x6::ClearAllSumm()
{
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveClearAllSumm, [this] { WriteZeros(FlashAddress(flash::kAllSums), kSumChunk); });
}

void TRurIvaQs_6x6::ReceiveClearAllSumm(int, const uint8_t*)
{
    constexpr int kWrites = 6;  // five of 100 bytes, one of 60: 560 bytes
    if (++step_ < kWrites) {
        const size_t at = static_cast<size_t>(step_) * kSumChunk;
        WriteZeros(FlashAddress(flash::kAllSums) + static_cast<uint32_t>(at),
                   static_cast<unsigned char>(std::min<size_t>(kSumChunk, SAllSumm::kSize - at)));
        return;
    }
    if (step_ != kWrites) return;
    EndDecoding();
    OnClearAllSumm(kClearDone);
}

void TRurIvaQs_6x6::ClearSummDay()
{
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveClearSummDay, [this] { WriteZeros(FlashAddress(flash::kDaySums), kSumChunk); });
}

void TRurIvaQs_6x6::ReceiveClearSummDay(int, const uint8_t*)
{
    constexpr int kWrites = 4;  // three of 100 bytes, one of 28: 328 bytes
    constexpr size_t kDaySumsSize = 328;
    if (++step_ < kWrites) {
        const size_t at = static_cast<size_t>(step_) * kSumChunk;
        WriteZeros(FlashAddress(flash::kDaySums) + static_cast<uint32_t>(at),
                   static_cast<unsigned char>(std::min<size_t>(kSumChunk, kDaySumsSize - at)));
        return;
    }
    if (step_ != kWrites) return;
    EndDecoding();
    OnClearSummDay(kClearDone);
}

// The first-level error heads, the 33 blocks of 12 bytes from offset 1040 of the error journal
// region, then the event journal heads: 35 writes.
void TRurIvaQs_6x6::ClearHead()
{
    step_ = 0;
    journal_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveClearHead, [this] { WriteZeros(ErrorJournal(0), kHeadsSize); });
}

void TRurIvaQs_6x6::ReceiveClearHead(int, const uint8_t*)
{
    if (step_ == 0) {
        step_ = 1;
        WriteZeros(GroupHeads(0), kGroupHeadsSize);
    } else if (step_ == 1) {
        if (++journal_ < kGroupHeadBlocks) {
            WriteZeros(GroupHeads(journal_), kGroupHeadsSize);
        } else {
            step_ = 2;
            WriteZeros(FlashAddress(flash::kEventJournal), kHeadsSize);
        }
    } else if (step_ == 2) {
        step_ = 3;
        EndDecoding();
        OnClearHead(0);
    }
}

}  // namespace rv
