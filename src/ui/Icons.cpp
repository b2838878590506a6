#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace Icons {

namespace {

QPixmap canvas(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

}  // namespace

QIcon headphones(const QColor& colour) {
    const QIcon themed = QIcon::fromTheme(QStringLiteral("audio-headphones"));
    if (!themed.isNull()) return themed;
    QPixmap pixmap = canvas(64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(10, 8, 44, 44), 0, 180 * 16);  // the band
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(7, 30, 12, 24), 4, 4);  // the ear cups
    p.drawRoundedRect(QRectF(45, 30, 12, 24), 4, 4);
    return QIcon(pixmap);
}

QIcon recordDot(const QColor& colour) {
    QPixmap pixmap = canvas(24);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(0, 0, 24, 24));
    return QIcon(pixmap);
}

}  // namespace Icons
