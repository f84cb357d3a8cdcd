// What the driver tests ask of a call that should fail: the code of the device error it raises.
#pragma once

#include <functional>
#include <string>

#include "serial/CommErrors.h"

namespace rv::test {

// The ErrorCode of the EDeviceError that fn raises, with its text into message when one is given; 0 when fn raises
// none.
inline int CodeOf(const std::function<void()>& fn, std::string* message = nullptr)
{
    try {
        fn();
    } catch (const EDeviceError& e) {
        if (message) *message = e.what();
        return e.ErrorCode;
    }
    return 0;
}

}  // namespace rv::test
