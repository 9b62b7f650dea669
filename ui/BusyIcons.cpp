#include "BusyIcons.h"

#include <QPainter>
#include <cmath>
#include <numbers>

namespace tervalo {

QPixmap BusyFrame(int frame, int size) {
    frame = ((frame % BusyFrameCount) + BusyFrameCount) % BusyFrameCount;
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double c = size / 2.0;
    const double ring = size * 0.34;
    const double dot = size * 0.13;
    for (int i = 0; i < BusyFrameCount; ++i) {
        const double a = i * 2.0 * std::numbers::pi / BusyFrameCount - std::numbers::pi / 2.0;
        const QPointF centre(c + ring * std::cos(a), c + ring * std::sin(a));
        // The lit dot and a fading tail behind it show the direction of turning.
        const int behind = (frame - i + BusyFrameCount) % BusyFrameCount;
        QColor col = behind == 0 ? QColor(0x80, 0x00, 0x00) : QColor(0x00, 0x00, 0x80);
        col.setAlpha(behind == 0 ? 255 : std::max(60, 220 - behind * 32));
        p.setPen(Qt::NoPen);
        p.setBrush(col);
        const double r = behind == 0 ? dot * 1.35 : dot;
        p.drawEllipse(centre, r, r);
    }
    return pm;
}

}  // namespace tervalo
