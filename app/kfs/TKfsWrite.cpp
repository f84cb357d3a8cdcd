// The write of changed KFS coefficients: the correction-mode check, the floats and texts of the sensor records,
// a save per channel, one event journal record per coefficient with its head, and the read-back of all of it
// before the final message.
#include "app/kfs/TKfsWrite.h"

#include "app/kfs/KfsValue.h"
#include "app/window/IPrompter.h"
#include "app/window/MeterImages.h"
#include "app/window/ProtocolFormat.h"
#include "app/window/TMeterConnection.h"
#include "controls/Errors.h"
#include "core/Cp1251.h"
#include "meter/FlashAddress.h"
#include "meter/TRurIvaQs_6x6.h"
#include "protocol/Frame.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace rv {

namespace {

constexpr uint8_t kAckDone = 0xFF;
constexpr size_t kIdentityStatus = 12;
constexpr uint8_t kCorrectionMode = 0x02;
constexpr uint32_t kKfsText = SSensorRecord::kKfsTextAt;
constexpr uint32_t kKfs = SSensorRecord::kKfsAt;
constexpr size_t kKfsTextField = SSensorRecord::kKfsTextSize;
constexpr uint32_t kJournalPages = 16;  // the heads take the first 16 bytes of the journal region
constexpr uint32_t kPage1 = 256;
constexpr uint32_t kPage2 = 288;
constexpr uint16_t kSlotMask = 15;

// Steps of WriteAnswer.
constexpr int kStepFloats = 0;
constexpr int kStepTexts = 1;
constexpr int kStepSaves = 2;
constexpr int kStepRecord = 10;
constexpr int kStepHead = 11;

std::vector<uint8_t> FloatBytes(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::vector<uint8_t> out(4);
    PutU32(out.data(), bits);
    return out;
}

uint32_t FloatBits(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

float FloatOf(const unsigned char* p)
{
    const uint32_t bits = GetU32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The text field of a coefficient: its text (at most 9 bytes of code page 1251, checked before), a zero, zeros to
// the end of the field.
std::string KfsField(const std::string& typed)
{
    std::string bytes = ToCp1251(typed);
    bytes.resize(kKfsTextField, '\0');
    return bytes;
}

std::string HexBytes(const unsigned char* p, size_t n)
{
    std::string out;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", p[i]);
        out += (i ? " " : "") + std::string(b);
    }
    return out;
}

std::string HexByte(uint8_t v)
{
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}

uint32_t JournalBase()
{
    return FlashAddress(flash::kEventJournal);
}

}  // namespace

std::string TKfsWrite::CoefficientName(int i) const
{
    return count_ == 1 ? "КFS" : "КFS" + std::to_string(i + 1);
}

// --- Start of a write

TKfsWrite::TKfsWrite(TMeterConnection& connection, IPrompter& prompter, SForm1Fields& fields, IHost& host)
    : connection_(connection), prompter_(prompter), f_(fields), host_(host)
{
    TRurIvaQs_6x6& net = connection_.Net();
    net.OnPointerRAM = Bind(this, &TKfsWrite::Net_6x6PointerRAM);
    net.OnDeviceFDW = Bind(this, &TKfsWrite::Net_6x6DeviceFDW);
    net.OnEditH1 = Bind(this, &TKfsWrite::Net_6x6EditH1);
    net.OnEditH1V2 = Bind(this, &TKfsWrite::Net_6x6EditH1);
}

TKfsWrite::~TKfsWrite()
{
    TRurIvaQs_6x6& net = connection_.Net();
    net.OnPointerRAM = nullptr;
    net.OnDeviceFDW = nullptr;
    net.OnEditH1 = nullptr;
    net.OnEditH1V2 = nullptr;
}

template <class F>
void TKfsWrite::Guarded(F&& body)
{
    try {
        body();
    } catch (...) {
        host_.Escaped(std::current_exception());
    }
}

bool TKfsWrite::UnderWay() const
{
    const TForm1Stage stage = host_.Stage();
    return stage >= fsChecking && stage <= fsVerifying;
}

void TKfsWrite::Reset()
{
    result_ = wrNone;
    message_.clear();
}

void TKfsWrite::Abandon(const std::string& why)
{
    if (UnderWay()) EndWrite(wrAbandoned, why);
}

void TKfsWrite::Interrupt(const std::string& what)
{
    if (!UnderWay()) return;
    connection_.Net().AbandonRequest();
    connection_.Net().BreakTransmit();
    host_.SetStatus("Запись прервана.");
    EndWrite(wrFailed, "Запись прервана: " + (what.empty() ? std::string("ошибка программы.") : what));
}

void TKfsWrite::Start(int count)
{
    count_ = count;
    if (!CheckFieldsAndPlan()) return;
    result_ = wrNone;
    message_.clear();
    written_.clear();
    readBack_.clear();
    differences_.clear();
    host_.SetStage(fsChecking);
    connection_.Net().OnReceivedIDDevice = Bind(this, &TKfsWrite::WriteCheckAnswer);
    connection_.Net().GetDeviceID();
}

bool TKfsWrite::CheckFieldsAndPlan()
{
    // The journal of the sensor's module is addressed by the module number the meter reported.
    if (f_.ModuleIndex >= kJournalLimit) {
        const std::string message = "Номер модуля " + std::to_string(f_.ModuleIndex + 1) +
                                    " датчика вне журналов изменений прибора (допустимо 1.." +
                                    std::to_string(kJournalLimit) + "). Запись KFS невозможна.";
        prompter_.Message(message, "Ошибка");
        EndWrite(wrFailed, message);
        return false;
    }
    if (count_ < 1 || f_.SelectedSensor + count_ > flash::kSensorCount) return false;
    // Every field is checked before the technician is asked about any: a refused one ends the write unasked.
    std::array<std::string, 3> typed;
    std::array<SKfsValue, 3> checked;
    for (int i = 0; i < count_; ++i) {
        const size_t k = static_cast<size_t>(i);
        typed[k] = host_.FieldText(i);
        checked[k] = CheckKfsValue(typed[k]);
        if (checked[k].Verdict == kvRefused) throw EConversionError(checked[k].Message);
    }
    for (int i = 0; i < count_; ++i) {
        const size_t k = static_cast<size_t>(i);
        if (checked[k].Verdict != kvUnusual) continue;
        const bool write = prompter_.Question(UnusualKfsQuestion(typed[k]), "Внимание.");
        // The question may have outlived the coefficients it asked about.
        if (host_.Stage() != fsShowing) return false;
        if (!write) {
            EndWrite(wrDeclined, "Запись отменена: коэффициент " + typed[k] + " не подтвержден.");
            return false;
        }
    }
    std::array<float, 3> news{};
    for (int i = 0; i < 3; ++i) {
        const size_t k = static_cast<size_t>(i);
        // One not written keeps its value.
        news[k] = i < count_ ? checked[k].Value : f_.OldKfs[k];
        if (i < count_) texts_[k] = KfsField(typed[k]);
    }
    if (!Confirmed(news)) return false;
    f_.NewKfs = news;
    return true;
}

bool TKfsWrite::Confirmed(const std::array<float, 3>& newKfs)
{
    std::string text = "Записать KFS в прибор?\nДатчик: " + host_.SensorCaption();
    for (int i = 0; i < count_; ++i) {
        const size_t k = static_cast<size_t>(i);
        text += "\n" + ChangeLine(i, f_.OldKfs[k], newKfs[k]);
    }
    // Set while the question is open, however it ends.
    struct SAsking {
        bool& flag;
        ~SAsking() { flag = false; }
    } asking{confirming_};
    confirming_ = true;
    const bool write = prompter_.Question(text, "Внимание.");
    // The question may have outlived the coefficients it asked about.
    if (host_.Stage() != fsShowing) return false;
    if (!write) EndWrite(wrDeclined, "Запись отменена: не подтверждена.");
    return write;
}

void TKfsWrite::WriteCheckAnswer(const SIDDevice* IDDevice)
{
    Guarded([&] {
        if (!IDDevice || host_.Stage() != fsChecking) return;
        if (IDDevice->Raw[kIdentityStatus] & kCorrectionMode) {
            StartWrites();
            return;
        }
        const bool again = prompter_.Question("Войдите в режим <Kоррекция>", "Внимание.");
        // The question may have outlived the connection.
        if (host_.Stage() != fsChecking) return;
        if (!again) {
            EndWrite(wrCancelled, "Запись отменена: прибор не в режиме коррекции.");
            return;
        }
        connection_.Net().OnReceivedIDDevice = Bind(this, &TKfsWrite::WriteCheckAnswer);
        connection_.Net().GetDeviceID();
    });
}

void TKfsWrite::StartWrites()
{
    connection_.ResetHandlers();
    f_.WriteStep = kStepFloats;
    f_.WriteCounter = 0;
    host_.SetStage(fsWriting);
    connection_.Net().OnReceiveExecuted = Bind(this, &TKfsWrite::WriteAnswer);
    WriteFloat(0);
    host_.SetStatus("Запись измененной информации.");
}

void TKfsWrite::WriteBlock(const SWrittenBlock& block)
{
    written_.push_back(block);
    connection_.Net().WriteFlashLarge(block.Address, static_cast<unsigned char>(block.Bytes.size()),
                                      block.Bytes.data());
}

void TKfsWrite::WriteFloat(int i)
{
    const size_t k = static_cast<size_t>(i);
    WriteBlock({SensorRecordAddress(f_.SelectedSensor + i) + kKfs, FloatBytes(f_.NewKfs[k]),
                CoefficientName(i) + " (число)", SWrittenBlock::Float});
}

void TKfsWrite::WriteText(int i)
{
    const std::string& field = texts_[static_cast<size_t>(i)];
    WriteBlock({SensorRecordAddress(f_.SelectedSensor + i) + kKfsText, std::vector<uint8_t>(field.begin(), field.end()),
                CoefficientName(i) + " (текст)", SWrittenBlock::Text});
}

// --- The write chain

// A refusal ends the write at once instead of leaving it to the read-back: carried on, the write would save the
// channels and put into the meter's journal a change of coefficient that the meter never took.
bool TKfsWrite::Acknowledged(short Length, const unsigned char* Buffer, const std::string& what)
{
    if (Buffer && Length >= 1 && Buffer[0] == kAckDone) return true;
    std::string message = "Изменение KFS не выполнено: прибор отказал в записи: " + what + " (ответ " +
                          (Buffer && Length >= 1 ? HexByte(Buffer[0]) : std::string("пустой")) + ").";
    std::string done;
    for (size_t i = 0; i + 1 < written_.size(); ++i) done += (done.empty() ? "" : ", ") + written_[i].Name;
    // A save is refused after its writes; every write sent so far was taken.
    if (f_.WriteStep == kStepSaves && !written_.empty()) done += (done.empty() ? "" : ", ") + written_.back().Name;
    if (!done.empty()) message += "\nУже записано в прибор: " + done + ".";
    WriteFailed(message, "Запись не выполнена.");
    return false;
}

void TKfsWrite::WriteAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (host_.Stage() != fsWriting && host_.Stage() != fsJournal) return;
        const int n = count_;
        const int s = f_.SelectedSensor;
        switch (f_.WriteStep) {
            case kStepFloats:
                if (!Acknowledged(Length, Buffer, written_.back().Name)) return;
                if (++f_.WriteCounter < n) {
                    WriteFloat(f_.WriteCounter);
                    break;
                }
                f_.WriteCounter = 0;
                f_.WriteStep = kStepTexts;
                WriteText(0);
                break;
            case kStepTexts:
                if (!Acknowledged(Length, Buffer, written_.back().Name)) return;
                if (++f_.WriteCounter < n) {
                    WriteText(f_.WriteCounter);
                    break;
                }
                f_.WriteStep = kStepSaves;
                f_.WriteCounter = 0;
                connection_.Net().SaveData(static_cast<unsigned char>(s + 1));
                break;
            case kStepSaves:
                if (!Acknowledged(Length, Buffer, "сохранение канала " + std::to_string(s + f_.WriteCounter + 1)))
                    return;
                if (++f_.WriteCounter < n) {
                    connection_.Net().SaveData(static_cast<unsigned char>(s + f_.WriteCounter + 1));
                    break;
                }
                f_.JournalCount = 0;
                StartJournalRecord();
                break;
            case kStepRecord:
                if (!Acknowledged(Length, Buffer, written_.back().Name)) return;
                f_.WriteStep = kStepHead;
                {
                    std::vector<uint8_t> head(2);
                    PutU16(head.data(), f_.JournalHead);
                    WriteBlock({JournalBase() + 2u * f_.ModuleIndex, std::move(head),
                                "указатель журнала изменений модуля " + std::to_string(f_.ModuleIndex + 1),
                                SWrittenBlock::Head});
                }
                break;
            case kStepHead:
                if (!Acknowledged(Length, Buffer, written_.back().Name)) return;
                // One record per coefficient written.
                if (++f_.JournalCount < n) {
                    StartJournalRecord();
                    break;
                }
                StartReadBack();
                break;
            default:
                break;
        }
    });
}

// --- The journal record chain: pointer table, device flag words, head, record, head

void TKfsWrite::StartJournalRecord()
{
    if (host_.Stage() != fsJournal) host_.SetStage(fsJournal);
    connection_.Net().GetFPointerRAM(0);
}

void TKfsWrite::Net_6x6PointerRAM(const SPointerRAM*)
{
    Guarded([&] {
        if (host_.Stage() != fsJournal) return;
        connection_.Net().GetDeviceFDW();
    });
}

void TKfsWrite::Net_6x6DeviceFDW(const SDeviceFlagsDWord* DeviceFDW)
{
    Guarded([&] {
        if (host_.Stage() != fsJournal || !DeviceFDW) return;
        f_.FdwValue = DeviceFDW->Word[0];
        if (Layout2())
            connection_.Net().GetEditH1V2(f_.ModuleIndex);
        else
            connection_.Net().GetEditH1(f_.ModuleIndex);
    });
}

void TKfsWrite::Net_6x6EditH1(const SHead* H1)
{
    Guarded([&] {
        if (host_.Stage() != fsJournal || !H1) return;
        WriteJournalRecord(static_cast<uint16_t>(H1->Value));
    });
}

void TKfsWrite::WriteJournalRecord(uint16_t head)
{
    f_.JournalHead = head;
    const size_t j = static_cast<size_t>(f_.JournalCount);
    const uint32_t slot = f_.JournalHead & kSlotMask;
    std::vector<uint8_t> bytes;
    uint32_t at = JournalBase() + kJournalPages;
    // The record of either layout: the change of coefficient j, old value then new.
    const auto encode = [&](auto r, uint32_t page) {
        r.Code = kKfsEventCode;
        r.Journal = f_.ModuleIndex;
        r.Index = f_.TypeIndex;
        r.Flag = 1;
        r.DeviceFlags = f_.FdwValue;
        r.Value[0] = FloatBits(f_.OldKfs[j]);
        r.Value[1] = FloatBits(f_.NewKfs[j]);
        bytes.resize(r.kSize);
        r.Encode(bytes.data());
        at += page * f_.ModuleIndex + static_cast<uint32_t>(r.kSize) * slot;
    };
    if (Layout2())
        encode(SEventRecordV2{}, kPage2);
    else
        encode(SEventRecord{}, kPage1);
    f_.WriteStep = kStepRecord;
    WriteBlock({at, std::move(bytes),
                "запись журнала изменений модуля " + std::to_string(f_.ModuleIndex + 1) + " (ячейка " +
                    std::to_string(slot) + ")",
                SWrittenBlock::Record});
    ++f_.JournalHead;
}

// --- Read-back and the end of a write

void TKfsWrite::StartReadBack()
{
    // The head is written once per record: the flash must hold the last value written at each place.
    std::map<uint32_t, size_t> at;
    readBack_.clear();
    for (const SWrittenBlock& b : written_) {
        if (auto it = at.find(b.Address); it != at.end()) {
            readBack_[it->second] = b;
            continue;
        }
        at[b.Address] = readBack_.size();
        readBack_.push_back(b);
    }
    readBackIndex_ = 0;
    differences_.clear();
    host_.SetStage(fsVerifying);
    connection_.Net().OnReceiveExecuted = Bind(this, &TKfsWrite::ReadBackAnswer);
    ReadNextBlock();
}

void TKfsWrite::ReadNextBlock()
{
    if (readBackIndex_ < readBack_.size()) {
        const SWrittenBlock& b = readBack_[readBackIndex_];
        connection_.Net().ReadFlashLarge(b.Address, static_cast<unsigned char>(b.Bytes.size()));
        return;
    }
    if (differences_.empty()) {
        WriteDone();
        return;
    }
    std::string message = "Изменение KFS не подтверждено: в приборе не то, что записано.";
    for (const std::string& d : differences_) message += "\n" + d;
    WriteFailed(message, "Запись не подтверждена.");
}

void TKfsWrite::ReadBackAnswer(short Length, unsigned char* Buffer)
{
    Guarded([&] {
        if (host_.Stage() != fsVerifying || readBackIndex_ >= readBack_.size()) return;
        const SWrittenBlock& b = readBack_[readBackIndex_];
        const bool same = Buffer && Length == static_cast<short>(b.Bytes.size()) &&
                          std::memcmp(Buffer, b.Bytes.data(), b.Bytes.size()) == 0;
        if (!same) differences_.push_back(Difference(b, Buffer, Length));
        ++readBackIndex_;
        ReadNextBlock();
    });
}

std::string TKfsWrite::Difference(const SWrittenBlock& block, const unsigned char* read, short length) const
{
    const std::string head = block.Name + ": записано ";
    if (!read || length != static_cast<short>(block.Bytes.size()))
        return head + std::to_string(block.Bytes.size()) + " байт, прочитано " +
               std::to_string(length < 0 ? 0 : length) + " байт";
    const unsigned char* w = block.Bytes.data();
    switch (block.Type) {
        case SWrittenBlock::Float:
            return head + FixedText(FloatOf(w), 7) + ", прочитано " + FixedText(FloatOf(read), 7);
        case SWrittenBlock::Text:
            return head + "\"" + FromCp1251(w, block.Bytes.size()) + "\", прочитано \"" +
                   FromCp1251(read, block.Bytes.size()) + "\"";
        case SWrittenBlock::Head:
            return head + std::to_string(GetU16(w)) + ", прочитано " + std::to_string(GetU16(read));
        case SWrittenBlock::Record:
            break;
    }
    return head + HexBytes(w, block.Bytes.size()) + ", прочитано " + HexBytes(read, block.Bytes.size());
}

std::string TKfsWrite::ChangeLine(int i, float oldValue, float newValue) const
{
    const std::string name = " " + CoefficientName(i);
    if (oldValue == newValue) return name + " " + FixedText(newValue, 7) + " без изменений";
    return name + " с " + FixedText(oldValue, 7) + " на " + FixedText(newValue, 7);
}

std::string TKfsWrite::FinalMessage() const
{
    // Only what changed is named; a write of the same values (to mend a text, say) says so instead.
    std::vector<int> changed;
    for (int j = 0; j < count_; ++j)
        if (f_.OldKfs[static_cast<size_t>(j)] != f_.NewKfs[static_cast<size_t>(j)]) changed.push_back(j);
    if (changed.empty()) {
        std::string text = "Произведена запись без изменений";
        for (int j = 0; j < count_; ++j)
            text += "\n " + CoefficientName(j) + " " + FixedText(f_.NewKfs[static_cast<size_t>(j)], 7);
        return text;
    }
    std::string text = "Произведено изменение\n";
    if (count_ == 1) return text + ChangeLine(0, f_.OldKfs[0], f_.NewKfs[0]);
    for (int j : changed) {
        const size_t k = static_cast<size_t>(j);
        text += ChangeLine(j, f_.OldKfs[k], f_.NewKfs[k]) + "\n";
    }
    return text;
}

void TKfsWrite::WriteDone()
{
    const std::string message = FinalMessage();
    prompter_.Message(message, "Внимание");
    f_.OldKfs = f_.NewKfs;
    // The kept records follow the meter's, so a later write journals the right old value.
    for (int i = 0; i < count_; ++i) {
        TSensorImage& image = connection_.Chain().SensorImage()[static_cast<size_t>(f_.SelectedSensor + i)];
        const std::string& field = texts_[static_cast<size_t>(i)];
        std::memcpy(image.data() + kKfsText, field.data(), kKfsTextField);
        const std::vector<uint8_t> bits = FloatBytes(f_.NewKfs[static_cast<size_t>(i)]);
        std::memcpy(image.data() + kKfs, bits.data(), bits.size());
    }
    host_.SetStatus("OK");
    EndWrite(wrDone, message);
}

void TKfsWrite::WriteFailed(const std::string& message, const std::string& status)
{
    connection_.Net().AbandonRequest();
    connection_.Net().BreakTransmit();
    prompter_.Message(message, "Ошибка");
    host_.SetStatus(status);
    EndWrite(wrFailed, message);
}

void TKfsWrite::EndWrite(TKfsWriteResult result, const std::string& message)
{
    connection_.ResetHandlers();
    result_ = result;
    message_ = message;
    if (result != wrAbandoned) host_.SetStage(fsShowing);
    host_.WriteEnded();
}

}  // namespace rv
