// The search tool's window as it grows: template 131 alone is resizable, its controls follow
// the window without overlapping, and the column widths and window size come back from the
// per-user file, which a bad value or a failed write never spoils.

#include "dialogkit/dialog_builder.h"
#include "dialogkit/template_dialog.h"
#include "persist/atomic_file.h"
#include "persist/settings.h"
#include "searchtool/search_tool_dlg.h"
#include "searchtool/search_tool_layout.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace orv;
using namespace orv::search;

namespace {

const QList<int> kDefaultWidths{150, 120, 90, 90, 120, 80};

// Template 131 laid out as the search tool lays it out, its list with the tool's seven columns.
struct Window
{
    TemplateDialog dialog{res::kSearchToolDialog};
    QTreeWidget* list = dialog.dlgItem<QTreeWidget>(sid::kCameraList);

    explicit Window(const std::filesystem::path& file = {})
    {
        applySearchToolLayout(dialog);
        list->setColumnCount(7);
        list->header()->setStretchLastSection(true);
        for (int i = 0; i < kDefaultWidths.size(); ++i) {
            list->setColumnWidth(i, kDefaultWidths[i]);
        }
        if (!file.empty()) {
            rememberSearchToolWindow(dialog, file);
        }
    }
    QList<int> widths() const
    {
        QList<int> out;
        for (int i = 0; i < kDefaultWidths.size(); ++i) {
            out << list->columnWidth(i);
        }
        return out;
    }
    QRect placed(int id) const { return templateGeometry(dialog.GetDlgItem(id)); }
    QRect at(int id) const { return dialog.GetDlgItem(id)->geometry(); }
};

// Visible controls that cover each other, as "id/id".
QStringList overlaps(const TemplateDialog& dialog)
{
    QStringList found;
    const QList<QWidget*>& controls = dialog.controlsInOrder();
    for (int i = 0; i < controls.size(); ++i) {
        if (!dialog.rect().contains(controls[i]->geometry())) {
            found << QStringLiteral("%1/window").arg(controls[i]->property(kControlIdProperty).toInt());
        }
        for (int j = i + 1; j < controls.size(); ++j) {
            if (!controls[i]->isHidden() && !controls[j]->isHidden() &&
                controls[i]->geometry().intersects(controls[j]->geometry())) {
                found << QStringLiteral("%1/%2")
                             .arg(controls[i]->property(kControlIdProperty).toInt())
                             .arg(controls[j]->property(kControlIdProperty).toInt());
            }
        }
    }
    return found;
}

std::filesystem::path stateFile(const QTemporaryDir& folder)
{
    return std::filesystem::path(folder.path().toStdU16String()) / kSearchToolStateFileName;
}

QByteArray fileBytes(const std::filesystem::path& file)
{
    return QByteArray::fromStdString(readWholeFile(file).bytes);
}

} // namespace

class SearchToolLayoutTest : public QObject
{
    Q_OBJECT
private slots:
    void onlyTheSearchToolGrows();
    void controlsFollowTheWindow_data();
    void controlsFollowTheWindow();
    void captionsOfEveryLanguageFit();
    void widthsSizeAndStateComeBack();
    void widthsAreWrittenOnceTheDragRests();
    void badValuesAreIgnored_data();
    void badValuesAreIgnored();
    void aFailedWriteKeepsTheFile();
};

void SearchToolLayoutTest::onlyTheSearchToolGrows()
{
    for (int id : {res::kAboutDialog, res::kConsoleDialog, res::kGb28181Dialog}) {
        TemplateDialog fixed(id);
        QCOMPARE(fixed.minimumSize(), fixed.templateSize());
        QCOMPARE(fixed.maximumSize(), fixed.templateSize());
        QVERIFY(!(fixed.windowFlags() & Qt::WindowMaximizeButtonHint));
    }
    Window w;
    QCOMPARE(w.dialog.size(), w.dialog.templateSize());
    QCOMPARE(w.dialog.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(w.dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    w.dialog.resize(100, 100);
    QCOMPARE(w.dialog.size(), w.dialog.templateSize());

    auto* progress = w.dialog.dlgItem<QProgressBar>(sid::kProgress);
    QVERIFY(progress && progress->isTextVisible());
    QCOMPARE(progress->maximum(), 100);
    for (int id : {sid::kCheckAll, sid::kRetryFailed}) {
        QVERIFY(w.dialog.dlgItem<QPushButton>(id));
        QCOMPARE(w.at(id).y(), w.at(sid::kApplyAll).y());
    }
}

void SearchToolLayoutTest::controlsFollowTheWindow_data()
{
    QTest::addColumn<QSize>("growth");
    QTest::newRow("minimum") << QSize(0, 0);
    QTest::newRow("wider") << QSize(310, 0);
    QTest::newRow("taller") << QSize(0, 470);
    QTest::newRow("large") << QSize(1100, 700);
}

void SearchToolLayoutTest::controlsFollowTheWindow()
{
    QFETCH(QSize, growth);
    Window w;
    w.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.dialog));
    const QSize size = w.dialog.templateSize() + growth;
    w.dialog.resize(size);
    QTRY_COMPARE(w.dialog.size(), size);

    QCOMPARE(w.at(sid::kCameraList),
             QRect(w.placed(sid::kCameraList).topLeft(), w.placed(sid::kCameraList).size() + growth));
    // Right and bottom margins as the template has them.
    const auto margins = [&](const QRect& r, QSize client) {
        return QSize(client.width() - r.right(), client.height() - r.bottom());
    };
    QCOMPARE(margins(w.at(res::kIdCancel), size), margins(w.placed(res::kIdCancel), w.dialog.templateSize()));
    for (int id : {sid::kStatus, sid::kProgress}) {
        QCOMPARE(w.at(id).width(), w.placed(id).width() + growth.width());
        QCOMPARE(w.at(id).top() - w.at(sid::kCameraList).bottom(),
                 w.placed(id).top() - w.placed(sid::kCameraList).bottom());
    }
    for (int edit : {sid::kSetupFile, sid::kRosterFile, sid::kInventoryFile}) {
        const int browse = edit + 1;
        QCOMPARE(margins(w.at(browse), size), margins(w.placed(browse), w.dialog.templateSize()));
        QCOMPARE(w.at(edit).left(), w.placed(edit).left());
        QCOMPARE(w.at(browse).left() - w.at(edit).right(), w.placed(browse).left() - w.placed(edit).right());
    }
    QCOMPARE(w.at(sid::kApplyAll).topLeft(), w.placed(sid::kApplyAll).topLeft() + QPoint(0, growth.height()));
    QCOMPARE(overlaps(w.dialog), QStringList());
}

// The longest translations at the smallest size: a caption wider than its control widens it, and
// must not run into the neighbour; one set after a resize is fitted to the control's new place.
void SearchToolLayoutTest::captionsOfEveryLanguageFit()
{
    const std::array<std::pair<int, SearchText>, 8> captions{{
        {sid::kCamerasLabel, SearchText::CamerasLabel},
        {sid::kSetupLabel, SearchText::SetupLabel},
        {sid::kRosterLabel, SearchText::RosterLabel},
        {sid::kInventoryLabel, SearchText::InventoryLabel},
        {sid::kUserLabel, SearchText::UserLabel},
        {sid::kPasswordLabel, SearchText::PasswordLabel},
        {sid::kNotOnRoster, SearchText::NotOnRosterCheck},
        {sid::kStatus, SearchText::StatusStopping},
    }};
    for (std::uint8_t language : {0, 1, 2}) {
        Window w;
        for (const auto& [id, text] : captions) {
            w.dialog.setDlgItemText(id, searchText(text, language));
        }
        QCOMPARE(overlaps(w.dialog), QStringList());
        w.dialog.resize(w.dialog.templateSize() + QSize(200, 100));
        w.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dialog));
        w.dialog.setDlgItemText(sid::kStatus,
                                searchText(SearchText::Summary, language).arg(40).arg(31).arg(4).arg(3).arg(2));
        QCOMPARE(w.at(sid::kStatus), w.placed(sid::kStatus).translated(0, 100).adjusted(0, 0, 200, 0));
    }
}

void SearchToolLayoutTest::widthsSizeAndStateComeBack()
{
    QTemporaryDir folder;
    const std::filesystem::path file = stateFile(folder);
    QVERIFY(replaceFileContents(file, "; kept\r\n[Other]\r\nKey=1\r\n"));
    // Taller only: the offscreen screen is narrower than the template.
    const QSize size = Window().dialog.templateSize() + QSize(0, 20);
    const QList<int> widths{210, 95, 60, 140, 100, 70};
    {
        Window first(file);
        first.dialog.resize(size);
        for (int i = 0; i < widths.size(); ++i) {
            first.list->setColumnWidth(i, widths[i]);
        }
        first.dialog.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&first.dialog));
        QTRY_VERIFY(first.dialog.size() != size);
        first.dialog.dlgItem<QPushButton>(res::kIdCancel)->click();
    }
    // The size to come back to is the one before the window was maximised.
    const QByteArray text = fileBytes(file);
    QVERIFY2(text.startsWith("; kept\r\n[Other]\r\nKey=1\r\n"), text.constData());
    QVERIFY2(text.contains("ColumnWidths=210,95,60,140,100,70,"), text.constData());
    QVERIFY2(
        text.contains(QStringLiteral("Size=%1,%2\r\nMaximized=1\r\n").arg(size.width()).arg(size.height()).toLatin1()),
        text.constData());

    Window second(file);
    QCOMPARE(second.widths(), widths);
    QVERIFY(second.dialog.windowState() & Qt::WindowMaximized);
    second.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second.dialog));
    QCOMPARE(second.dialog.normalGeometry().size(), size);

    // A size from a larger screen is held to this one's.
    QVERIFY(replaceFileContents(file, "[Window]\nSize=100000,100000\n"));
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    QCOMPARE(Window(file).dialog.size(), screen.expandedTo(second.dialog.templateSize()));

    CSettings settings;
    QVERIFY(searchToolStateFile(settings).empty());
    settings.Init(file.parent_path());
    QCOMPARE(searchToolStateFile(settings), file);
}

void SearchToolLayoutTest::widthsAreWrittenOnceTheDragRests()
{
    QTemporaryDir folder;
    Window w(stateFile(folder));
    w.list->header()->resizeSection(1, 211);
    w.list->header()->resizeSection(1, 212);
    QTRY_VERIFY(fileBytes(stateFile(folder)).contains("ColumnWidths=150,212,90,"));
}

void SearchToolLayoutTest::badValuesAreIgnored_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QList<int>>("widths");
    const QList<int> d = kDefaultWidths;
    // clang-format off
    QTest::newRow("binary") << QByteArray("\xff\xfe\x00[\x00W\x00\r\x00\x01\x02", 11) << d;
    QTest::newRow("words") << QByteArray("[Window]\nColumnWidths=wide,narrow\nSize=big\nMaximized=yes\n") << d;
    QTest::newRow("out of range") << QByteArray("[Window]\nColumnWidths=0,3,99999,-5\nSize=0,0\nMaximized=2\n") << d;
    QTest::newRow("signs and gaps") << QByteArray("[Window]\nColumnWidths=+150,1 20\nSize=-800,600\nMaximized=-1\n") << d;
    QTest::newRow("empty") << QByteArray("[Window]\nColumnWidths=\nSize=,\nMaximized=\n") << d;
    QTest::newRow("half a size") << QByteArray("[Window]\nSize=900\nMaximized=1 0\n") << d;
    QTest::newRow("huge number") << QByteArray("[Window]\nSize=99999999999999999999,1\n") << d;
    QTest::newRow("one bad width") << QByteArray("[Window]\nColumnWidths=x,200,,91\n") << QList<int>{150, 200, 90, 91, 120, 80};
    QTest::newRow("more widths than columns") << QByteArray("[Window]\nColumnWidths=1,2,3,4,5,6,7,8,9\n") << d;
    // clang-format on
}

void SearchToolLayoutTest::badValuesAreIgnored()
{
    QFETCH(QByteArray, contents);
    QFETCH(QList<int>, widths);
    QTemporaryDir folder;
    QVERIFY(replaceFileContents(stateFile(folder), contents.toStdString()));
    Window w(stateFile(folder));
    QCOMPARE(w.widths(), widths);
    QCOMPARE(w.dialog.size(), w.dialog.templateSize());
    QVERIFY(!(w.dialog.windowState() & Qt::WindowMaximized));
}

void SearchToolLayoutTest::aFailedWriteKeepsTheFile()
{
    QTemporaryDir folder;
    const std::filesystem::path file = stateFile(folder);
    const std::string before = "[Window]\r\nColumnWidths=100,100\r\nSize=2000,1500\r\nMaximized=0\r\n; the end\r\n";
    QVERIFY(replaceFileContents(file, before));
    Window w;
    ColumnWidthMemory memory(file);
    memory.restoreColumns(w.list->header());
    w.list->setColumnWidth(0, 300);
    simulateDiskFullAfter(8);
    const bool saved = memory.save();
    simulateDiskFullAfter(std::nullopt);
    QVERIFY(!saved);
    QCOMPARE(readWholeFile(file).bytes, before);
    QVERIFY(!ColumnWidthMemory({}).save());
}

QTEST_MAIN(SearchToolLayoutTest)
#include "search_tool_layout_test.moc"
