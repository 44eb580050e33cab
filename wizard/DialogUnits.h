#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

namespace quillon {

// Dialog units make a template independent of the font: a horizontal unit is a quarter of
// the font's average character width, a vertical unit an eighth of its height. The average
// width is taken over the 52 Latin letters, rounded the way the original dialog manager
// rounds it.
QSize DialogBaseUnits(const QFont& font);

// Rounds a * b / c to the nearest integer, halves away from zero.
int MulDivRound(int a, int b, int c);

// Converts a rectangle in dialog units to pixels. The four edges are converted, not the
// size, so that controls that meet in dialog units meet in pixels too.
QRect MapDialogRect(const QRect& units, const QSize& baseUnits);

// The font a template names. Faces this system lacks (the classic Windows dialog faces)
// fall back to the desktop's sans-serif face at the same size.
QFont TemplateFont(const QString& face, int pointSize);

// A font given by character height in pixels, as the pages' heading fonts are
// (the height of the glyphs, without the internal leading).
QFont PixelFont(const QString& face, int pixelHeight, bool bold);

} // namespace quillon
