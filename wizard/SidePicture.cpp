#include "wizard/SidePicture.h"

#include "wizard/DialogUnits.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <vector>

namespace quillon {

namespace {

// Circuit traces in a 100 x 180 grid; each ends in a via.

const std::array<std::vector<QPointF>, 9> kTraces{{
    {{0, 14}, {22, 14}, {30, 22}, {30, 40}},
    {{100, 10}, {78, 10}, {70, 18}, {70, 38}},
    {{12, 0}, {12, 8}},
    {{0, 96}, {14, 96}, {22, 88}, {34, 88}},
    {{100, 92}, {84, 92}, {76, 84}, {66, 84}},
    {{0, 118}, {26, 118}, {34, 126}, {34, 140}},
    {{100, 120}, {80, 120}, {72, 128}, {72, 146}},
    {{50, 108}, {50, 132}, {58, 140}, {58, 150}},
    {{88, 0}, {88, 24}, {94, 30}, {100, 30}},
}};

QPointF Map(const QRectF& area, const QPointF& grid) {
    return {area.left() + grid.x() / 100.0 * area.width(),
            area.top() + grid.y() / 180.0 * area.height()};
}

void PaintBackground(QPainter& painter, const QRectF& area) {
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    gradient.setColorAt(0.0, QColor(0x0B, 0x24, 0x3F));
    gradient.setColorAt(0.6, QColor(0x10, 0x45, 0x66));
    gradient.setColorAt(1.0, QColor(0x16, 0x63, 0x7C));
    painter.fillRect(area, gradient);

    // A soft glow behind the emblem.
    const QPointF centre = Map(area, {50, 60});
    QRadialGradient glow(centre, area.width() * 0.62);
    glow.setColorAt(0.0, QColor(0x5F, 0xC4, 0xE0, 70));
    glow.setColorAt(1.0, QColor(0x5F, 0xC4, 0xE0, 0));
    painter.fillRect(area, glow);
}

void PaintTraces(QPainter& painter, const QRectF& area, double unit) {
    const QColor trace(0x8F, 0xD8, 0xEC, 60);
    painter.setPen(QPen(trace, unit * 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    for (const auto& points : kTraces) {
        QPainterPath path;
        bool first = true;
        for (const QPointF& point : points) {
            if (first) {
                path.moveTo(Map(area, point));
                first = false;
            } else {
                path.lineTo(Map(area, point));
            }
        }
        painter.drawPath(path);
        const QPointF end = Map(area, points.back());
        painter.drawEllipse(end, unit * 2.2, unit * 2.2);
    }
}

void PaintChip(QPainter& painter, const QRectF& area, double unit) {
    const QPointF centre = Map(area, {50, 68});
    const double side = area.width() * 0.38;
    const QRectF body(centre.x() - side / 2, centre.y() - side / 2, side, side);

    // Pins on all four sides.
    const int pins = 5;
    const double pitch = side / (pins + 1);
    const double pinLength = side * 0.16;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xB9, 0xC7, 0xD3));
    for (int i = 1; i <= pins; ++i) {
        const double offset = pitch * i;
        const double width = unit * 2.0;
        painter.drawRect(
            QRectF(body.left() + offset - width / 2, body.top() - pinLength, width, pinLength));
        painter.drawRect(QRectF(body.left() + offset - width / 2, body.bottom(), width, pinLength));
        painter.drawRect(
            QRectF(body.left() - pinLength, body.top() + offset - width / 2, pinLength, width));
        painter.drawRect(QRectF(body.right(), body.top() + offset - width / 2, pinLength, width));
    }

    QLinearGradient fill(body.topLeft(), body.bottomRight());
    fill.setColorAt(0.0, QColor(0x24, 0x2F, 0x3A));
    fill.setColorAt(1.0, QColor(0x11, 0x18, 0x20));
    painter.setBrush(fill);
    painter.setPen(QPen(QColor(0x7F, 0xA8, 0xC0), unit * 0.8));
    painter.drawRoundedRect(body, unit * 2.5, unit * 2.5);

    // Orientation dot and a die outline.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x7F, 0xA8, 0xC0));
    painter.drawEllipse(QPointF(body.left() + side * 0.18, body.top() + side * 0.18), unit * 1.6,
                        unit * 1.6);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x3E, 0x5A, 0x6E), unit * 0.7));
    painter.drawRect(body.adjusted(side * 0.28, side * 0.28, -side * 0.28, -side * 0.28));
}

void PaintArrow(QPainter& painter, const QRectF& area, double unit) {
    // The firmware: an amber arrow coming down into the chip, with a trail of data blocks.
    const QColor amber(0xF2, 0xA5, 0x41);
    const QPointF tip = Map(area, {50, 58});
    const double shaftWidth = area.width() * 0.08;
    const double headWidth = area.width() * 0.22;
    const double headLength = area.width() * 0.12;
    const double shaftTop = Map(area, {50, 33}).y();

    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip.x() - headWidth / 2, tip.y() - headLength);
    arrow.lineTo(tip.x() - shaftWidth / 2, tip.y() - headLength);
    arrow.lineTo(tip.x() - shaftWidth / 2, shaftTop);
    arrow.lineTo(tip.x() + shaftWidth / 2, shaftTop);
    arrow.lineTo(tip.x() + shaftWidth / 2, tip.y() - headLength);
    arrow.lineTo(tip.x() + headWidth / 2, tip.y() - headLength);
    arrow.closeSubpath();

    // A dark halo keeps the arrow readable where it crosses the chip.
    painter.setPen(
        QPen(QColor(0x0B, 0x24, 0x3F), unit * 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(amber);
    painter.drawPath(arrow);

    // Data bits trailing the arrow.
    painter.setPen(Qt::NoPen);
    const double block = shaftWidth * 0.6;
    for (int i = 1; i <= 3; ++i) {
        painter.setBrush(QColor(0x8F, 0xD8, 0xEC, 220 - i * 55));
        const double y = shaftTop - i * block * 1.8;
        painter.drawRect(QRectF(tip.x() - block / 2, y, block, block));
    }
}

void PaintName(QPainter& painter, const QRectF& area) {
    QFont name =
        PixelFont(QStringLiteral("DejaVu Sans"), static_cast<int>(area.width() * 0.15 + 0.5), true);
    name.setLetterSpacing(QFont::PercentageSpacing, 112);
    painter.setFont(name);
    painter.setPen(QColor(0xFF, 0xFF, 0xFF));
    const QRectF nameBox(area.left(), area.top() + area.height() * 0.80, area.width(),
                         area.height() * 0.08);
    painter.drawText(nameBox, Qt::AlignHCenter | Qt::AlignBottom, QStringLiteral("VELDRA"));

    // A thin amber rule between the name and the tool's purpose.
    const double ruleY = nameBox.bottom() + area.height() * 0.015;
    painter.fillRect(QRectF(area.left() + area.width() * 0.3, ruleY, area.width() * 0.4,
                            std::max(1.0, area.height() * 0.004)),
                     QColor(0xF2, 0xA5, 0x41));

    const QFont purpose = PixelFont(QStringLiteral("DejaVu Sans"),
                                    static_cast<int>(area.width() * 0.075 + 0.5), false);
    painter.setFont(purpose);
    painter.setPen(QColor(0xB8, 0xE2, 0xEF));
    const QRectF purposeBox(area.left(), ruleY + area.height() * 0.015, area.width(),
                            area.height() * 0.06);
    painter.drawText(purposeBox, Qt::AlignHCenter | Qt::AlignTop,
                     QStringLiteral("Firmware Upload"));
}

} // namespace

void PaintSidePicture(QPainter& painter, const QRectF& area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setClipRect(area);
    const double unit = area.width() / 100.0;
    PaintBackground(painter, area);
    PaintTraces(painter, area, unit);
    PaintChip(painter, area, unit);
    PaintArrow(painter, area, unit);
    PaintName(painter, area);
    painter.restore();
}

QPixmap RenderSidePicture(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    PaintSidePicture(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

QPixmap RenderAppIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(0, 0, size, size);
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    gradient.setColorAt(0.0, QColor(0x0B, 0x24, 0x3F));
    gradient.setColorAt(1.0, QColor(0x16, 0x63, 0x7C));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(tile, size * 0.18, size * 0.18);
    // The emblem of the side picture lies in its upper part; map that part onto the tile.
    const QRectF area(-size * 0.27, -size * 0.39, size * 1.54, size * 2.77);
    const double unit = area.width() / 100.0;
    PaintChip(painter, area, unit);
    PaintArrow(painter, area, unit);
    return pixmap;
}

} // namespace quillon
