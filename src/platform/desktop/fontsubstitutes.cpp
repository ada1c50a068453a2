#include "platform/desktop/fontsubstitutes.h"

#include <QFont>
#include <QStringList>

void addFontSubstitutes() {
    // The program's lettering is a medieval hand. A chancery hand is the nearest of the
    // usual free fonts (fonts-urw-base35), and, unlike the default serif, it fits the
    // places the lettering was drawn for.
    QFont::insertSubstitutions(
        QStringLiteral("Chaucer"),
        QStringList{QStringLiteral("Z003"), QStringLiteral("URW Chancery L")});
}
