// A sample run for previewing the printed protocol with the laboratory's own settings before any real run:
// a three-path sensor verified forward and reverse, every point within its allowed error.
#pragma once

#include "journal/JournalTypes.h"

namespace rv::journal {

// Id 0: the protocol prints as a sample, not as a numbered protocol.
SVerificationRecord SampleProtocolRecord();

}  // namespace rv::journal
