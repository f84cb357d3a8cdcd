// The check that the meter is in its emulator mode, which a verification needs: 10 ms after it is asked, the RAM
// pointer table and then the flag bytes; a meter not in the mode has the technician asked to switch it over, and is
// checked again on Yes.
//
// Threading: loop thread only. No exception leaves a handler: one that escapes is shown through the prompter.
#pragma once

#include "core/Event.h"
#include "meter/MeterRecords.h"

#include <memory>

namespace rv {

class IPrompter;
class Loop;
class TObject;
class TRurIvaQs_6x6;
class TTimer;

class TEmulatorCheck {
public:
    // net is the window's meter command set; it and the prompter outlive the check.
    TEmulatorCheck(TRurIvaQs_6x6& net, IPrompter& prompter, Loop& loop);
    ~TEmulatorCheck();
    TEmulatorCheck(const TEmulatorCheck&) = delete;
    TEmulatorCheck& operator=(const TEmulatorCheck&) = delete;

    // Asks again, from the pointer table on.
    void Start();
    // Nothing of a check under way fires afterwards.
    void Stop();

    // The meter is in its emulator mode; the pointer table it answered.
    Event<void(const SPointerRAM& pointers)> OnConfirmed;
    // The technician answered No to "Для проверки войдите в режим имитатора."
    Event<void()> OnRefused;

private:
    void TimerEmitatorTimer(TObject* Sender);
    void Net_6x6PointerRAM(const SPointerRAM* PointerRAM);
    void Net_6x6FB6x6(const S6x6FlagsByte* pFB6x6);

    TRurIvaQs_6x6& net_;
    IPrompter& prompter_;
    std::unique_ptr<TTimer> TimerEmitator;
    SPointerRAM pointers_;
    bool active_ = false;
};

}  // namespace rv
