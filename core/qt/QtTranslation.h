// Qt's own Russian translation (standard buttons, dialogs and the command-line parser's words), for every program.
#pragma once

class QCoreApplication;

namespace rv {

// Loads the translation into app; false when it is not installed.
bool LoadRussianTranslation(QCoreApplication& app);

}  // namespace rv
