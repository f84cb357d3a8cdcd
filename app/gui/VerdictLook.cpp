// Verdict colours: dark text on a light fill, readable in print and for the colour-blind alike since the words
// carry the verdict.
#include "app/gui/VerdictLook.h"

namespace rv {

namespace {
const SVerdictColours kPass{QColor(27, 94, 32), QColor(220, 241, 221)};
const SVerdictColours kFail{QColor(183, 28, 28), QColor(252, 222, 222)};
const SVerdictColours kOpen{QColor(120, 80, 0), QColor(255, 240, 200)};
const SVerdictColours kNone{QColor(60, 60, 60), QColor(235, 235, 235)};
}  // namespace

SVerdictColours PointColours(journal::EPointVerdict verdict)
{
    switch (verdict) {
        case journal::EPointVerdict::Pass:
            return kPass;
        case journal::EPointVerdict::Fail:
            return kFail;
        case journal::EPointVerdict::NotChecked:
            break;
    }
    return kOpen;
}

SVerdictColours StateColours(journal::ERunState state)
{
    switch (state) {
        case journal::ERunState::Passed:
            return kPass;
        case journal::ERunState::Failed:
            return kFail;
        case journal::ERunState::Stopped:
        case journal::ERunState::Interrupted:
            return kOpen;
        case journal::ERunState::InProgress:
            break;
    }
    return kNone;
}

}  // namespace rv
