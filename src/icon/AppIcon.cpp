// Drawing the icon: a chip with a row of pins on each side and an arrow bringing new
// firmware into it, on a rounded tile. Laid out on a 256-unit grid and scaled.
#include "icon/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace zentrop {

QImage AppIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);

    p.setBrush(QColor(0x1F, 0x4E, 0x79));
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);

    // Pins first, so the body covers their inner ends.
    p.setBrush(QColor(0xC8, 0xD1, 0xDA));
    for (int i = 0; i < 5; ++i) {
        const double y = 118 + i * 22;
        p.drawRect(QRectF(44, y, 34, 10));
        p.drawRect(QRectF(178, y, 34, 10));
    }
    p.setBrush(QColor(0x20, 0x24, 0x2A));
    p.drawRoundedRect(QRectF(68, 104, 120, 124), 10, 10);
    p.setBrush(QColor(0x4A, 0x52, 0x5C));
    p.drawEllipse(QPointF(86, 122), 7, 7);

    // The arrow into the chip.
    QPainterPath arrow;
    arrow.moveTo(112, 28);
    arrow.lineTo(144, 28);
    arrow.lineTo(144, 92);
    arrow.lineTo(172, 92);
    arrow.lineTo(128, 150);
    arrow.lineTo(84, 92);
    arrow.lineTo(112, 92);
    arrow.closeSubpath();
    p.setBrush(QColor(0x3C, 0xC1, 0x6E));
    p.drawPath(arrow);
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}

} // namespace zentrop
