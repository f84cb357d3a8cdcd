// Showing an exception that escaped a handler.
#include "app/window/Guarded.h"

#include <stdexcept>

namespace rv {

std::string ShowEscaped(IPrompter& prompter, std::exception_ptr error)
{
    std::string what;
    try {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
            prompter.ShowException(e);
        } catch (...) {
            prompter.ShowException(std::runtime_error(""));
        }
    } catch (...) {
        // The display itself failed; the program goes on all the same.
    }
    return what;
}

}  // namespace rv
