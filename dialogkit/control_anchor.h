#pragma once
// How a control of a resizable template dialog follows the window: each of its edges keeps its
// distance either to the left (top) or to the right (bottom) of the client area, so the room the
// window gains goes to the controls that stretch and the rest moves along with their edge.

#include <QRect>
#include <QSize>

#include <cstdint>

namespace orv {

enum class AnchorX : std::uint8_t {
    Left,    // stays where the template put it
    Right,   // moves with the right edge
    Stretch, // left edge stays, right edge moves: takes the width gained
};

enum class AnchorY : std::uint8_t {
    Top,
    Bottom,
    Stretch,
};

struct ControlAnchor
{
    int id;
    AnchorX x = AnchorX::Left;
    AnchorY y = AnchorY::Top;
};

// The rectangle of a control placed at `placed` at the template's size, once the client area has
// grown by `growth`.
QRect anchoredRect(const QRect& placed, QSize growth, const ControlAnchor& anchor);

} // namespace orv
