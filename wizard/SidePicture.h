#pragma once

#include <QPixmap>
#include <QRectF>
#include <QSize>

class QPainter;

namespace quillon {

// The wizard's side picture: a deep blue panel with faint circuit traces, a chip taking in
// a firmware arrow, and the maker's name at the foot. Drawn from vectors, so it is sharp at
// any size and screen density.
void PaintSidePicture(QPainter& painter, const QRectF& area);
QPixmap RenderSidePicture(const QSize& size);

// The program's icon: the chip and arrow of the side picture on a rounded blue tile.
QPixmap RenderAppIcon(int size);

} // namespace quillon
