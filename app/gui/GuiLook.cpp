// The windows' common look.
#include "app/gui/GuiLook.h"

namespace rv {

QFont FormFont()
{
    QFont font(QStringLiteral("Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace rv
