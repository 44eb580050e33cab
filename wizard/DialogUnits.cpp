#include "wizard/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>
#include <cstdlib>

namespace quillon {

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int averageWidth = (letters / 26 + 1) / 2;
    return {averageWidth > 0 ? averageWidth : 1, metrics.height() > 0 ? metrics.height() : 1};
}

int MulDivRound(int a, int b, int c) {
    if (c == 0) {
        return -1;
    }
    const long long product = static_cast<long long>(a) * b;
    const long long half = std::llabs(static_cast<long long>(c)) / 2;
    const bool negative = (product < 0) != (c < 0);
    const long long magnitude =
        (std::llabs(product) + half) / std::llabs(static_cast<long long>(c));
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect MapDialogRect(const QRect& units, const QSize& baseUnits) {
    const int left = MulDivRound(units.x(), baseUnits.width(), 4);
    const int top = MulDivRound(units.y(), baseUnits.height(), 8);
    const int right = MulDivRound(units.x() + units.width(), baseUnits.width(), 4);
    const int bottom = MulDivRound(units.y() + units.height(), baseUnits.height(), 8);
    return {left, top, right - left, bottom - top};
}

namespace {

QStringList Families(const QString& face) {
    return {face, QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
            QStringLiteral("Sans Serif")};
}

} // namespace

QFont TemplateFont(const QString& face, int pointSize) {
    QFont font;
    font.setFamilies(Families(face));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    return font;
}

QFont PixelFont(const QString& face, int pixelHeight, bool bold) {
    QFont font;
    font.setFamilies(Families(face));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

} // namespace quillon
