// The modem layer's enumerations and sets, the record of one AT command with its reply, and the
// modem's event types.
#pragma once

#include <cstdint>
#include <string>

#include "CommTypes.h"
#include "core/Event.h"

namespace rv {

enum TDialType { dtPulse, dtTone };
enum TConnectType { ctDial, ctDirect, ctWait };

enum TLineStatusFlag { lsCTS, lsDSR, lsRing, lsCD };
using TLineStatus = TSet<TLineStatusFlag, uint8_t>;

// msInstalled is never stored: it is reported while the modem holds DSR on.
enum TModemStateFlag {
    msInstalled,
    msConnected,
    msCommandState,
    msATSent,  // a command was sent and its reply is not complete yet
    msConnecting,
    msWaitingCall,
    msDisconnecting
};
using TModemState = TSet<TModemStateFlag, uint8_t>;

// One command and its reply.
struct THayesAT {
    std::string Command;     // the echoed line, or the last command sent
    std::string Response;    // the information lines, joined with CR LF
    std::string ResultText;  // the final result line without line ends
    int32_t ResultCode = 0;  // index into the result table; 65535 numeric outside it; -1 none
};

class TObject;
// The handler may change the record; the change goes no further.
using THayesATEvent = Event<void(TObject* Sender, THayesAT& AT)>;
using TConnectingEvent = Event<void(TObject* Sender, TConnectType ConnectType)>;

}  // namespace rv
