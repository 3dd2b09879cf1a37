#include "dialogkit/control_anchor.h"

namespace orv {

QRect anchoredRect(const QRect& placed, QSize growth, const ControlAnchor& anchor)
{
    QRect rect = placed;
    switch (anchor.x) {
        case AnchorX::Left:
            break;
        case AnchorX::Right:
            rect.translate(growth.width(), 0);
            break;
        case AnchorX::Stretch:
            rect.setWidth(rect.width() + growth.width());
            break;
    }
    switch (anchor.y) {
        case AnchorY::Top:
            break;
        case AnchorY::Bottom:
            rect.translate(0, growth.height());
            break;
        case AnchorY::Stretch:
            rect.setHeight(rect.height() + growth.height());
            break;
    }
    return rect;
}

} // namespace orv
