#pragma once
// Turns a dialog template of res/ into widgets. Dialog units scale with the font, as they are
// defined: x units are a quarter of the average character width, y units an eighth of the
// character height, so the layout holds at any font size or screen scale.

#include "res/dialog_templates.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

namespace orv {

// Name of the dynamic property that carries a control's identifier.
inline constexpr char kControlIdProperty[] = "controlId";

// Average character width and character height of `font`, in pixels.
QSize dialogBaseUnits(const QFont& font);

// A rectangle in dialog units to pixels, rounded as the window system rounds it.
QRect dialogUnitsToPixels(const QRect& units, QSize baseUnits);

struct BuiltControls
{
    QList<QWidget*> inOrder;   // template order, which is the tab order
    QHash<int, QWidget*> byId; // the first control of each identifier
};

// Widens a label or check box whose caption is longer than the width it was placed with, keeping
// the side that faces its box in place; the window system would cut the caption off, which hides
// words of the longer translations. Other controls keep their size.
void fitCaption(QWidget* control);

// Where the template put a control, in pixels; null for a widget not built from a template.
QRect templateGeometry(const QWidget* control);

// Moves a control built from a template to `rect` (its caption fitted as above); later captions
// are fitted to this place rather than the template's.
void placeControl(QWidget* control, const QRect& rect);

// Creates every control of `dialogTemplate` as a child of `dialog`, placed and captioned as the
// template says. Group boxes sit below the controls they frame and never take their clicks.
BuiltControls buildControls(QWidget* dialog, const res::DialogTemplate& dialogTemplate, QSize baseUnits);

} // namespace orv
