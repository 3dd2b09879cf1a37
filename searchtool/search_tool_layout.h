#pragma once
// How the search tool's window uses the room it is given: how each control of template 131
// follows the window's size, and the column widths, size and maximised state remembered per user
// in "orv_searchtool.ini" beside the settings file in use.

#include "dialogkit/control_anchor.h"
#include "persist/ledger_location.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>

#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

class QHeaderView;
class QWidget;

namespace orv {
class CSettings;
class TemplateDialog;
} // namespace orv

namespace orv::search {

// Every control of template 131 and how it follows the window: the camera list takes the room the
// window gains, the rows under it move down, the file edits widen and Close keeps its corner.
std::span<const ControlAnchor> searchToolAnchors();

// Gives the dialog (of template 131) those anchors; once, when the dialog is set up.
void applySearchToolLayout(TemplateDialog& dialog);

// Remembers the widths of a list's columns and a window's size and maximised state in section
// "Window" of an INI file: ColumnWidths=150,120,..., Size=W,H, Maximized=0|1. A value that does not
// read as one of these is ignored and the default kept; writes replace the file whole, or leave it
// as it was. Nothing is read or written with an empty path.
class ColumnWidthMemory : public QObject
{
    Q_OBJECT
public:
    explicit ColumnWidthMemory(std::filesystem::path file, QObject* parent = nullptr);
    // Writes widths changed since the last write.
    ~ColumnWidthMemory() override;

    // Gives the header's sections their remembered widths (sections added later too) and writes
    // the widths the user gives them a moment after the last change. Call once the columns have
    // their default widths. A stretched last section follows the list and is not restored.
    void restoreColumns(QHeaderView* header);
    // Gives the window its remembered size (within its minimum size and the screen) and maximised
    // state; both are written when it is hidden. Call before the window is shown.
    void restoreWindow(QWidget* window);
    // Writes what is remembered now; false when the file was left as it was.
    bool save();

    const std::filesystem::path& file() const { return file_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restoreWidths(int from, int to);
    void onSectionResized(int logicalIndex);
    void captureColumns();
    void captureWindow();
    bool write();

    std::filesystem::path file_;
    QPointer<QHeaderView> header_;
    QPointer<QWidget> window_;
    QTimer saveTimer_;
    std::vector<int> savedWidths_; // from the file; 0 where the default stays
    QSize savedSize_;
    bool savedMaximized_ = false;
    // What is written: as last seen, so that a write after the widgets are gone still has it.
    std::vector<int> widths_;
    QSize normalSize_;
    bool maximized_ = false;
    bool restoring_ = false;
    bool widthsPending_ = false;
};

// Remembers the column widths of the camera list and the dialog's size in `file`; the memory
// belongs to the dialog. Call from OnInitDialog after the list's columns are set up.
ColumnWidthMemory* rememberSearchToolWindow(TemplateDialog& dialog, std::filesystem::path file);

} // namespace orv::search
