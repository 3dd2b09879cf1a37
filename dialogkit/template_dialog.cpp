#include "dialogkit/template_dialog.h"

#include "dialogkit/control_names.h"
#include "dialogkit/dialog_builder.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/multi_line_edit.h"
#include "dialogkit/qtext.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

namespace orv {
namespace {

// A caption as it reads: "&&" is one ampersand, a single one only marks the mnemonic.
QString readCaption(const QString& caption)
{
    QString read;
    read.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 >= caption.size() || caption[i + 1] != QLatin1Char('&')) {
                continue;
            }
            ++i;
        }
        read += caption[i];
    }
    return read;
}

} // namespace

TemplateDialog::TemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent)
    , template_(res::findDialogTemplate(templateId))
{
    if (!template_) {
        return;
    }
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (template_->windowStyle & res::WindowSystemMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (template_->windowStyle & res::WindowMinimizeBox) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    const bool resizable = (template_->windowStyle & res::WindowResizable) != 0;
    if (resizable) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    setWindowFlags(flags);
    setWindowTitle(qtext(template_->caption));

    baseUnits_ = dialogBaseUnits(font());
    templateSize_ = dialogUnitsToPixels(QRect(0, 0, template_->width, template_->height), baseUnits_).size();
    if (resizable) {
        setMinimumSize(templateSize_);
        resize(templateSize_);
    } else {
        setFixedSize(templateSize_);
    }
    const BuiltControls built = buildControls(this, *template_, baseUnits_);
    items_ = built.byId;
    order_ = built.inOrder;

    for (const ControlNamer& pair : controlNamers(*template_)) {
        QWidget* input = order_.value(static_cast<qsizetype>(pair.input));
        QWidget* namer = order_.value(static_cast<qsizetype>(pair.namer));
        if (!input || !namer) {
            continue;
        }
        // The buddy is what names a combo box on Linux, where its name is the row it shows and
        // its label reaches screen readers only as the label relation.
        if (auto* label = qobject_cast<QLabel*>(namer)) {
            label->setBuddy(input);
        }
        namedBy_.insert(namer, input);
    }
    for (QWidget* namer : namedBy_.uniqueKeys()) {
        nameInputsOf(namer);
    }

    // The standard commands every dialog keeps.
    if (auto* ok = dlgItem<QAbstractButton>(res::kIdOk)) {
        connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    }
    if (auto* cancel = dlgItem<QAbstractButton>(res::kIdCancel)) {
        connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    }
}

QString TemplateDialog::dlgItemText(int id) const
{
    QWidget* w = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->text();
    }
    if (auto* box = qobject_cast<MultiLineEdit*>(w)) {
        return box->windowText();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        return group->title();
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        return combo->currentText();
    }
    if (auto* ip = qobject_cast<IpAddressEdit*>(w)) {
        return ip->text();
    }
    return {};
}

void TemplateDialog::setDlgItemText(int id, const QString& text)
{
    QWidget* w = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(text);
    } else if (auto* box = qobject_cast<MultiLineEdit*>(w)) {
        box->setWindowText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
        fitCaption(button);
        nameInputsOf(button);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
        fitCaption(label);
        nameInputsOf(label);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(text);
    }
}

void TemplateDialog::nameInputsOf(QWidget* namer)
{
    const auto inputs = namedBy_.equal_range(namer);
    if (inputs.first == inputs.second) {
        return;
    }
    QString caption;
    if (auto* button = qobject_cast<QAbstractButton*>(namer)) {
        caption = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(namer)) {
        caption = label->text();
    }
    const QString name = readCaption(caption);
    for (auto it = inputs.first; it != inputs.second; ++it) {
        setInputName(it.value(), name);
    }
}

bool TemplateDialog::isDlgButtonChecked(int id) const
{
    auto* button = dlgItem<QAbstractButton>(id);
    return button && button->isChecked();
}

void TemplateDialog::checkDlgButton(int id, bool checked)
{
    if (auto* button = dlgItem<QAbstractButton>(id)) {
        button->setChecked(checked);
    }
}

void TemplateDialog::setControlAnchors(std::span<const ControlAnchor> anchors)
{
    anchors_.clear();
    for (const ControlAnchor& anchor : anchors) {
        anchors_.insert(anchor.id, anchor);
    }
    placeAnchoredControls();
}

void TemplateDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    placeAnchoredControls();
}

void TemplateDialog::placeAnchoredControls()
{
    if (anchors_.isEmpty()) {
        return;
    }
    // Below the template's size (a window manager may insist) the controls keep the template's
    // places and are cut off, rather than stretched to nothing or over each other.
    const QSize growth(std::max(0, width() - templateSize_.width()), std::max(0, height() - templateSize_.height()));
    for (QWidget* control : order_) {
        const auto anchor = anchors_.constFind(control->property(kControlIdProperty).toInt());
        if (anchor != anchors_.constEnd()) {
            placeControl(control, anchoredRect(templateGeometry(control), growth, *anchor));
        }
    }
}

bool TemplateDialog::Create()
{
    if (!template_) {
        return false;
    }
    if (!created_) {
        created_ = true;
        OnInitDialog();
    }
    return true;
}

int TemplateDialog::DoModal()
{
    if (!Create()) {
        return -1;
    }
    return exec();
}

void TemplateDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused && focused->isEnabled()) {
            focused->click();
            return;
        }
        // Elsewhere Enter means the default button. A template without one gets nothing: ending
        // the dialog there would throw away everything typed into its form.
        for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (button->isDefault() && button->isEnabled() && button->isVisible()) {
                button->click();
                return;
            }
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace orv
