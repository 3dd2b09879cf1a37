// The search tool as a station whose ledger is evidence, with simulated cameras on loopback
// addresses of this test's own: a ledger rewritten behind the station's back, or trusted keys that
// cannot be read, stop Apply to all before any camera is written to, saying why; a run that went
// well is sealed by a checkpoint the station signed, and its head is shown.

#include "dialogkit/message_box.h"
#include "ledger/checkpoint.h"
#include "ledger/ledger.h"
#include "ledger/signed_note.h"
#include "ledger/station.h"
#include "link/records.h"
#include "persist/setup_document.h"
#include "searchtool/search_tool_dlg.h"
#include "support/console_fixture.h"
#include "tests/support/ledger_tamper.h"
#include "tools/camsim/simulated_camera.h"

#include <QAbstractButton>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace orv;
using namespace orv::search;
using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

struct Fleet
{
    std::vector<std::unique_ptr<camsim::SimulatedCamera>> cameras;
    std::vector<std::string> addresses;

    // Cameras CAM-1.. on 127.0.86.x; false when the addresses cannot be had.
    bool start(int count)
    {
        for (int n = 1; n <= count; ++n) {
            camsim::CameraOptions options;
            options.listenAddress = "127.0.86." + std::to_string(10 + n);
            options.sdkPort = 0;
            options.log = [](const std::string&) {};
            auto camera = std::make_unique<camsim::SimulatedCamera>(options);
            if (!camera->start()) {
                return false;
            }
            DeviceRecord device = camera->config<DeviceRecord>();
            device.setText(DeviceRecord::deviceId, u"CAM-" + QString::number(n).toStdU16String());
            camera->setConfig(device);
            addresses.push_back(options.listenAddress);
            cameras.push_back(std::move(camera));
        }
        return true;
    }
};

std::size_t setConfigFrames(const camsim::SimulatedCamera& camera)
{
    const auto frames = camera.receivedFrames();
    return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [](const camsim::ReceivedFrame& f) {
        return f.command == static_cast<std::uint16_t>(Command::SetConfig);
    }));
}

void click(CSearchToolDlg& dialog, int id)
{
    auto* button = dialog.dlgItem<QAbstractButton>(id);
    QVERIFY(button && button->isEnabled());
    button->click();
}

} // namespace

class SearchToolEvidenceTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        enterSeamTestMode();
        MessageBox::instance().reset();
        // Each test is a station of its own: its key and witness file in its own data folder.
        home_.emplace();
        QVERIFY(home_->isValid());
        qputenv("XDG_DATA_HOME", home_->path().toUtf8());
        SetupValues setup;
        setup.ssid = u"Evidence Wifi";
        setup.policeId = u"EV-1";
        setupFile_ = home_->filePath(QStringLiteral("unit.xml"));
        QVERIFY(saveSetupFile(setupFile_.toStdU16String(), setup));
        ledgerFile_ = home_->filePath(QStringLiteral("ledger.db"));
    }
    void cleanup()
    {
        leaveSeamTestMode();
        home_.reset();
    }

private:
    SearchToolOptions optionsFor(const Fleet& fleet) const
    {
        SearchToolOptions o;
        o.plan.cameraAddresses = fleet.addresses;
        o.poll = 100ms;
        o.timeout = 2000ms;
        o.language = 2;
        o.ledgerLocation = ledgerFile_;
        return o;
    }

    // The window on the fleet, every camera identified, the setup and an inventory chosen.
    bool openReady(CSearchToolDlg& dialog, const Fleet& fleet)
    {
        if (!dialog.Create()) {
            return false;
        }
        for (const std::string& where : fleet.addresses) {
            const bool ready = QTest::qWaitFor(
                [&] {
                    const QTreeWidgetItem* row = dialog.rowOf(QString::fromStdString(where));
                    return row && row->text(ColumnState) == QStringLiteral("ready");
                },
                10000);
            if (!ready) {
                return false;
            }
        }
        dialog.setDlgItemText(sid::kSetupFile, setupFile_);
        dialog.setDlgItemText(sid::kInventoryFile, home_->filePath(QStringLiteral("inventory.csv")));
        return true;
    }

    // Presses Apply to all and waits for the one message box it must show; its text.
    QString refusalOfApplyToAll(CSearchToolDlg& dialog, const Fleet& fleet)
    {
        for (const auto& camera : fleet.cameras) {
            camera->clearReceivedFrames();
        }
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        click(dialog, sid::kApplyAll);
        if (!QTest::qWaitFor([&] { return !dialog.running() && !MessageBox::instance().prompts().isEmpty(); }, 20000)) {
            return QStringLiteral("<no message box>");
        }
        if (MessageBox::instance().prompts().size() != 1) {
            return QStringLiteral("<%1 message boxes>").arg(MessageBox::instance().prompts().size());
        }
        return MessageBox::instance().prompts().front().text;
    }

private slots:
    void aLedgerRewrittenBehindTheStationsBackStopsApplyToAll()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.86.0/24 for the simulated cameras");
        }
        // Two events this station recorded and sealed, as at an earlier run.
        {
            const ledger::RecordingStart start =
                ledger::startRecording(ledgerFile_.toStdString(), ledger::stationSetup());
            QVERIFY2(start.ok(), start.message.c_str());
            for (const char* officer : {"P-1", "P-2"}) {
                ledger::Event e;
                e.timeUtc = ledger::utcNow();
                e.kind = "provision";
                e.tool = "SearchTool";
                e.officerAfter = officer;
                e.result = "ok";
                QVERIFY(start.recording->ledger->append(e));
            }
            const ledger::Station::Signed sealed = start.recording->station->signCheckpoint(*start.recording->ledger);
            QVERIFY2(sealed.ok, sealed.message.c_str());
        }
        const std::string forged = test::rewriteLastEvent(ledgerFile_.toStdString(), "P-FORGED", "ok");
        QVERIFY2(forged.empty(), forged.c_str());

        CSearchToolDlg dialog(optionsFor(fleet));
        QVERIFY(openReady(dialog, fleet));
        const QString said = refusalOfApplyToAll(dialog, fleet);
        QVERIFY2(
            said.contains(QStringLiteral("the ledger's history changed since this station last saw it at event 2")),
            qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("Nothing was sent.")), qPrintable(said));
        const qsizetype at = said.indexOf(QStringLiteral("The proof is kept in "));
        QVERIFY2(at >= 0, qPrintable(said));
        QString evidence = said.mid(at + 21).trimmed();
        evidence.chop(1); // the sentence's full stop
        QVERIFY2(QFile::exists(evidence), qPrintable(evidence));
        QCOMPARE(MessageBox::instance().prompts().front().icon, QMessageBox::Critical);
        for (const auto& camera : fleet.cameras) {
            QCOMPARE(setConfigFrames(*camera), std::size_t(0));
        }
        QFile inventory(home_->filePath(QStringLiteral("inventory.csv")));
        QVERIFY(!inventory.exists() || (inventory.open(QIODevice::ReadOnly) && inventory.readAll().count('\n') == 1));
        QVERIFY(dialog.GetDlgItem(sid::kApplyAll)->isEnabled());
    }

    void aRunIsSealedByACheckpointTheStationSigned()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.86.0/24 for the simulated cameras");
        }
        CSearchToolDlg dialog(optionsFor(fleet));
        QVERIFY(openReady(dialog, fleet));
        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);

        std::string error;
        const std::unique_ptr<ledger::Ledger> opened = ledger::openLedger(ledgerFile_.toStdString(), error);
        QVERIFY2(opened, error.c_str());
        const ledger::ChainHead head = *opened->head();
        QCOMPARE(head.number, std::int64_t(2));
        QTRY_VERIFY_WITH_TIMEOUT(
            dialog.dlgItemText(sid::kStatus)
                .contains(QStringLiteral("Ledger: event 2, ") + QString::fromStdString(head.hash.substr(0, 16))),
            10000);
        QCOMPARE(dialog.GetDlgItem(sid::kStatus)->toolTip(), QString::fromStdString(head.hash));

        // The checkpoint of both events, signed with this station's key.
        const std::optional<ledger::SignerKey> key =
            ledger::loadOrCreateKey(ledger::defaultStationFolder() / "orv_station.key", ledger::stationKeyName(),
                                    ledger::KeyType::Ed25519, error);
        QVERIFY2(key, error.c_str());
        std::vector<ledger::StoredCheckpoint> stored;
        QVERIFY(opened->readCheckpoints(0, stored));
        QCOMPARE(stored.size(), std::size_t(1));
        QCOMPARE(stored[0].size, std::int64_t(2));
        const std::optional<ledger::Note> note = ledger::parseNote(stored[0].note, error);
        QVERIFY2(note, error.c_str());
        const std::optional<ledger::Checkpoint> checkpoint = ledger::parseCheckpoint(note->text, error);
        QVERIFY2(checkpoint, error.c_str());
        QCOMPARE(checkpoint->origin, opened->origin());
        QCOMPARE(checkpoint->size, std::uint64_t(2));
        QCOMPARE(note->signatures.size(), std::size_t(1));
        QCOMPARE(ledger::checkSignature(key->verifier(), note->text, note->signatures[0]),
                 ledger::SignatureCheck::Verified);
        // Kept on this computer too, where whoever holds the database cannot reach it.
        const std::optional<ledger::WitnessFile> witness =
            ledger::WitnessFile::open(ledger::defaultStationFolder() / "orv_witness.txt", error);
        QVERIFY2(witness, error.c_str());
        QVERIFY(witness->largest(opened->origin()));
        QCOMPARE(witness->largest(opened->origin())->note, stored[0].note);
        QVERIFY(MessageBox::instance().prompts().isEmpty());
    }

    void trustedKeysThatDoNotParseStopApplyToAll()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.86.0/24 for the simulated cameras");
        }
        const QString trusted = home_->filePath(QStringLiteral("dock.keys"));
        {
            QFile file(trusted);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("# the dock's stations\nstation/dock-1 not a key\n");
        }
        SearchToolOptions options = optionsFor(fleet);
        options.trustedKeys = trusted;
        CSearchToolDlg dialog(options);
        QVERIFY(openReady(dialog, fleet));
        const QString said = refusalOfApplyToAll(dialog, fleet);
        QVERIFY2(said.startsWith(QStringLiteral("This station cannot sign the ledger: the trusted keys file ") +
                                 trusted + QStringLiteral(" does not parse: line 2")),
                 qPrintable(said));
        QVERIFY2(said.endsWith(QStringLiteral("Nothing was sent.")), qPrintable(said));
        for (const auto& camera : fleet.cameras) {
            QCOMPARE(setConfigFrames(*camera), std::size_t(0));
        }
    }

private:
    std::optional<QTemporaryDir> home_;
    QString setupFile_;
    QString ledgerFile_;
};

QTEST_MAIN(SearchToolEvidenceTest)
#include "search_tool_evidence_test.moc"
