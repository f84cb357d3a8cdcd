// No exception leaves a window's handler: one that escapes is shown through the window's prompter and the
// program goes on. What every controller and window runs its handlers in.
#pragma once

#include "app/window/IPrompter.h"

#include <exception>
#include <string>

namespace rv {

// Shows an escaped exception through the prompter (one that is no std::exception as an empty error); a display
// that fails in turn is swallowed. Returns the exception's text, empty for one that is no std::exception.
std::string ShowEscaped(IPrompter& prompter, std::exception_ptr error);

// Runs a handler body; an exception that escapes it is shown by the prompter.
template <class F>
void Guarded(IPrompter& prompter, F&& body)
{
    try {
        body();
    } catch (...) {
        ShowEscaped(prompter, std::current_exception());
    }
}

}  // namespace rv
