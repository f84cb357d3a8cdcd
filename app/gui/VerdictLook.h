// The colours of verdicts, the same on the verification page, the Журнал page and a record's dialog; never the
// only sign of a verdict, which is always written out too.
#pragma once

#include "journal/JournalTypes.h"

#include <QColor>

namespace rv {

struct SVerdictColours {
    QColor Text;
    QColor Fill;
};

SVerdictColours PointColours(journal::EPointVerdict verdict);
SVerdictColours StateColours(journal::ERunState state);

}  // namespace rv
