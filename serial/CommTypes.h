// Line settings, device events and the small sets of the serial port driver, with the rate and
// name tables and the conversions between settings and their texts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "core/Event.h"
#include "core/LineTypes.h"

namespace rv {

// A set of enumerators stored as a bit word: bit i stands for ordinal i, so the word can go to
// the device unchanged.
template <class E, class Bits>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items)
    {
        for (E e : items) bits_ = static_cast<Bits>(bits_ | Bit(e));
    }
    static constexpr TSet FromBits(Bits bits)
    {
        TSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr Bits ToBits() const { return bits_; }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TSet& Include(E e)
    {
        bits_ = static_cast<Bits>(bits_ | Bit(e));
        return *this;
    }
    constexpr TSet& Exclude(E e)
    {
        bits_ = static_cast<Bits>(bits_ & ~Bit(e));
        return *this;
    }
    friend constexpr TSet operator|(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ | b.bits_)); }
    friend constexpr TSet operator&(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & b.bits_)); }
    friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & ~b.bits_)); }
    friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

private:
    static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(e)); }
    Bits bits_ = 0;
};

// Ordinals are fixed: each one goes to the device unchanged (see the comment of each type).
enum TDataBits { db4, db5, db6, db7, db8 };                // ordinal + 4 = bits per character
enum TParity { paNone, paOdd, paEven, paMark, paSpace };   // the device's parity code
enum TStopBits { sb1, sb1p5, sb2 };                        // the device's stop-bit code: 1, 1.5, 2
enum TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcCustom };
enum TFlowSettings { fsDisable, fsEnable, fsHandshake, fsToggle };  // a two-bit line-control field
enum TBreakStatus { brClear, brSet };

enum TCommOption {
    coAbortOnError, coDiscardNull, coDSRSensitivity, coErrorChar, coParityCheck, coTXContinueOnXOff, coLeaveDTROpen
};
using TCommOptions = TSet<TCommOption, uint8_t>;

// Bit i is bit i of the device's status flag word.
enum TCommStatusFlag { csCTSHold, csDTRHold, csRLSDHold, csXOffHold, csXOffSent, csEofSent, csWaitingTX };
using TCommStatus = TSet<TCommStatusFlag, uint8_t>;

// Bit i is the device's event-mask bit for ordinal i.
enum TDeviceEvent {
    deChar,        // a character was received
    deFlag,        // the event character was received
    deOutEmpty,    // the output queue was sent
    deCTS,         // CTS changed
    deDSR,         // DSR changed
    deRLSD,        // carrier detect changed
    deBreak,       // break received
    deError,       // line status error
    deRing,        // ring indicator
    dePrintError,  // printer error
    deIn80Full,    // input queue 80 % full
    deProv1,
    deProv2
};
using TDeviceEvents = TSet<TDeviceEvent, uint16_t>;

class TObject;
using TCommEvent = Event<void(TObject* Sender, TDeviceEvents Events)>;
// Received: the bytes waiting in the input queue when the event was handled (may be 0).
using TDataEvent = Event<void(TObject* Sender, uint32_t Received)>;

// Rates in bit/s indexed by TBaudRate; brCustom has no entry.
inline constexpr int BaudRateCount = brCustom;
inline constexpr const uint32_t (&BaudRateTable)[BaudRateCount] = kBaudRateBits;

extern const char* const STR_FLOWCONTROL[4];  // fcNone..fcSoftware
extern const char* const STR_PARITY[5];

// The table rate of a TBaudRate, 0 for brCustom.
uint32_t BaudRateValue(TBaudRate rate);
// The TBaudRate whose table rate is value, brCustom when none is.
TBaudRate BaudRateOfValue(uint32_t value);

// The conversions raise EConvertError with the matching message; they change no state.
std::string BaudRateToStr(TBaudRate rate);  // brCustom gives ""
TBaudRate StrToBaudRate(const std::string& s);  // digits not in the table give brCustom
char DataBitsToChar(TDataBits bits);
TDataBits CharToDataBits(char ch);
std::string StopBitsToStr(TStopBits bits);
TStopBits StrToStopBits(const std::string& s);  // exact: "1", "1.5", "2"
std::string FlowControlToStr(TFlowControl flow);  // fcCustom gives "Custom"
TFlowControl StrToFlowControl(const std::string& s);  // ignores case
std::string ParityToStr(TParity parity);
TParity StrToParity(const std::string& s);  // ignores case

// Milliseconds for Count characters of 10 bits at Baud bit/s, to the nearest integer (a half
// goes to the even neighbour), plus 1 ms spare. Baud 0 gives the spare alone.
uint32_t GetRXTimeout(uint32_t Baud, uint32_t Count);

}  // namespace rv
