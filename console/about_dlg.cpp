#include "console/about_dlg.h"

namespace orv {

CAboutDlg::CAboutDlg(QWidget* parent)
    : TemplateDialog(res::kAboutDialog, parent)
{
}

} // namespace orv
