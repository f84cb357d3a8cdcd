// The emulator-mode check of the verification page.
#include "app/verify/TEmulatorCheck.h"

#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "core/TTimer.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv {

TEmulatorCheck::TEmulatorCheck(TRurIvaQs_6x6& net, IPrompter& prompter, Loop& loop)
    : net_(net), prompter_(prompter), TimerEmitator(MakeTimer(loop, "TimerEmitator", 10))
{
    TimerEmitator->OnTimer = Bind(this, &TEmulatorCheck::TimerEmitatorTimer);
    net_.OnPointerRAM = Bind(this, &TEmulatorCheck::Net_6x6PointerRAM);
    net_.OnFB6x6 = Bind(this, &TEmulatorCheck::Net_6x6FB6x6);
}

TEmulatorCheck::~TEmulatorCheck()
{
    TimerEmitator->Stop();
    net_.OnPointerRAM = nullptr;
    net_.OnFB6x6 = nullptr;
}

void TEmulatorCheck::Start()
{
    active_ = true;
    TimerEmitator->SetEnabled(true);
}

void TEmulatorCheck::Stop()
{
    active_ = false;
    TimerEmitator->Stop();
}

void TEmulatorCheck::TimerEmitatorTimer(TObject*)
{
    Guarded(prompter_, [&] {
        TimerEmitator->Stop();
        if (active_) net_.GetFPointerRAM(0);
    });
}

void TEmulatorCheck::Net_6x6PointerRAM(const SPointerRAM* PointerRAM)
{
    Guarded(prompter_, [&] {
        if (!PointerRAM || !active_) return;
        pointers_ = *PointerRAM;
        net_.GetFB_6x6();
    });
}

void TEmulatorCheck::Net_6x6FB6x6(const S6x6FlagsByte* pFB6x6)
{
    Guarded(prompter_, [&] {
        if (!pFB6x6 || !active_) return;
        if (!pFB6x6->EmulatorMode()) {
            if (prompter_.Question("Для проверки войдите в режим имитатора.", "Внимание.")) {
                // The question may have outlived the check.
                if (active_) TimerEmitator->SetEnabled(true);
            } else if (active_) {
                active_ = false;
                OnRefused();
            }
            return;
        }
        active_ = false;
        OnConfirmed(pointers_);
    });
}

}  // namespace rv
