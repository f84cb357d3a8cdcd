// The meter command set: the requests only the meter understands (RAM pointer table, last
// measurement, flags, event and error journals, measurement commands, archives, totals) and the
// decoding of their answers into records held inside the component.
//
// A decoding request saves the caller's OnReceiveExecuted handler, installs its own decoder there,
// issues base reads and writes, and puts the caller's handler back when it is done: before raising
// its event (so the event handler may start the next request at once), except for the archive
// reads, which raise first. One decoding request is under way at a time. Frame commands (the
// measurement commands, ReadArhiveV2, TestArhiveV2, GetADCPressData) leave OnReceiveExecuted alone:
// their answer goes to whatever handler is installed. Loop thread only, like the base.
//
// Answers of another length than asked: the reads of a record take only an answer of exactly the
// length they asked for. Any other one is the answer to an earlier request that came late, or a
// meter that cut it short; it is refused like an answer with a bad checksum (OnFalseCRC, then the
// request is repeated while Repetition is set), and no record changes. An archive read takes fewer
// bytes than it asked for: the whole values they hold, the rest asked again; more it refuses as
// above. After kMaxEmptyAnswers answers in a row without a whole value an archive read ends with
// the values it has, so the count in its event is then below what was asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "meter/FlashAddress.h"
#include "meter/MeterRecords.h"
#include "protocol/TRurIvaQs.h"

namespace rv {

class TRurIvaQs_6x6 : public TRurIvaQs {
public:
    using TPointerRAMEvent = Event<void(const SPointerRAM* PointerRAM)>;
    using TDeviceFDWEvent = Event<void(const SDeviceFlagsDWord* DeviceFDW)>;
    using TModuleSumHoureEvent = Event<void(const UModuleSumHoure* ModuleSumHoure)>;
    using TLastEvent = Event<void(const SLastMeasure* Last)>;
    using TFAllSummEvent = Event<void(const SAllSumm* AllSumm)>;
    using TStopTimeHourEvent = Event<void(const void* StopTimeHour)>;
    using TArhivesEvent = Event<void(const SArhives* Arhives)>;
    using TArhivesLongEvent = Event<void(int Count, const int32_t* Array)>;
    using TArhivesShortEvent = Event<void(int Count, const int16_t* Array)>;
    using TArhivesDLongEvent = Event<void(int Count, const int64_t* Array)>;
    using TDataEvent = Event<void(int8_t Data)>;
    using THeadEvent = Event<void(const SHead* H1)>;
    using TErrorEvent = Event<void(const SErrorRecord* Err1)>;
    using TErrorV2Event = Event<void(const SErrorRecordV2* Err1)>;
    using TFB6x6Event = Event<void(const S6x6FlagsByte* pFB6x6)>;
    using TEditEvent = Event<void(const SEventRecord* Edit)>;
    using TEditV2Event = Event<void(const SEventRecordV2* Edit)>;
    using TV2AllSummEvent = Event<void(const SModuleSumALLM* SummAll)>;
    // Where an archive read shows how many records it still has to read.
    using TProgressEvent = Event<void(const std::string& Text)>;

    static constexpr int kJournals = 8;          // event journals, error blocks and groups
    static constexpr int kPageRecords = 16;      // records per journal page or error block
    static constexpr int kGroupBlocks = 6;       // blocks per error group, layout 1
    static constexpr int kGroupBlocksV2 = 5;     // the same, layout 2
    static constexpr int kAnalogueWords = 16;    // the analogue pointer block
    static constexpr size_t kAnalogueSize = 64;  // blocks F and UL, handed on as one buffer
    static constexpr size_t kStopTimeSize = 16;
    static constexpr size_t kZeroBufferSize = 1000;
    static constexpr int kHourRing = 1080;
    static constexpr int kDayRing = 550;
    static constexpr int kArchiveCapacity = 2000;
    static constexpr unsigned kArchiveChunk = 160;  // bytes per archive request at most
    // Answers in a row that bring no whole value before an archive read ends with what it has.
    static constexpr int kMaxEmptyAnswers = 3;

    explicit TRurIvaQs_6x6(TComponent* owner = nullptr, Loop* loop = nullptr);
    ~TRurIvaQs_6x6() override;

    // --- The program-wide flash address table (not per component).
    static void SetFlashAddressDefault();
    static void SetFlashAddress(const SDevVexa* record);

    // --- Progress of archive reads; unassigned by default.
    void SetProgressControl(TProgressEvent control) { progress_ = std::move(control); }

    // --- Decoding requests
    // True from the start of a decoding request until the caller's handler is back in place; a
    // request given up by the engine (a time-out without repetition) stays under way.
    bool GetDecoding() const { return decoding_; }
    // Ends the decoding request under way: stops the engine (BreakTransmit) and puts the caller's
    // handler back into OnReceiveExecuted, unless the caller has installed another one meanwhile.
    // Raises nothing; does nothing when no decoding request is under way. Use it on disconnect or
    // when a request is given up. As after any BreakTransmit, an answer still on the wire reaches
    // the handler now installed unless the link is closed or the next request is sent first.
    void AbandonRequest();
    // For a caller's own OnReceiveExecuted handler that reads a record: refuses the answer it is being given
    // as one of another length than asked, the way the reads of a record here refuse it (OnFalseCRC, then the
    // request is repeated while Repetition is set). Call it from inside that handler only.
    void RefuseAnswer() { ChecksumFailure(); }

    // Requests throw EMeterError (nothing sent, nothing changed) for a journal, block or group
    // index outside its range, and EProtocolError when there is no link.

    // --- Meter data reads
    void GetFPointerRAM(int ignored = 0);
    void GetDeviceFDW();
    void GetLast();
    void GetFB_6x6();
    void GetEditH1(int n);  // n: journal 0..7
    void GetEditH1V2(int n);
    void GetEdit(int n);  // two reads of half a page
    void GetEditV2(int n);
    // Four requests, then the handler installed before the call gets (64, blocks F and UL).
    void GetADCData();
    // Frame command 0x86; the installed handler gets the answer's payload.
    void GetADCPressData();

    // --- Measurement control: frame commands answered by an acknowledge, except AnalogRead
    // (a framed answer); the installed handler gets it.
    void SaveData(unsigned char channel);
    void AnalogStart(unsigned char value);
    void AnalogRead(unsigned short value, unsigned char count);
    void AnalogEnd();
    void StartFlowCalculation(unsigned char channelMask);
    void StartTermCalculation();
    void ClearSetChecEditCounter();

    // --- Archives. address: slot 0 of the ring; from: a running record number; count: records
    // wanted, 0 for all from `from` to the newest. The ring's running number comes from the last
    // GetFArhives. Layout-2 reads take the record size in flash (at least the value width, else
    // EMeterError); a negative count is refused the same way. The event comes before the caller's
    // handler is put back; a handler of it may start the next decoding request, which then keeps
    // the slot and the caller's handler saved.
    void GetFArhives();
    void GetArrayHourLong(unsigned int address, unsigned int from, int count);
    void GetArrayDayLong(unsigned int address, unsigned int from, int count);
    void GetArrayHourShort(unsigned int address, unsigned int from, int count);
    void GetArrayDayShort(unsigned int address, unsigned int from, int count);
    void GetArrayHourShortV2(unsigned int address, unsigned int from, int count, int recordSize);
    void GetArrayDayShortV2(unsigned int address, unsigned int from, int count, int recordSize);
    void GetArrayHourLongV2(unsigned int address, unsigned int from, int count, int recordSize);
    void GetArrayDayLongV2(unsigned int address, unsigned int from, int count, int recordSize);
    void GetArrayHourDLongV2(unsigned int address, unsigned int from, int count, int recordSize);
    void GetArrayDayDLongV2(unsigned int address, unsigned int from, int count, int recordSize);
    // Frame command 0x90: bytes / width values of width bytes from successive records at address.
    void ReadArhiveV2(unsigned int address, unsigned char bytes, unsigned char width);
    // Frame command 0x91; framed answer to the installed handler.
    void TestArhiveV2(unsigned char value8, unsigned int value32, unsigned short value16);

    // --- Totals, error journals, clearing
    void GetModuleSumHour();
    void V2GetAllSumm();
    void GetFAllSumm();
    void GetStopTimeHour();
    void GetErrorH1();
    void GetErrorH1V2();
    void GetErrorH6(int n);  // n: group 0..7
    void GetErrorH6V2(int n);
    void GetErr1(int a);  // a: block 0..7
    void GetErr1V2(int a);
    void GetErr6(int a, int b);    // a: group 0..7, b: block 0..5
    void GetErr6V2(int a, int b);  // a: group 0..7, b: block 0..4
    void ClearAllSumm();
    void ClearSummDay();
    void ClearHead();

    // --- Records, as last read (pointers handed to events point here).
    const SPointerRAM& GetPointerRAM() const { return pointerRAM_; }
    const SDeviceFlagsDWord& GetDeviceFlags() const { return deviceFDW_; }
    const SLastMeasure& GetLastMeasure() const { return last_; }
    const S6x6FlagsByte& GetFlags6x6() const { return fb6x6_; }
    const SHead& GetEditHead(int n) const { return editHeads_[Index(n, kJournals)]; }
    const SHead& GetEditHeadV2(int n) const { return editHeadsV2_[Index(n, kJournals)]; }
    const SEventRecord* GetEditPage(int n) const { return editPages_[Index(n, kJournals)]; }
    const SEventRecordV2* GetEditPageV2(int n) const { return editPagesV2_[Index(n, kJournals)]; }
    const uint16_t* GetAnaloguePointers() const { return analogue_; }
    const uint8_t* GetAnalogueData() const { return adc_; }  // kAnalogueSize bytes: F, then UL
    const SArhives& GetArhives() const { return arhives_; }
    const int32_t* GetArchiveLong() const { return archiveLong_; }
    const int16_t* GetArchiveShort() const { return archiveShort_; }
    const int64_t* GetArchiveDLong() const { return archiveDLong_; }
    int GetRecordSizeV2() const { return recordSizeV2_; }
    const UModuleSumHoure& GetModuleSumHoure() const { return moduleSumHoure_; }
    const SModuleSumALLM& GetModuleSumALLM() const { return moduleSumAll_; }
    const SAllSumm& GetAllSumm() const { return allSumm_; }
    const uint8_t* GetStopTime() const { return stopTime_; }
    const SHead* GetErrorHeads() const { return errHeads_; }
    const SHead* GetErrorHeadsV2() const { return errHeadsV2_; }
    const SHead* GetErrorGroupHeads(int n) const { return errGroupHeads_[Index(n, kJournals)]; }
    const SHead* GetErrorGroupHeadsV2(int n) const { return errGroupHeadsV2_[Index(n, kJournals)]; }
    const SErrorRecord* GetErrorBlock(int a) const { return errBlocks_[Index(a, kJournals)]; }
    const SErrorRecordV2* GetErrorBlockV2(int a) const { return errBlocksV2_[Index(a, kJournals)]; }
    const SErrorRecord* GetErrorGroupBlock(int a, int b) const
    {
        return errGroupBlocks_[Index(a, kJournals)][Index(b, kGroupBlocks)];
    }
    const SErrorRecordV2* GetErrorGroupBlockV2(int a, int b) const
    {
        return errGroupBlocksV2_[Index(a, kJournals)][Index(b, kGroupBlocksV2)];
    }
    const uint8_t* GetZeroBuffer() const { return zero_; }
    int GetStepCounter() const { return step_; }

    // --- Events, in the order the component publishes them.
    TPointerRAMEvent OnPointerRAM;
    TDeviceFDWEvent OnDeviceFDW;
    TModuleSumHoureEvent OnModuleSumHoure;
    TLastEvent OnLast;
    TFAllSummEvent OnFAllSumm;
    TStopTimeHourEvent OnStopTimeHour;
    TArhivesEvent OnArhives;
    TArhivesLongEvent OnArhivesHourLong;
    TArhivesLongEvent OnArhivesDayLong;
    TArhivesShortEvent OnArhivesHourShort;
    TArhivesShortEvent OnArhivesDayShort;
    TDataEvent OnClearAllSumm;
    TDataEvent OnClearSummDay;
    THeadEvent OnErrorH1;
    THeadEvent OnErrorH6;
    THeadEvent OnErrorH1V2;
    THeadEvent OnErrorH6V2;
    TErrorEvent OnError1;
    TErrorEvent OnError6;
    TErrorV2Event OnError1V2;
    TErrorV2Event OnError6V2;
    TDataEvent OnClearHead;
    TFB6x6Event OnFB6x6;
    TDataEvent OnClearSetChecEditCounter;
    THeadEvent OnEditH1;
    THeadEvent OnEditH1V2;
    TEditEvent OnReceiveEdit;
    TEditV2Event OnReceiveEditV2;
    TArhivesShortEvent OnArhivesV2HourShort;
    TV2AllSummEvent OnV2AllSumm;
    TArhivesLongEvent OnArhivesV2HourLong;
    TArhivesLongEvent OnArhivesV2DayLong;
    TArhivesDLongEvent OnArhivesV2HourDLong;
    TArhivesDLongEvent OnArhivesV2DayDLong;
    TArhivesShortEvent OnArhivesV2DayShort;

private:
    // A decoder gets the answer's payload: Length bytes (0 or more) at Buffer.
    using Decoder = void (TRurIvaQs_6x6::*)(int Length, const uint8_t* Buffer);

    // What this component installs as OnReceiveExecuted: one pointer, so it never allocates, and
    // of a type of its own, so the component can tell whether the slot still holds it.
    struct DecoderThunk {
        TRurIvaQs_6x6* self;
        void operator()(short Length, unsigned char* Buffer) const { self->Dispatch(Length, Buffer); }
    };

    enum class ArchiveKind {
        HourLong,
        DayLong,
        HourShort,
        DayShort,
        HourShortV2,
        DayShortV2,
        HourLongV2,
        DayLongV2,
        HourDLongV2,
        DayDLongV2,
    };
    // The paging state of an archive read.
    struct ArchivePaging {
        uint32_t chunk = 0;     // bytes asked by the request under way
        uint32_t received = 0;  // values stored in the buffer
        uint32_t base = 0;      // flash address of slot 0
        uint64_t offset = 0;    // byte offset from base of the request under way
        uint32_t still = 0;     // records still to read in this pass
        uint32_t left = 0;      // records left for the wrapped pass
        uint32_t stride = 0;    // bytes from one record to the next in flash
        uint32_t width = 0;     // bytes per value
        bool layout2 = false;   // read through ReadArhiveV2 rather than the flash directly
        int empty = 0;          // answers in a row without a whole value
    };
    struct ArchiveShape {
        bool hour;          // the hour ring (else the day ring)
        uint32_t width;     // bytes per value
        bool layout2;       // read through ReadArhiveV2
        bool recordStride;  // records are the caller's record size apart (else the value width)
        Decoder decoder;
    };
    static ArchiveShape ShapeOf(ArchiveKind kind);

    // Throws std::out_of_range for the record getters' indexes.
    static int Index(int i, int count);
    // Refuses an index outside 0..count-1 with a message naming the operation.
    static void CheckIndex(const char* operation, const char* what, int value, int count);

    // What the answer under way may be: of exactly the length asked (the reads of a record), of at
    // most that length (an archive chunk), or anything (an acknowledge).
    enum class Fit { Any, Exactly, AtMost };
    void Expect(Fit fit, int length = 0)
    {
        fit_ = fit;
        fitLength_ = length;
    }
    bool Fits(int Length) const;
    void ReadFlashExactly(uint32_t address, unsigned char n);
    void ReadRAMExactly(uint16_t address, unsigned char n);
    // Writes n bytes of the zero buffer; answered by an acknowledge.
    void WriteZeros(uint32_t address, unsigned char n);

    void Dispatch(short Length, unsigned char* Buffer);
    bool SlotHoldsDecoder() const;
    // Starts a decoding request with decoder d. If one of ours is still under way and its decoder
    // still holds the slot, the caller's handler saved for it stays saved (it is the caller's).
    void BeginDecoding(Decoder d);
    // Puts the saved handler back; the request is over. Does nothing when none is under way.
    void EndDecoding();
    // Begins, then runs the first request; if that throws, the caller's handler is put back.
    template <class Request>
    void StartDecoding(Decoder d, Request&& request);
    void Install(Decoder d) { decoder_ = d; }
    uint16_t RamWord(int k) const { return pointerRAM_.Word[k]; }

    // Meter data reads
    void ReceiveRAMPointer1(int Length, const uint8_t* Buffer);
    void ReceiveDeviceFDW(int Length, const uint8_t* Buffer);
    void ReceiveLast(int Length, const uint8_t* Buffer);
    void ReceiveFB_6x6(int Length, const uint8_t* Buffer);
    void ReceiveEditH1(int Length, const uint8_t* Buffer);
    void ReceiveEditH1V2(int Length, const uint8_t* Buffer);
    void ReceiveEdit(int Length, const uint8_t* Buffer);
    void ReceiveEditV2(int Length, const uint8_t* Buffer);
    void ReceiveRAMPointer(int Length, const uint8_t* Buffer);
    void ReceiveADCStart(int Length, const uint8_t* Buffer);
    void ReceiveADCF(int Length, const uint8_t* Buffer);
    void ReceiveADCUL(int Length, const uint8_t* Buffer);
    // Measurement control
    void ReceiveClearSetChecEditCounter(int Length, const uint8_t* Buffer);
    // Archives
    void ReceiveFArhives(int Length, const uint8_t* Buffer);
    void ReceiveArrayHourLong(int Length, const uint8_t* Buffer);
    void ReceiveArrayDayLong(int Length, const uint8_t* Buffer);
    void ReceiveArrayHourShort(int Length, const uint8_t* Buffer);
    void ReceiveArrayDayShort(int Length, const uint8_t* Buffer);
    void ReceiveArrayHourShortV2(int Length, const uint8_t* Buffer);
    void ReceiveArrayDayShortV2(int Length, const uint8_t* Buffer);
    void ReceiveArrayHourLongV2(int Length, const uint8_t* Buffer);
    void ReceiveArrayDayLongV2(int Length, const uint8_t* Buffer);
    void ReceiveArrayHourDLongV2(int Length, const uint8_t* Buffer);
    void ReceiveArrayDayDLongV2(int Length, const uint8_t* Buffer);
    void StartArchive(const char* operation, ArchiveKind kind, unsigned int address, unsigned int from, int count,
                      int recordSize);
    void RequestChunk();
    void ReceiveArchive(ArchiveKind kind, int Length, const uint8_t* Buffer);
    void StoreValues(const uint8_t* Buffer, uint32_t n);
    void FinishArchive();
    void ShowProgress(uint32_t records);
    // Totals and errors
    void ReceiveModuleSumHour(int Length, const uint8_t* Buffer);
    void ReceiveV2AllSumm(int Length, const uint8_t* Buffer);
    void ReceiveFAllSumm(int Length, const uint8_t* Buffer);
    void ReceiveStopTimeHour(int Length, const uint8_t* Buffer);
    void ReceiveErrorH1(int Length, const uint8_t* Buffer);
    void ReceiveErrorH1V2(int Length, const uint8_t* Buffer);
    void ReceiveErrorH6(int Length, const uint8_t* Buffer);
    void ReceiveErrorH6V2(int Length, const uint8_t* Buffer);
    void ReceiveErr1(int Length, const uint8_t* Buffer);
    void ReceiveErr1V2(int Length, const uint8_t* Buffer);
    void ReceiveErr6(int Length, const uint8_t* Buffer);
    void ReceiveErr6V2(int Length, const uint8_t* Buffer);
    void ReceiveClearAllSumm(int Length, const uint8_t* Buffer);
    void ReceiveClearSummDay(int Length, const uint8_t* Buffer);
    void ReceiveClearHead(int Length, const uint8_t* Buffer);

    // Members in the order the meter's component keeps them.
    int recordSizeV2_ = 0;
    SModuleSumALLM moduleSumAll_;
    SHead editHeads_[kJournals];
    SEventRecord editPages_[kJournals][kPageRecords];
    SHead editHeadsV2_[kJournals];
    SEventRecordV2 editPagesV2_[kJournals][kPageRecords];
    int step_ = 0;
    int journal_ = 0;
    int block_ = 0;
    ArchivePaging paging_;
    ArchiveKind archiveKind_ = ArchiveKind::HourLong;
    SPointerRAM pointerRAM_;
    UModuleSumHoure moduleSumHoure_;
    SLastMeasure last_;
    SAllSumm allSumm_;
    S6x6FlagsByte fb6x6_;
    uint8_t stopTime_[kStopTimeSize] = {};
    SDeviceFlagsDWord deviceFDW_;
    int32_t archiveLong_[kArchiveCapacity] = {};
    int64_t archiveDLong_[kArchiveCapacity] = {};
    int16_t archiveShort_[kArchiveCapacity] = {};
    SHead errHeads_[kJournals];
    SErrorRecord errBlocks_[kJournals][kPageRecords];
    SHead errGroupHeads_[kJournals][kGroupBlocks];
    SErrorRecord errGroupBlocks_[kJournals][kGroupBlocks][kPageRecords];
    SHead errHeadsV2_[kJournals];
    SErrorRecordV2 errBlocksV2_[kJournals][kPageRecords];
    SHead errGroupHeadsV2_[kJournals][kGroupBlocksV2];
    SErrorRecordV2 errGroupBlocksV2_[kJournals][kGroupBlocksV2][kPageRecords];
    uint8_t zero_[kZeroBufferSize];
    TReceiveExecutedEvent saved_;
    SArhives arhives_;
    uint16_t analogue_[kAnalogueWords] = {};
    TProgressEvent progress_;
    uint8_t adc_[kAnalogueSize] = {};  // block F (8 x 32-bit), then block UL (8 x 32-bit)

    Decoder decoder_ = nullptr;
    Fit fit_ = Fit::Any;
    int fitLength_ = 0;
    bool decoding_ = false;
    uint64_t generation_ = 0;  // counts decoding requests begun
};

template <class Request>
void TRurIvaQs_6x6::StartDecoding(Decoder d, Request&& request)
{
    BeginDecoding(d);
    try {
        request();
    } catch (...) {
        EndDecoding();
        throw;
    }
}

}  // namespace rv
