// The simulated meter: a memory image (flash and RAM) and the responder that answers request
// frames found in a byte stream. Knows the frames only through the shared frame helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"

namespace rv::sim {

struct MeterImage;  // flash, RAM and identity; see MeterImage.h

// Service command codes the responder answers out of the box.
namespace cmd {
inline constexpr uint8_t kCtrSum = 0x07;
inline constexpr uint8_t kModuleCounter = 0x08;
inline constexpr uint8_t kIdentity = 0x0F;
inline constexpr uint8_t kReadRam = 0x10;
inline constexpr uint8_t kWriteRam = 0x20;
inline constexpr uint8_t kReadFlash = 0x30;
inline constexpr uint8_t kReadFlashLarge = 0x31;
inline constexpr uint8_t kWriteFlash = 0x40;
inline constexpr uint8_t kWriteFlashLarge = 0x41;
inline constexpr uint8_t kPassword = 0x50;
inline constexpr uint8_t kSetTime = 0x51;
inline constexpr uint8_t kKeyPress = 0x53;
inline constexpr uint8_t kDisplay = 0x54;
inline constexpr uint8_t kClearF149 = 0x55;
inline constexpr uint8_t kWriteF149 = 0x5A;
}  // namespace cmd

// A request frame as found on the line. params points into the responder's input and is valid only
// during the handler call.
struct Request {
    uint8_t destination = 0;
    uint8_t command = 0;
    const uint8_t* params = nullptr;
    size_t paramCount = 0;
    uint8_t master = 0;  // the source address; the answer goes there
};

// What a command handler answers. A framed answer carries its payload (the responder adds address,
// length, filler and checksum); an acknowledge is one bare byte; raw bytes go out as they are.
struct Answer {
    enum class Kind { None, Framed, Acknowledge, Raw };
    Kind kind = Kind::None;
    std::vector<uint8_t> bytes;
    bool checksummed = false;  // raw bytes whose last two are a checksum that a fault may spoil

    static Answer Silent() { return {}; }
    static Answer Framed(std::vector<uint8_t> payload) { return {Kind::Framed, std::move(payload), true}; }
    static Answer Ack(uint8_t value) { return {Kind::Acknowledge, {value}, false}; }
    static Answer Raw(std::vector<uint8_t> bytes, bool checksummed) { return {Kind::Raw, std::move(bytes), checksummed}; }
};

// Answers one request at a time. Bytes are fed as they arrive on the line; when a complete request
// frame addressed to the meter has been found, the answer bytes (possibly none) are handed to emit.
// A lone wake-up byte, garbage and frames for other stations are skipped.
//
// A frame is recognised by its structure alone: destination = the slave address (or the F149
// address for the F149 pair), L in 1..250, L + 5 bytes, checksum right. A start that fails any test
// is skipped one byte at a time, so a garbage byte that looks like a frame head cannot hide the
// real frame behind it.
//
// Commands are served by a table of handlers by code. The constructor installs the service commands,
// the meter's own commands (MeterCommands.h), then wraps them in the emulator physics
// (EmulatorPhysics.h) and the flash-write policy (FlashWritePolicy.h). Tests and later layers add or
// wrap handlers with SetCommandHandler: take the old one with CommandHandlerFor to wrap it. A code
// without a handler is not answered.
//
// Reads beyond the image answer the bytes that exist and 0xFF for the rest, as an unprogrammed
// region reads; writes that do not fit the image change nothing and are acknowledged with
// kAckRefused. A request whose parameters do not match its command (a wrong count) is not answered.
class SimMeter {
public:
    using Emit = std::function<void(const std::vector<uint8_t>& answer, const FaultApplied& fault)>;
    using CommandHandler = std::function<Answer(SimMeter& meter, const Request& request)>;

    // A null image stands for the built-in default meter.
    explicit SimMeter(std::shared_ptr<MeterImage> image, FaultPlan faults = {});
    ~SimMeter();

    // emit is called once per request frame found, with the answer as it goes on the line (garbage
    // and a spoilt checksum included, empty when dropped or unanswered); a late answer's delay is in
    // the fault, for the caller to apply.
    void Receive(const uint8_t* data, size_t size, const Emit& emit);
    // Forgets a partly received request (the line was idle, or reopened).
    void ResetInput();

    MeterImage& Image();
    const MeterImage& Image() const;
    std::shared_ptr<MeterImage> SharedImage() const;
    FaultPlan& Faults();

    void SetCommandHandler(uint8_t command, CommandHandler handler);
    CommandHandler CommandHandlerFor(uint8_t command) const;

    // The framed bytes of an answer to a request, without faults (for handlers and front ends).
    std::vector<uint8_t> Frame(const Answer& answer, const Request& request) const;

    // How many request frames for the meter were found, per command code, for tests.
    uint64_t RequestCount(uint8_t command) const;
    uint64_t TotalRequests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rv::sim
