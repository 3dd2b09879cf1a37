#pragma once
// A modal dialog built from a template of res/: every control is reached through its identifier,
// as the handlers expect. OnInitDialog runs once, when the dialog is created. A template marked
// resizable gives a window that grows from the template's size; its controls follow the anchors
// the dialog sets.

#include "dialogkit/control_anchor.h"
#include "res/dialog_templates.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QSize>
#include <QString>

#include <span>

namespace orv {

class TemplateDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TemplateDialog(int templateId, QWidget* parent = nullptr);

    // Null when the template has no such control.
    QWidget* GetDlgItem(int id) const { return items_.value(id, nullptr); }
    template <class Widget>
    Widget* dlgItem(int id) const
    {
        return qobject_cast<Widget*>(GetDlgItem(id));
    }
    // The caption or text of a control, whatever its kind; empty for an unknown identifier.
    QString dlgItemText(int id) const;
    void setDlgItemText(int id, const QString& text);
    bool isDlgButtonChecked(int id) const;
    void checkDlgButton(int id, bool checked);

    // Runs OnInitDialog the first time; false when the template could not be found.
    bool Create();
    // Create, then the modal loop. -1 at once when the template could not be found.
    int DoModal();

    const res::DialogTemplate* dialogTemplate() const { return template_; }
    const QList<QWidget*>& controlsInOrder() const { return order_; }
    QSize baseUnits() const { return baseUnits_; }
    // The client size the template gives, in pixels; a resizable window never gets smaller.
    QSize templateSize() const { return templateSize_; }

    // How controls follow the window's size, by identifier (every control of that identifier);
    // the others stay where the template put them. Replaces earlier anchors; applied at once and
    // on every resize.
    void setControlAnchors(std::span<const ControlAnchor> anchors);

protected:
    virtual bool OnInitDialog() { return true; }
    void resizeEvent(QResizeEvent* event) override;
    // Enter clicks the push button that has the focus, else the default button if there is one;
    // Esc cancels.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void placeAnchoredControls();
    // Gives the inputs that `namer`'s caption names (control_names.h) that caption as their name.
    void nameInputsOf(QWidget* namer);

    const res::DialogTemplate* template_ = nullptr;
    QHash<int, QWidget*> items_;
    QList<QWidget*> order_;
    QSize baseUnits_;
    QSize templateSize_;
    QHash<int, ControlAnchor> anchors_;
    QMultiHash<QWidget*, QWidget*> namedBy_; // namer -> the inputs its caption names
    bool created_ = false;
};

} // namespace orv
