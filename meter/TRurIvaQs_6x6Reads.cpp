// Meter data reads: the RAM pointer table, device flag words, last measurement, 6x6 flags, the
// event journal heads and pages of both layouts, and the analogue data.
#include "TRurIvaQs_6x6.h"

#include "meter/AnswerCopy.h"
#include "protocol/Frame.h"

namespace rv {

using meter_detail::CopyAnswer;
using meter_detail::DecodeAnswer;
using meter_detail::DecodeWholeRecords;

namespace {

constexpr unsigned char kPointerTableRead = 38;  // the meter's table is read whole, 34 bytes kept
constexpr unsigned char kAnaloguePointerRead = 34;
constexpr unsigned char kFlagsRead = 16;  // the meter keeps 16 flag bytes, 14 are the record
constexpr unsigned char kAnalogueBlock = 32;
constexpr int kHalfPage = 8;  // records per read of a page

// Event journal region: 8 heads of 16 bits, then 8 pages of 16 records (16 bytes in layout 1,
// 18 in layout 2).
uint32_t EditHead(int n)
{
    return FlashAddress(flash::kEventJournal) + 2u * static_cast<uint32_t>(n);
}
uint32_t EditPage(int n, uint32_t recordSize)
{
    return FlashAddress(flash::kEventJournal) + 16u + kHalfPage * 2u * recordSize * static_cast<uint32_t>(n);
}

}  // namespace

// --- RAM pointer table, flags, last measurement

void TRurIvaQs_6x6::GetFPointerRAM(int)
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveRAMPointer1,
                  [this] { ReadFlashExactly(FlashAddress(flash::kPointerTable), kPointerTableRead); });
}

void TRurIvaQs_6x6::ReceiveRAMPointer1(int Length, const uint8_t* Buffer)
{
    pointerRAM_ = DecodeAnswer<SPointerRAM>(Buffer, Length);
    EndDecoding();
    OnPointerRAM(&pointerRAM_);
}

void TRurIvaQs_6x6::GetDeviceFDW()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveDeviceFDW, [this] {
        ReadRAMExactly(RamWord(SPointerRAM::kDeviceFlags), static_cast<unsigned char>(SDeviceFlagsDWord::kSize));
    });
}

void TRurIvaQs_6x6::ReceiveDeviceFDW(int Length, const uint8_t* Buffer)
{
    deviceFDW_ = DecodeAnswer<SDeviceFlagsDWord>(Buffer, Length);
    EndDecoding();
    OnDeviceFDW(&deviceFDW_);
}

void TRurIvaQs_6x6::GetLast()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveLast, [this] {
        ReadRAMExactly(RamWord(SPointerRAM::kLastMeasure), static_cast<unsigned char>(SLastMeasure::kSize));
    });
}

void TRurIvaQs_6x6::ReceiveLast(int Length, const uint8_t* Buffer)
{
    last_ = DecodeAnswer<SLastMeasure>(Buffer, Length);
    EndDecoding();
    OnLast(&last_);
}

void TRurIvaQs_6x6::GetFB_6x6()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveFB_6x6,
                  [this] { ReadRAMExactly(RamWord(SPointerRAM::kFlags6x6), kFlagsRead); });
}

void TRurIvaQs_6x6::ReceiveFB_6x6(int Length, const uint8_t* Buffer)
{
    EndDecoding();
    fb6x6_ = DecodeAnswer<S6x6FlagsByte>(Buffer, Length);
    OnFB6x6(&fb6x6_);
}

// --- Event journal heads

void TRurIvaQs_6x6::GetEditH1(int n)
{
    CheckIndex("GetEditH1", "номер журнала", n, kJournals);
    journal_ = n;
    StartDecoding(&TRurIvaQs_6x6::ReceiveEditH1, [this, n] { ReadFlashExactly(EditHead(n), SHead::kSize); });
}

void TRurIvaQs_6x6::ReceiveEditH1(int Length, const uint8_t* Buffer)
{
    editHeads_[journal_] = DecodeAnswer<SHead>(Buffer, Length);
    EndDecoding();
    OnEditH1(&editHeads_[journal_]);
}

void TRurIvaQs_6x6::GetEditH1V2(int n)
{
    CheckIndex("GetEditH1V2", "номер журнала", n, kJournals);
    journal_ = n;
    StartDecoding(&TRurIvaQs_6x6::ReceiveEditH1V2, [this, n] { ReadFlashExactly(EditHead(n), SHead::kSize); });
}

void TRurIvaQs_6x6::ReceiveEditH1V2(int Length, const uint8_t* Buffer)
{
    editHeadsV2_[journal_] = DecodeAnswer<SHead>(Buffer, Length);
    EndDecoding();
    OnEditH1V2(&editHeadsV2_[journal_]);
}

// --- Event journal pages: two reads of eight records each

void TRurIvaQs_6x6::GetEdit(int n)
{
    CheckIndex("GetEdit", "номер журнала", n, kJournals);
    journal_ = n;
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveEdit,
                  [this, n] { ReadFlashExactly(EditPage(n, SEventRecord::kSize), kHalfPage * SEventRecord::kSize); });
}

void TRurIvaQs_6x6::ReceiveEdit(int Length, const uint8_t* Buffer)
{
    SEventRecord* page = editPages_[journal_];
    if (step_ == 0) {
        step_ = 1;
        DecodeWholeRecords(page, kHalfPage, Buffer, Length);
        ReadFlashExactly(EditPage(journal_, SEventRecord::kSize) + kHalfPage * SEventRecord::kSize,
                         kHalfPage * SEventRecord::kSize);
    } else if (step_ == 1) {
        step_ = 2;
        DecodeWholeRecords(page + kHalfPage, kHalfPage, Buffer, Length);
        EndDecoding();
        OnReceiveEdit(page);
    }
}

void TRurIvaQs_6x6::GetEditV2(int n)
{
    CheckIndex("GetEditV2", "номер журнала", n, kJournals);
    journal_ = n;
    step_ = 0;
    StartDecoding(&TRurIvaQs_6x6::ReceiveEditV2, [this, n] {
        ReadFlashExactly(EditPage(n, SEventRecordV2::kSize), kHalfPage * SEventRecordV2::kSize);
    });
}

void TRurIvaQs_6x6::ReceiveEditV2(int Length, const uint8_t* Buffer)
{
    SEventRecordV2* page = editPagesV2_[journal_];
    if (step_ == 0) {
        step_ = 1;
        DecodeWholeRecords(page, kHalfPage, Buffer, Length);
        ReadFlashExactly(EditPage(journal_, SEventRecordV2::kSize) + kHalfPage * SEventRecordV2::kSize,
                         kHalfPage * SEventRecordV2::kSize);
    } else if (step_ == 1) {
        step_ = 2;
        DecodeWholeRecords(page + kHalfPage, kHalfPage, Buffer, Length);
        EndDecoding();
        OnReceiveEditV2(page);
    }
}

// --- Analogue data: pointer block, term calculation, blocks F and UL, one call of the caller's
// handler with both blocks.

void TRurIvaQs_6x6::GetADCData()
{
    StartDecoding(&TRurIvaQs_6x6::ReceiveRAMPointer,
                  [this] { ReadFlashExactly(FlashAddress(flash::kPointerTable), kAnaloguePointerRead); });
}

void TRurIvaQs_6x6::ReceiveRAMPointer(int Length, const uint8_t* Buffer)
{
    uint8_t bytes[2 * kAnalogueWords];
    CopyAnswer(bytes, sizeof bytes, Buffer, Length);
    for (int k = 0; k < kAnalogueWords; ++k) analogue_[k] = GetU16(bytes + 2 * k);
    Install(&TRurIvaQs_6x6::ReceiveADCStart);
    Expect(Fit::Any);
    StartTermCalculation();
}

void TRurIvaQs_6x6::ReceiveADCStart(int, const uint8_t*)
{
    Install(&TRurIvaQs_6x6::ReceiveADCF);
    ReadRAMExactly(analogue_[SPointerRAM::kLastMeasure], kAnalogueBlock);
}

void TRurIvaQs_6x6::ReceiveADCF(int Length, const uint8_t* Buffer)
{
    CopyAnswer(adc_, kAnalogueBlock, Buffer, Length);
    Install(&TRurIvaQs_6x6::ReceiveADCUL);
    ReadRAMExactly(analogue_[SPointerRAM::kAnalogueUL], kAnalogueBlock);
}

void TRurIvaQs_6x6::ReceiveADCUL(int Length, const uint8_t* Buffer)
{
    CopyAnswer(adc_ + kAnalogueBlock, kAnalogueBlock, Buffer, Length);
    EndDecoding();
    OnReceiveExecuted(static_cast<short>(kAnalogueSize), adc_);
}

void TRurIvaQs_6x6::GetADCPressData()
{
    SendRequest(0x86, nullptr, 0, TAnswerKind::Framed);
}

}  // namespace rv
