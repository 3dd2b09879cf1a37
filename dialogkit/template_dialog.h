#pragma once
// A modal dialog built from a template of res/: every control is reached through its identifier,
// as the handlers expect. OnInitDialog runs once, when the dialog is created.

#include "res/dialog_templates.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QSize>
#include <QString>

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

protected:
    virtual bool OnInitDialog() { return true; }
    // Enter clicks the push button that has the focus, else the default button if there is one;
    // Esc cancels.
    void keyPressEvent(QKeyEvent* event) override;

private:
    const res::DialogTemplate* template_ = nullptr;
    QHash<int, QWidget*> items_;
    QList<QWidget*> order_;
    QSize baseUnits_;
    bool created_ = false;
};

} // namespace orv
