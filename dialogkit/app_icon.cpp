#include "dialogkit/app_icon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace orv {
namespace {

// A body-worn camera seen from the front: dark body, clip, lens and the red recording light.
// Drawn at whatever size is asked for, when it is asked for, so that start-up pays nothing.
class CameraIconEngine : public QIconEngine
{
public:
    void paint(QPainter* p, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal s = std::min(rect.width(), rect.height());
        p->save();
        p->translate(rect.x() + (rect.width() - s) / 2, rect.y() + (rect.height() - s) / 2);
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(Qt::NoPen);
        const auto colour = [mode](QRgb rgb) {
            const QColor c(rgb);
            return mode == QIcon::Disabled ? QColor(qGray(rgb), qGray(rgb), qGray(rgb)) : c;
        };
        p->setBrush(colour(0x3a4a5c));
        p->drawRoundedRect(QRectF(0.08 * s, 0.2 * s, 0.84 * s, 0.74 * s), 0.12 * s, 0.12 * s);
        p->setBrush(colour(0x26303b));
        p->drawRoundedRect(QRectF(0.3 * s, 0.04 * s, 0.4 * s, 0.22 * s), 0.05 * s, 0.05 * s);
        p->setBrush(colour(0x1b222a));
        p->drawEllipse(QPointF(0.5 * s, 0.56 * s), 0.25 * s, 0.25 * s);
        p->setBrush(colour(0x4f9dde));
        p->drawEllipse(QPointF(0.5 * s, 0.56 * s), 0.14 * s, 0.14 * s);
        p->setBrush(colour(0xe03c31));
        p->drawEllipse(QPointF(0.8 * s, 0.3 * s), 0.05 * s, 0.05 * s);
        p->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new CameraIconEngine; }
};

} // namespace

QIcon applicationIcon()
{
    return QIcon(new CameraIconEngine);
}

} // namespace orv
