#include "searchtool/search_tool_layout.h"

#include "dialogkit/template_dialog.h"
#include "persist/atomic_file.h"
#include "persist/ini_file.h"
#include "persist/settings.h"
#include "searchtool/search_tool_dlg.h"

#include <QEvent>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace orv::search {
namespace {

using X = AnchorX;
using Y = AnchorY;

constexpr std::array<ControlAnchor, 28> kAnchors{{
    {sid::kCamerasLabel, X::Left, Y::Top},
    {sid::kCameraList, X::Stretch, Y::Stretch},
    {sid::kStatus, X::Stretch, Y::Bottom},
    {sid::kProgress, X::Stretch, Y::Bottom},
    {sid::kSetupLabel, X::Left, Y::Bottom},
    {sid::kSetupFile, X::Stretch, Y::Bottom},
    {sid::kBrowseSetup, X::Right, Y::Bottom},
    {sid::kRosterLabel, X::Left, Y::Bottom},
    {sid::kRosterFile, X::Stretch, Y::Bottom},
    {sid::kBrowseRoster, X::Right, Y::Bottom},
    {sid::kInventoryLabel, X::Left, Y::Bottom},
    {sid::kInventoryFile, X::Stretch, Y::Bottom},
    {sid::kBrowseInventory, X::Right, Y::Bottom},
    {sid::kLedgerLabel, X::Left, Y::Bottom},
    {sid::kLedgerLocation, X::Stretch, Y::Bottom},
    {sid::kBrowseLedger, X::Right, Y::Bottom},
    {sid::kUserLabel, X::Left, Y::Bottom},
    {sid::kUser, X::Left, Y::Bottom},
    {sid::kPasswordLabel, X::Left, Y::Bottom},
    {sid::kPassword, X::Left, Y::Bottom},
    {sid::kNotOnRoster, X::Left, Y::Bottom},
    {sid::kApplyAll, X::Left, Y::Bottom},
    {sid::kApplySelected, X::Left, Y::Bottom},
    {sid::kCheckAll, X::Left, Y::Bottom},
    {sid::kRetryFailed, X::Left, Y::Bottom},
    {sid::kStop, X::Left, Y::Bottom},
    {sid::kHistory, X::Left, Y::Bottom},
    {res::kIdCancel, X::Right, Y::Bottom},
}};

constexpr std::u16string_view kWindowSection = u"Window";
constexpr std::u16string_view kColumnWidthsKey = u"ColumnWidths";
constexpr std::u16string_view kSizeKey = u"Size";
constexpr std::u16string_view kMaximizedKey = u"Maximized";

// A narrower column could no longer be grabbed; wider ones are not widths anybody chose.
constexpr int kMinColumnWidth = 8;
constexpr int kMaxColumnWidth = 10000;
constexpr int kMaxWindowSide = 100000;
// Dragging a column edge resizes it many times a second; the file is written once it rests.
constexpr int kSaveDelayMs = 500;

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// Digits only, blanks around them allowed; nothing above `max`.
std::optional<int> readNumber(std::u16string_view text, int max)
{
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    long long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - u'0');
        if (value > max) {
            return std::nullopt;
        }
    }
    return static_cast<int>(value);
}

std::vector<std::u16string_view> splitAtCommas(std::u16string_view text)
{
    std::vector<std::u16string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(u',', start);
        parts.push_back(text.substr(start, comma == std::u16string_view::npos ? comma : comma - start));
        if (comma == std::u16string_view::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

std::u16string numberList(const std::vector<int>& numbers)
{
    QStringList items;
    for (int n : numbers) {
        items << QString::number(n);
    }
    return items.join(QLatin1Char(',')).toStdU16String();
}

} // namespace

std::span<const ControlAnchor> searchToolAnchors()
{
    return kAnchors;
}

void applySearchToolLayout(TemplateDialog& dialog)
{
    dialog.setControlAnchors(kAnchors);
}

ColumnWidthMemory::ColumnWidthMemory(std::filesystem::path file, QObject* parent)
    : QObject(parent)
    , file_(std::move(file))
{
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, [this] { save(); });
    if (file_.empty()) {
        return;
    }
    const IniFile ini = IniFile::load(file_);
    const std::u16string widths = ini.readString(kWindowSection, kColumnWidthsKey, u"");
    if (!widths.empty()) {
        for (std::u16string_view part : splitAtCommas(widths)) {
            const std::optional<int> width = readNumber(part, kMaxColumnWidth);
            savedWidths_.push_back(width && *width >= kMinColumnWidth ? *width : 0);
        }
    }
    const std::u16string sizeText = ini.readString(kWindowSection, kSizeKey, u"");
    const std::vector<std::u16string_view> size = splitAtCommas(sizeText);
    if (size.size() == 2) {
        const std::optional<int> w = readNumber(size[0], kMaxWindowSide);
        const std::optional<int> h = readNumber(size[1], kMaxWindowSide);
        if (w && h && *w > 0 && *h > 0) {
            savedSize_ = QSize(*w, *h);
        }
    }
    savedMaximized_ = readNumber(ini.readString(kWindowSection, kMaximizedKey, u""), 1) == 1;
}

ColumnWidthMemory::~ColumnWidthMemory()
{
    // The widgets may be gone by now: what was last seen of them is written.
    if (widthsPending_) {
        write();
    }
}

void ColumnWidthMemory::restoreColumns(QHeaderView* header)
{
    if (!header) {
        return;
    }
    if (header_) {
        disconnect(header_, nullptr, this, nullptr);
    }
    header_ = header;
    restoreWidths(0, header->count());
    // The section that was last (and so stretched) before new ones came is an ordinary one now.
    connect(header, &QHeaderView::sectionCountChanged, this,
            [this](int oldCount, int newCount) { restoreWidths(std::max(0, oldCount - 1), newCount); });
    connect(header, &QHeaderView::sectionResized, this,
            [this](int logicalIndex, int, int) { onSectionResized(logicalIndex); });
    captureColumns();
}

void ColumnWidthMemory::restoreWidths(int from, int to)
{
    if (!header_) {
        return;
    }
    const int lastSection = header_->logicalIndex(header_->count() - 1);
    restoring_ = true;
    for (int i = from; i < to && i < static_cast<int>(savedWidths_.size()); ++i) {
        const int width = savedWidths_[static_cast<std::size_t>(i)];
        if (width > 0 && !(header_->stretchLastSection() && i == lastSection)) {
            header_->resizeSection(i, width);
        }
    }
    restoring_ = false;
}

void ColumnWidthMemory::onSectionResized(int logicalIndex)
{
    if (restoring_ || !header_) {
        return;
    }
    captureColumns();
    // A stretched last section changes with the window, not because the user chose a width.
    if (header_->stretchLastSection() && logicalIndex == header_->logicalIndex(header_->count() - 1)) {
        return;
    }
    widthsPending_ = true;
    saveTimer_.start();
}

void ColumnWidthMemory::captureColumns()
{
    widths_.clear();
    for (int i = 0; i < header_->count(); ++i) {
        widths_.push_back(header_->sectionSize(i));
    }
}

void ColumnWidthMemory::restoreWindow(QWidget* window)
{
    if (!window) {
        return;
    }
    if (window_) {
        window_->removeEventFilter(this);
    }
    window_ = window;
    if (savedSize_.isValid()) {
        QSize size = savedSize_;
        // A size saved on a larger screen would put the window's edges out of reach.
        if (const QScreen* screen = window->screen()) {
            size = size.boundedTo(screen->availableGeometry().size());
        }
        window->resize(size.expandedTo(window->minimumSize()));
    }
    if (savedMaximized_) {
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    }
    captureWindow();
    window->installEventFilter(this);
}

void ColumnWidthMemory::captureWindow()
{
    const Qt::WindowStates state = window_->windowState();
    if (state & Qt::WindowMinimized) {
        return; // what it was before stands
    }
    maximized_ = (state & Qt::WindowMaximized) != 0;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        // The size to come back to is the one it had before; Qt keeps it, even when the window
        // manager reports the maximised size before the maximised state.
        const QRect normal = window_->normalGeometry();
        if (normal.isValid()) {
            normalSize_ = normal.size();
        }
    } else {
        normalSize_ = window_->size();
    }
}

bool ColumnWidthMemory::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_) {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::WindowStateChange:
                captureWindow();
                break;
            case QEvent::Hide:
                save();
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool ColumnWidthMemory::save()
{
    if (header_) {
        captureColumns();
    }
    if (window_) {
        captureWindow();
    }
    return write();
}

bool ColumnWidthMemory::write()
{
    widthsPending_ = false;
    saveTimer_.stop();
    if (file_.empty() || (widths_.empty() && !normalSize_.isValid())) {
        return false;
    }
    const FileContents contents = readWholeFile(file_);
    if (contents.outcome == ReadOutcome::Failed) {
        return false; // never replace what could not be read
    }
    IniFile ini = contents.outcome == ReadOutcome::Read ? IniFile::fromBytes(contents.bytes) : IniFile{};
    if (!widths_.empty()) {
        ini.setValue(kWindowSection, kColumnWidthsKey, numberList(widths_));
    }
    if (normalSize_.isValid()) {
        ini.setValue(kWindowSection, kSizeKey, numberList({normalSize_.width(), normalSize_.height()}));
        ini.setValue(kWindowSection, kMaximizedKey, maximized_ ? u"1" : u"0");
    }
    const std::string bytes = ini.toBytes();
    if (contents.outcome == ReadOutcome::Read && bytes == contents.bytes) {
        return true;
    }
    return replaceFileContents(file_, bytes);
}

ColumnWidthMemory* rememberSearchToolWindow(TemplateDialog& dialog, std::filesystem::path file)
{
    auto* memory = new ColumnWidthMemory(std::move(file), &dialog);
    if (auto* list = dialog.dlgItem<QTreeView>(sid::kCameraList)) {
        memory->restoreColumns(list->header());
    }
    memory->restoreWindow(&dialog);
    return memory;
}

} // namespace orv::search
