// The write of changed KFS coefficients for the KFS window: the correction-mode check, the floats and texts of the
// sensor records, a save per channel, one event journal record per coefficient with its head, and the read-back of
// all of it before the final message. The KFS window owns one over its connection.
//
// Threading: loop thread only. An exception that escapes a handler goes to the window (IHost::Escaped).
#pragma once

#include "app/kfs/Form1View.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace rv {

class IPrompter;
class TMeterConnection;
struct SDeviceFlagsDWord;
struct SHead;
struct SIDDevice;
struct SPointerRAM;

class TKfsWrite {
public:
    static constexpr int kJournalLimit = 8;  // journals 0..7: module numbers 1..8
    static constexpr uint8_t kKfsEventCode = 0x90;

    // What the write needs of its window.
    class IHost {
    public:
        virtual TForm1Stage Stage() const = 0;
        virtual void SetStage(TForm1Stage stage) = 0;
        virtual void SetStatus(const std::string& text) = 0;
        // The text of coefficient field k as the technician left it.
        virtual std::string FieldText(int k) const = 0;
        // The chosen sensor as its dialog named it, for the confirmation.
        virtual std::string SensorCaption() const = 0;
        // The write ended: Result() and Message() say how.
        virtual void WriteEnded() = 0;
        virtual void Escaped(std::exception_ptr error) = 0;

    protected:
        ~IHost() = default;
    };

    // All are the window's and outlive the write; fields are the window's, which the write reads and keeps.
    TKfsWrite(TMeterConnection& connection, IPrompter& prompter, SForm1Fields& fields, IHost& host);
    ~TKfsWrite();
    TKfsWrite(const TKfsWrite&) = delete;
    TKfsWrite& operator=(const TKfsWrite&) = delete;

    // "Записать" for the shown sensor, whose write takes count coefficients. Before anything is sent: throws
    // EConversionError for a field that holds no coefficient the meter can take (CheckKfsValue), asks the
    // technician about each unusual one, then once to confirm the write with the sensor and every old and new
    // value; a write not confirmed, or refused for its module, ends at once.
    void Start(int count);
    bool UnderWay() const;
    // The confirmation of the write is being asked.
    bool Confirming() const { return confirming_; }
    // A write under way ends as abandoned (the connection was closed or opened again), with why as its message.
    void Abandon(const std::string& why);
    // A write under way ends as failed: an exception escaped one of its steps.
    void Interrupt(const std::string& what);
    // Forgets how the last write ended (a new connection).
    void Reset();
    TKfsWriteResult Result() const { return result_; }
    // The final message of a write that was done, or the error of one that failed.
    const std::string& Message() const { return message_; }

private:
    // A block the write has put into the meter's flash, to be read back.
    struct SWrittenBlock {
        uint32_t Address = 0;
        std::vector<uint8_t> Bytes;
        std::string Name;  // for the technician: what it holds
        enum Kind { Float, Text, Record, Head } Type = Float;
    };

    bool CheckFieldsAndPlan();
    void WriteCheckAnswer(const SIDDevice* IDDevice);
    void StartWrites();
    void WriteFloat(int i);
    void WriteText(int i);
    void WriteBlock(const SWrittenBlock& block);
    void WriteAnswer(short Length, unsigned char* Buffer);
    // Journal record chain: pointer table, device flag words, head, record, head.
    void StartJournalRecord();
    void Net_6x6PointerRAM(const SPointerRAM* PointerRAM);
    void Net_6x6DeviceFDW(const SDeviceFlagsDWord* DeviceFDW);
    void Net_6x6EditH1(const SHead* H1);
    void WriteJournalRecord(uint16_t head);
    void StartReadBack();
    void ReadNextBlock();
    void ReadBackAnswer(short Length, unsigned char* Buffer);
    void WriteDone();
    // Ends the write with an error shown to the technician; OldKfs stays.
    void WriteFailed(const std::string& message, const std::string& status);
    void EndWrite(TKfsWriteResult result, const std::string& message);
    // An acknowledge other than "done" ends the write; true when the step may go on.
    bool Acknowledged(short Length, const unsigned char* Buffer, const std::string& what);
    bool Layout2() const { return f_.SoftwareVersion >= 200; }
    std::string CoefficientName(int i) const;
    // " КFS1 с 1,0021000 на 1,0100000", or " КFS1 1,0043000 без изменений" when both are the same.
    std::string ChangeLine(int i, float oldValue, float newValue) const;
    // Asks whether to write these values; false when the write ended (not confirmed, or the page moved on).
    bool Confirmed(const std::array<float, 3>& newKfs);
    std::string FinalMessage() const;
    std::string Difference(const SWrittenBlock& block, const unsigned char* read, short length) const;
    template <class F>
    void Guarded(F&& body);

    TMeterConnection& connection_;
    IPrompter& prompter_;
    SForm1Fields& f_;
    IHost& host_;
    int count_ = 1;
    std::array<std::string, 3> texts_;     // the 10-byte fields as they go to the meter
    std::vector<SWrittenBlock> written_;   // every write sent, in order
    std::vector<SWrittenBlock> readBack_;  // what the flash must hold now: the last write at each place
    size_t readBackIndex_ = 0;
    std::vector<std::string> differences_;
    TKfsWriteResult result_ = wrNone;
    std::string message_;
    bool confirming_ = false;
};

}  // namespace rv
