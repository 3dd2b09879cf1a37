#pragma once
// The About box: template 100, no fields and no handlers of its own.

#include "dialogkit/template_dialog.h"

namespace orv {

class CAboutDlg : public TemplateDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace orv
