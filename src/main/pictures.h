// The program's own pictures (resources/tarvel.qrc) and the form font.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pictures {

constexpr int SymbolCount = 62;  // images of the class-icon list, by table position

// The 16x16 class icon of a table position; out-of-range positions give the icon of
// position 1 (unknown class).
const QIcon& symbol(int index);
QIcon benutzer();   // three people: the user view
QIcon computer();   // a computer: the workstation view
QIcon stop();       // 32x32 octagons; the grey picture is the disabled state
QIcon go();

// Maps the forms' "MS Sans Serif" to a font that is installed, so the fixed layouts keep
// their proportions. Call once before the first form is built.
void installFontFallback();
// The forms' font: "MS Sans Serif", 8 pt.
QFont formFont();

}  // namespace pictures
