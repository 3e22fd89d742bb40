#include "station_icon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap STATION_IconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // The handset: a dark body with a light screen and a keypad.
    p.setPen(QPen(QColor(20, 30, 45), 1.2));
    p.setBrush(QColor(52, 66, 88));
    p.drawRoundedRect(QRectF(4.5, 2.5, 15, 27), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 205, 240));
    p.drawRect(QRectF(7, 6, 10, 8));
    p.setBrush(QColor(210, 215, 225));
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            p.drawEllipse(QRectF(7.2 + col * 3.6, 16.5 + row * 3.6, 2.4, 2.4));
        }
    }

    // The arrow: down, into the handset.
    QPainterPath arrow;
    arrow.moveTo(24.5, 3);
    arrow.lineTo(28.5, 3);
    arrow.lineTo(28.5, 14);
    arrow.lineTo(31.5, 14);
    arrow.lineTo(26.5, 21);
    arrow.lineTo(21.5, 14);
    arrow.lineTo(24.5, 14);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(10, 90, 30), 1.0));
    p.setBrush(QColor(40, 180, 70));
    p.drawPath(arrow);
    return pixmap;
}

QIcon STATION_Icon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(STATION_IconPixmap(size));
    return icon;
}
