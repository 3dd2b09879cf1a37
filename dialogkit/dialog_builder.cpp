#include "dialogkit/dialog_builder.h"

#include "dialogkit/app_icon.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/multi_line_edit.h"
#include "dialogkit/qtext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVariant>

#include <algorithm>

namespace orv {
namespace {

// Where the template put a control, and where it is now (a resizable window moves it), in pixels.
constexpr char kTemplateGeometryProperty[] = "templateGeometry";
constexpr char kPlacedGeometryProperty[] = "placedGeometry";

int mulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

QWidget* createControl(QWidget* dialog, const res::ControlTemplate& c, const QRect& rect)
{
    using K = res::ControlKind;
    const QString caption = qtext(c.caption);
    switch (c.kind) {
        case K::PushButton:
        case K::DefPushButton: {
            auto* button = new QPushButton(caption, dialog);
            // Enter clicks the button that has the focus (see the dialogs' key handling); no button
            // becomes the default behind the operator's back.
            button->setAutoDefault(c.kind == K::DefPushButton);
            button->setDefault(c.kind == K::DefPushButton);
            return button;
        }
        case K::Edit:
            return new QLineEdit(caption, dialog);
        case K::MultiLineEdit: {
            auto* edit = new MultiLineEdit(dialog);
            edit->setWindowText(caption);
            return edit;
        }
        case K::ComboBox: {
            auto* combo = new QComboBox(dialog);
            combo->setInsertPolicy(QComboBox::NoInsert);
            return combo;
        }
        case K::IpAddress:
            return new IpAddressEdit(dialog);
        case K::CheckBox: {
            auto* box = new QCheckBox(caption, dialog);
            if (c.style & res::StyleLabelLeft) {
                box->setLayoutDirection(Qt::RightToLeft);
            }
            return box;
        }
        case K::GroupBox: {
            auto* group = new QGroupBox(caption, dialog);
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            group->setFocusPolicy(Qt::NoFocus);
            return group;
        }
        case K::Label: {
            auto* label = new QLabel(dialog);
            // Captions come from a file: never let one be taken for markup.
            label->setTextFormat(Qt::PlainText);
            label->setText(caption);
            return label;
        }
        case K::ListView: {
            auto* list = new QTreeWidget(dialog);
            list->setRootIsDecorated(false);
            list->setUniformRowHeights(true);
            list->setAllColumnsShowFocus(true);
            list->setSelectionMode(QAbstractItemView::ExtendedSelection);
            list->setSelectionBehavior(QAbstractItemView::SelectRows);
            return list;
        }
        case K::ProgressBar: {
            auto* bar = new QProgressBar(dialog);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(true);
            return bar;
        }
        case K::Icon: {
            auto* label = new QLabel(dialog);
            const int side = std::min(rect.width(), rect.height());
            label->setPixmap(applicationIcon().pixmap(side, side));
            return label;
        }
    }
    return nullptr;
}

} // namespace

void fitCaption(QWidget* control)
{
    const QRect placed = control->property(kPlacedGeometryProperty).toRect();
    if (placed.isNull() || !(qobject_cast<QLabel*>(control) || qobject_cast<QCheckBox*>(control))) {
        return;
    }
    const int width = std::max(placed.width(), control->sizeHint().width());
    if (control->layoutDirection() == Qt::RightToLeft) {
        control->setGeometry(placed.right() + 1 - width, placed.y(), width, placed.height());
    } else {
        control->setGeometry(placed.x(), placed.y(), width, placed.height());
    }
}

QRect templateGeometry(const QWidget* control)
{
    return control->property(kTemplateGeometryProperty).toRect();
}

void placeControl(QWidget* control, const QRect& rect)
{
    control->setGeometry(rect);
    control->setProperty(kPlacedGeometryProperty, rect);
    fitCaption(control);
}

QSize dialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int alphabetWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabetWidth / 26 + 1) / 2, metrics.height()};
}

QRect dialogUnitsToPixels(const QRect& units, QSize baseUnits)
{
    return {mulDiv(units.x(), baseUnits.width(), 4), mulDiv(units.y(), baseUnits.height(), 8),
            mulDiv(units.width(), baseUnits.width(), 4), mulDiv(units.height(), baseUnits.height(), 8)};
}

BuiltControls buildControls(QWidget* dialog, const res::DialogTemplate& dialogTemplate, QSize baseUnits)
{
    BuiltControls built;
    QList<QWidget*> groupBoxes;
    for (const res::ControlTemplate& c : dialogTemplate.controls) {
        QRect rect = dialogUnitsToPixels(QRect(c.x, c.y, c.w, c.h), baseUnits);
        QWidget* w = createControl(dialog, c, rect);
        if (c.kind == res::ControlKind::ComboBox) {
            // The template's height includes the dropped-down list; closed, a combo box is as
            // tall as the font makes it.
            rect.setHeight(std::min(rect.height(), w->sizeHint().height()));
        }
        w->setProperty(kTemplateGeometryProperty, rect);
        placeControl(w, rect);
        w->setProperty(kControlIdProperty, c.id);
        w->setObjectName(QStringLiteral("control%1").arg(c.id));
        if (c.style & res::StyleHidden) {
            w->hide();
        }
        if (c.kind == res::ControlKind::GroupBox) {
            groupBoxes.append(w);
        }
        built.inOrder.append(w);
        if (!built.byId.contains(c.id)) {
            built.byId.insert(c.id, w);
        }
    }
    for (QWidget* group : groupBoxes) {
        group->lower();
    }
    return built;
}

} // namespace orv
