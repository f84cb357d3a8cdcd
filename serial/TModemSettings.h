// The modem's call settings: dial type and number, the kind of connection, the init and reset
// strings, the line speed asked of the modem and the rings before it answers.
#pragma once

#include <cstdint>
#include <string>

#include "CommSettings.h"
#include "ModemTypes.h"

namespace rv {

class TModemSettings : public TPersistent {
public:
    const char* ClassName() const override { return "TModemSettings"; }
    // Copies all seven values of another TModemSettings (else EConvertError).
    void Assign(const TPersistent& Source) override;

    TDialType GetDialType() const { return dialType_; }
    void SetDialType(TDialType Value) { dialType_ = Value; }
    const std::string& GetDialNumber() const { return dialNumber_; }
    void SetDialNumber(const std::string& Value) { dialNumber_ = Value; }
    TConnectType GetConnectType() const { return connectType_; }
    void SetConnectType(TConnectType Value) { connectType_ = Value; }
    const std::string& GetInitString() const { return initString_; }
    void SetInitString(const std::string& Value) { initString_ = Value; }
    const std::string& GetResetString() const { return resetString_; }
    void SetResetString(const std::string& Value) { resetString_ = Value; }
    int32_t GetSpeed() const { return speed_; }
    // A speed the modems know (0 for none asked); any other value leaves the speed unchanged.
    void SetSpeed(int32_t Value);
    uint8_t GetWaitRings() const { return waitRings_; }
    void SetWaitRings(uint8_t Value) { waitRings_ = Value; }

    static bool IsModemSpeed(int32_t Value);

private:
    TDialType dialType_ = dtTone;
    std::string dialNumber_;
    TConnectType connectType_ = ctDial;
    std::string initString_ = "ATX&C1&D2&K3M0";
    std::string resetString_ = "ATZ";
    int32_t speed_ = 33600;
    uint8_t waitRings_ = 2;
};

}  // namespace rv
