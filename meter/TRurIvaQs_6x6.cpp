// The meter command set: construction, the routing of answers to the decoders and back to the
// caller's handler, abandoning a request, and the flash address table operations. The requests
// are in TRurIvaQs_6x6Reads.cpp, ...Measure.cpp, ...Archives.cpp and ...Totals.cpp.
#include "TRurIvaQs_6x6.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace rv {

TRurIvaQs_6x6::TRurIvaQs_6x6(TComponent* owner, Loop* loop) : TRurIvaQs(owner, loop)
{
    std::memset(zero_, 0, sizeof zero_);
}

// The only handler this component installs elsewhere is its own decoder in its own slot.
TRurIvaQs_6x6::~TRurIvaQs_6x6() = default;

void TRurIvaQs_6x6::SetFlashAddressDefault()
{
    rv::SetFlashAddressDefault();
}

void TRurIvaQs_6x6::SetFlashAddress(const SDevVexa* record)
{
    rv::SetFlashAddress(record);
}

int TRurIvaQs_6x6::Index(int i, int count)
{
    if (i < 0 || i >= count)
        throw std::out_of_range("index " + std::to_string(i) + " outside 0.." + std::to_string(count - 1));
    return i;
}

void TRurIvaQs_6x6::CheckIndex(const char* operation, const char* what, int value, int count)
{
    if (value >= 0 && value < count) return;
    throw EMeterError(std::string(operation) + ": " + what + " " + std::to_string(value) + " вне диапазона 0.." +
                      std::to_string(count - 1) + ".");
}

bool TRurIvaQs_6x6::Fits(int Length) const
{
    switch (fit_) {
        case Fit::Exactly:
            return Length == fitLength_;
        case Fit::AtMost:
            return Length <= fitLength_;
        case Fit::Any:
            break;
    }
    return true;
}

void TRurIvaQs_6x6::ReadFlashExactly(uint32_t address, unsigned char n)
{
    Expect(Fit::Exactly, n);
    ReadFlashLarge(address, n);
}

void TRurIvaQs_6x6::ReadRAMExactly(uint16_t address, unsigned char n)
{
    Expect(Fit::Exactly, n);
    ReadRAM(address, n);
}

void TRurIvaQs_6x6::WriteZeros(uint32_t address, unsigned char n)
{
    Expect(Fit::Any);
    WriteFlashLarge(address, n, zero_);
}

void TRurIvaQs_6x6::Dispatch(short Length, unsigned char* Buffer)
{
    if (!decoder_) return;
    const int n = Buffer && Length > 0 ? Length : 0;
    // Frames carry nothing that ties an answer to its request: a late answer to the request before
    // passes every test of the engine. Its length is what gives it away.
    if (!Fits(n)) {
        Trace(TraceKind::FalseCRC, Buffer, static_cast<size_t>(n));
        return ChecksumFailure();
    }
    (this->*decoder_)(n, Buffer);
}

bool TRurIvaQs_6x6::SlotHoldsDecoder() const
{
    const DecoderThunk* thunk = OnReceiveExecuted.Target<DecoderThunk>();
    return thunk && thunk->self == this;
}

void TRurIvaQs_6x6::BeginDecoding(Decoder d)
{
    // A request that was given up (time-out without repetition, a break) left our decoder in the
    // slot and the caller's handler saved: saving again would lose the caller's handler for good.
    if (!decoding_ || !SlotHoldsDecoder()) saved_ = ExchangeOnReceiveExecuted(DecoderThunk{this});
    decoder_ = d;
    decoding_ = true;
    ++generation_;
}

void TRurIvaQs_6x6::EndDecoding()
{
    if (!decoding_) return;
    decoding_ = false;
    // The caller may have installed a handler of its own meanwhile; that one stays.
    if (SlotHoldsDecoder()) {
        OnReceiveExecuted = std::move(saved_);
    }
    saved_ = nullptr;
}

void TRurIvaQs_6x6::AbandonRequest()
{
    if (!decoding_) return;
    BreakTransmit();
    EndDecoding();
    step_ = 0;
    paging_ = ArchivePaging{};
}

}  // namespace rv
