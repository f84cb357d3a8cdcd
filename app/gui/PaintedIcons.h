// Icons the platform's style does not offer, drawn in its colours so they sit beside its own.
#pragma once

#include <QIcon>

namespace rv {

// A gear: the laboratory's settings.
QIcon SettingsIcon();

}  // namespace rv
