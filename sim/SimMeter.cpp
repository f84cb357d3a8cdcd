// The responder: finds request frames in the byte stream, runs the handler of their command and
// frames the answer, with the faults of the plan applied.
#include "sim/SimMeter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <stdexcept>

#include "protocol/Frame.h"
#include "sim/EmulatorPhysics.h"
#include "sim/FlashWritePolicy.h"
#include "sim/MeterCommands.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/ServiceCommands.h"

namespace rv::sim {

namespace {

constexpr size_t kMaxL = kMaxAnswerPayload;

// Faults drawn for one answer. Every answer takes the same number of draws, whatever the plan,
// so the same seed gives the same faults for the same requests.
struct Draw {
    double drop, spoil, garbage, late;
    int garbageCount;
    std::array<uint8_t, 8> garbageBytes;
    uint8_t spoilMask;
};

double Unit(std::mt19937& g) { return static_cast<double>(g()) * (1.0 / 4294967296.0); }
bool Happens(double p, double u) { return p > 0 && u < p; }  // a NaN probability never happens

// The address a read request names: 2 bytes for the RAM and flash reads, 4 for the large flash read.
std::optional<uint32_t> ReadAddress(const Request& r)
{
    if ((r.command == cmd::kReadRam || r.command == cmd::kReadFlash) && r.paramCount >= 2) return GetU16(r.params);
    if (r.command == cmd::kReadFlashLarge && r.paramCount >= 4) return GetU32(r.params);
    return std::nullopt;
}

// Changes the payload of a framed answer by the first resize entry that matches the request; the bytes changed.
int Resize(std::vector<ResizedAnswer>& plan, const Request& r, Answer& answer)
{
    if (answer.kind != Answer::Kind::Framed) return 0;
    const std::optional<uint32_t> address = ReadAddress(r);
    if (!address) return 0;
    for (ResizedAnswer& e : plan) {
        if (e.command != r.command || e.address != *address || (e.times != 0 && e.done >= e.times)) continue;
        ++e.done;
        const long size = std::clamp(static_cast<long>(answer.bytes.size()) + e.delta, 0L, static_cast<long>(kMaxL));
        const int by = static_cast<int>(size - static_cast<long>(answer.bytes.size()));
        answer.bytes.resize(static_cast<size_t>(size), 0xEE);
        return by;
    }
    return 0;
}

Draw Take(std::mt19937& g)
{
    Draw d{};
    d.drop = Unit(g);
    d.spoil = Unit(g);
    d.garbage = Unit(g);
    d.late = Unit(g);
    d.garbageCount = 1 + static_cast<int>(g() % 8);
    for (auto& b : d.garbageBytes) b = static_cast<uint8_t>(g());
    d.spoilMask = static_cast<uint8_t>(1 + g() % 255);
    return d;
}

}  // namespace

struct SimMeter::Impl {
    std::shared_ptr<MeterImage> image;
    FaultPlan faults;
    std::mt19937 rng;
    uint32_t seededWith = 0;
    std::vector<uint8_t> input;
    std::array<CommandHandler, 256> handlers;
    std::array<uint64_t, 256> counts{};
    uint64_t total = 0;

    bool IsAddress(uint8_t destination) const
    {
        return destination == image->slaveAddress || destination == image->f149Address;
    }

    // The F149 address serves only the F149 pair; everything else must go to the slave address.
    bool ForUs(uint8_t destination, uint8_t command) const
    {
        if (destination == image->slaveAddress) return true;
        return destination == image->f149Address && (command == cmd::kWriteF149 || command == cmd::kClearF149);
    }

    void Reseed()
    {
        rng.seed(faults.seed);
        seededWith = faults.seed;
    }
};

SimMeter::SimMeter(std::shared_ptr<MeterImage> image, FaultPlan faults) : impl_(std::make_unique<Impl>())
{
    impl_->image = image ? std::move(image) : DefaultMeter();
    impl_->faults = faults;
    impl_->Reseed();
    impl_->input.reserve(2 * kMaxFrame);
    InstallServiceCommands(*this);
    InstallMeterCommands(*this);
    InstallEmulatorPhysics(*this);
    InstallFlashWritePolicy(*this);
}

SimMeter::~SimMeter() = default;

MeterImage& SimMeter::Image() { return *impl_->image; }
const MeterImage& SimMeter::Image() const { return *impl_->image; }
std::shared_ptr<MeterImage> SimMeter::SharedImage() const { return impl_->image; }
FaultPlan& SimMeter::Faults() { return impl_->faults; }

void SimMeter::SetCommandHandler(uint8_t command, CommandHandler handler)
{
    impl_->handlers[command] = std::move(handler);
}

SimMeter::CommandHandler SimMeter::CommandHandlerFor(uint8_t command) const { return impl_->handlers[command]; }

uint64_t SimMeter::RequestCount(uint8_t command) const { return impl_->counts[command]; }
uint64_t SimMeter::TotalRequests() const { return impl_->total; }

void SimMeter::ResetInput() { impl_->input.clear(); }

std::vector<uint8_t> SimMeter::Frame(const Answer& answer, const Request& request) const
{
    switch (answer.kind) {
    case Answer::Kind::None: return {};
    case Answer::Kind::Acknowledge:
    case Answer::Kind::Raw: return answer.bytes;
    case Answer::Kind::Framed: {
        // A payload too long for one frame cannot be sent; the handler's mistake shows as silence.
        std::vector<uint8_t> out(answer.bytes.size() + 5);
        const size_t n = BuildAnswer(out.data(), request.master, answer.bytes.data(), answer.bytes.size(),
                                     impl_->image->slaveAddress);
        out.resize(n);
        return out;
    }
    }
    return {};
}

void SimMeter::Receive(const uint8_t* data, size_t size, const Emit& emit)
{
    Impl& m = *impl_;
    m.input.insert(m.input.end(), data, data + size);

    // Scan every start position; the first complete frame that passes all tests wins and whatever
    // lies before it is garbage. A start still waiting for its bytes holds the bytes from there.
    while (!m.input.empty()) {
        size_t keepFrom = m.input.size();
        bool found = false;
        size_t start = 0;
        for (; start < m.input.size(); ++start) {
            const uint8_t* p = m.input.data() + start;
            const size_t avail = m.input.size() - start;
            if (!m.IsAddress(p[0])) continue;
            if (avail < 2) {
                keepFrom = std::min(keepFrom, start);
                break;
            }
            const size_t L = p[1];
            if (L < 1 || L > kMaxL) continue;
            if (avail < L + 5) {
                keepFrom = std::min(keepFrom, start);
                continue;
            }
            if (CRC(p, static_cast<unsigned char>(L + 3)) != GetU16(p + L + 3)) continue;
            if (!m.ForUs(p[0], p[2])) continue;
            found = true;
            break;
        }
        if (!found) {
            m.input.erase(m.input.begin(), m.input.begin() + static_cast<std::ptrdiff_t>(keepFrom));
            return;
        }

        // Copy the frame out: a handler may feed the meter again (a front end that loops back).
        const size_t L = m.input[start + 1];
        std::vector<uint8_t> frame(m.input.begin() + static_cast<std::ptrdiff_t>(start),
                                   m.input.begin() + static_cast<std::ptrdiff_t>(start + L + 5));
        m.input.erase(m.input.begin(), m.input.begin() + static_cast<std::ptrdiff_t>(start + L + 5));

        Request req;
        req.destination = frame[0];
        req.command = frame[2];
        req.params = frame.data() + 3;
        req.paramCount = L - 1;
        req.master = frame[L + 2];
        ++m.counts[req.command];
        ++m.total;

        const CommandHandler& handler = m.handlers[req.command];
        Answer answer = handler ? handler(*this, req) : Answer::Silent();
        const int resizedBy = Resize(m.faults.resized, req, answer);
        std::vector<uint8_t> bytes = Frame(answer, req);

        if (m.faults.seed != m.seededWith) m.Reseed();
        const Draw d = Take(m.rng);
        FaultApplied fault;
        fault.resizedBy = resizedBy;
        if (!bytes.empty()) {
            const bool checksummed = answer.kind == Answer::Kind::Framed || answer.checksummed;
            if (checksummed && bytes.size() >= 2 && Happens(m.faults.badChecksum, d.spoil)) {
                bytes[bytes.size() - 2] ^= d.spoilMask;
                fault.badChecksum = true;
            }
            if (Happens(m.faults.garbage, d.garbage)) {
                bytes.insert(bytes.begin(), d.garbageBytes.begin(), d.garbageBytes.begin() + d.garbageCount);
                fault.garbageBytes = d.garbageCount;
            }
            if (Happens(m.faults.late, d.late)) fault.delayMs = m.faults.lateMs;
            if (Happens(m.faults.dropAnswer, d.drop)) {
                bytes.clear();
                fault = FaultApplied{};
                fault.dropped = true;
            }
        }
        if (emit) emit(bytes, fault);
    }
}

}  // namespace rv::sim
