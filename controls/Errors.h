// The faults of the controls: a text that is not the number a field needs, and a state file that cannot be written.
#pragma once

#include <stdexcept>
#include <string>

namespace rv {

// A text that does not convert to the number asked for; the message is for the technician (Russian).
class EConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file the controls keep (the form state file) could not be written; the old file is left as it was.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace rv
