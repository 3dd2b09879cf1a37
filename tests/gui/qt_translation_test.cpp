// Qt's own texts follow the operator's language: the button of a real message box reads "OK" in
// English and Qt's catalogue's word in the two Chinese languages, whether the box comes from the
// console (switched with its language combo), from the GB28181 dialog it opens, or from the
// search tool; choosing English again takes Qt's catalogue away.

#include "console/orv_camera_dlg.h"
#include "dialogkit/message_box.h"
#include "dialogkit/qt_translation.h"
#include "gb28181/camera_sdk.h"
#include "gb28181/gb28181_dlg.h"
#include "support/console_fixture.h"
#ifdef ORV_WITH_SEARCH_TOOL
#include "searchtool/search_tool_dlg.h"
#include "searchtool/search_tool_texts.h"
#endif

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace orv;
using namespace orv::testing;

namespace {

// What the OK button says in each language (Qt's catalogues: qtbase_zh_CN.qm, qtbase_zh_TW.qm).
const QString kOk[] = {QStringLiteral("确定"), QStringLiteral("確定"), QStringLiteral("OK")};

struct SeenBox
{
    QString text;
    QString ok; // the OK button's text, its mnemonic marker removed
};

// Runs `open`, which brings up a message box modally, reads the box and clicks it away. Nothing
// seen: `open` returned without a box.
SeenBox nextBox(const std::function<void()>& open)
{
    SeenBox seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        poll.stop();
        seen.text = box->text();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            seen.ok = ok->text().remove(QLatin1Char('&'));
        }
        box->done(QMessageBox::Ok);
    });
    poll.start();
    open();
    return seen;
}

// The operator picks a row of the language combo with the keyboard, as the combo's own keys do.
void chooseLanguage(COrvCameraDlg& dialog, int row)
{
    QTest::keyClick(dialog.languageCombo, Qt::Key_Home);
    for (int i = 0; i < row; ++i) {
        QTest::keyClick(dialog.languageCombo, Qt::Key_Down);
    }
    QCOMPARE(dialog.languageCombo->currentIndex(), row);
}

// An SDK that refuses every login at once: the GB28181 dialog's Get then says so in a box.
class RefusingSdk : public gb28181::CameraSdk
{
public:
    int init() override { return 0; }
    int login(const char*, int, const char*, const char*, gb28181::LoginStatusCallback, void*) override { return 0; }
    int loginOut(int) override { return 0; }
    int getConfig(int, int, int, void*, int*) override { return -1; }
    int setConfig(int, int, int, const void*, int) override { return -1; }
    int closeStream(int, int, int) override { return 0; }
};

} // namespace

class QtTranslationTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void consoleSwitchFollowsWithQtTexts();
    void englishTakesTheCatalogueAway();
    void searchToolBoxInItsLanguage_data();
    void searchToolBoxInItsLanguage();
};

void QtTranslationTest::init()
{
    // The catalogues come with Qt's translations (qt6-translations-l10n, which scripts/setup.sh
    // installs; the Windows build copies them into translations/ beside the programs).
    for (std::uint8_t language : {0, 1}) {
        if (qtTranslationFile(language).isEmpty()) {
            const QByteArray why = "Qt's catalogue qtbase_" + qtTranslationLocale(language).toLatin1() +
                                   ".qm is in none of " + qtTranslationFolders().join(QLatin1String(", ")).toUtf8() +
                                   ": install qt6-translations-l10n (scripts/setup.sh)";
            QSKIP(why.constData());
        }
    }
    // Real boxes: the test reads and clicks them itself.
    MessageBox::instance().leaveTestMode();
    FileDialog::instance().enterTestMode([](const FilePrompt& prompt) {
        QTest::qFail(("unexpected file prompt " + prompt.proposedName.toUtf8()).constData(), __FILE__, __LINE__);
    });
}

void QtTranslationTest::cleanup()
{
    useQtTranslation(2);
    FileDialog::instance().leaveTestMode();
    MessageBox::instance().reset();
}

void QtTranslationTest::consoleSwitchFollowsWithQtTexts()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    dialog.show();
    const auto consoleBox = [&] { return nextBox([&] { MessageBox::instance().show(&dialog, QStringLiteral("?")); }); };
    QCOMPARE(consoleBox().ok, kOk[2]);

    for (int language : {0, 1, 2, 1}) {
        chooseLanguage(dialog, language);
        QCOMPARE(consoleBox().ok, kOk[language]);
    }

    // The GB28181 dialog is the console's: its boxes speak the console's language too.
    RefusingSdk sdk;
    gb28181::installCameraSdk(&sdk);
    const auto restoreSdk = qScopeGuard([] { gb28181::installCameraSdk(nullptr); });
    CGB28181Dlg gb28181(&dialog, &sdk);
    gb28181.cameraAddress = QStringLiteral("127.0.0.1");
    QVERIFY(gb28181.Create());
    gb28181.show();
    const SeenBox refused = nextBox([&] { gb28181.OnConfigGet(); });
    QCOMPARE(refused.text, QStringLiteral("Login NetworkProtocol Error"));
    QCOMPARE(refused.ok, kOk[1]);
}

void QtTranslationTest::englishTakesTheCatalogueAway()
{
    QVERIFY(useQtTranslation(0));
    QCOMPARE(installedQtTranslation(), QStringLiteral("zh_CN"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), kOk[0]);
    // Another language replaces the catalogue rather than stacking a second one on it.
    QVERIFY(useQtTranslation(1));
    QCOMPARE(installedQtTranslation(), QStringLiteral("zh_TW"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), kOk[1]);
    QVERIFY(useQtTranslation(2));
    QCOMPARE(installedQtTranslation(), QString());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("OK"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    // A language index outside 0..2 is Simplified Chinese, as everywhere else in the program.
    QVERIFY(useQtTranslation(7));
    QCOMPARE(installedQtTranslation(), QStringLiteral("zh_CN"));
}

void QtTranslationTest::searchToolBoxInItsLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::newRow("simplified chinese") << 0;
    QTest::newRow("traditional chinese") << 1;
    QTest::newRow("english") << 2;
}

void QtTranslationTest::searchToolBoxInItsLanguage()
{
#ifdef ORV_WITH_SEARCH_TOOL
    QFETCH(int, language);
    useQtTranslation(language == 2 ? 0 : 2); // whatever came before, the window sets its own
    QTemporaryDir folder;
    search::SearchToolOptions options;
    options.plan.cameraAddresses = {"127.0.85.250"}; // nothing listens there
    options.language = static_cast<std::uint8_t>(language);
    options.ledgerLocation = folder.filePath(QStringLiteral("ledger.db"));
    search::CSearchToolDlg dialog(options);
    QVERIFY(dialog.Create());
    dialog.show();
    // No camera to set: the tool says so in a box of its own.
    const SeenBox box = nextBox([&] { dialog.OnApplyAll(); });
    QCOMPARE(box.text, search::searchText(search::SearchText::NoCameras, options.language));
    QCOMPARE(box.ok, kOk[language]);
#else
    QSKIP("the search tool is not part of this build");
#endif
}

QTEST_MAIN(QtTranslationTest)
#include "qt_translation_test.moc"
