#include "searchtool/search_tool_dlg.h"

#include "dialogkit/file_dialog.h"
#include "dialogkit/instance_marker.h"
#include "dialogkit/message_box.h"
#include "dialogkit/qt_translation.h"
#include "lang/utf.h"
#include "orv_version.h"
#include "persist/ledger_location.h"
#include "persist/login_record.h"
#include "persist/setup_document.h"
#include "provision/camera_groups.h"
#include "provision/camera_identity.h"
#include "provision/setup_apply.h"
#include "report/report_fonts.h"
#include "searchtool/ledger_history_dlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPointer>
#include <QTreeWidget>

#include <algorithm>
#include <array>
#include <cstdio>

namespace orv::search {
namespace {

using D = CSearchToolDlg;
using provision::CameraResult;
using provision::RunMode;

constexpr std::array<D::Route, 10> kRoutes{{
    {sid::kBrowseSetup, &D::OnBrowseSetup},
    {sid::kBrowseRoster, &D::OnBrowseRoster},
    {sid::kBrowseInventory, &D::OnBrowseInventory},
    {sid::kApplyAll, &D::OnApplyAll},
    {sid::kApplySelected, &D::OnApplySelected},
    {sid::kCheckAll, &D::OnCheckAll},
    {sid::kRetryFailed, &D::OnRetryFailed},
    {sid::kStop, &D::OnStop},
    {sid::kBrowseLedger, &D::OnBrowseLedger},
    {sid::kHistory, &D::OnHistory},
}};

QString fromUtf16(const std::u16string& s)
{
    return QString::fromStdU16String(s);
}

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::filesystem::path pathOf(const QString& file)
{
    return std::filesystem::path(file.toStdU16String());
}

} // namespace

std::span<const CSearchToolDlg::Route> CSearchToolDlg::routes()
{
    return kRoutes;
}

CSearchToolDlg::CSearchToolDlg(SearchToolOptions options, QWidget* parent)
    : TemplateDialog(res::kSearchToolDialog, parent)
    , options_(std::move(options))
    , mailbox_(std::make_shared<UiMailbox>(this))
    , desk_(std::make_unique<LedgerDesk>())
{
    origin_.tool = "SearchTool";
    origin_.toolVersion = kProgramVersion;
    for (const Route& route : kRoutes) {
        if (auto* button = dlgItem<QAbstractButton>(route.id)) {
            connect(button, &QAbstractButton::clicked, this, [this, handler = route.handler] { (this->*handler)(); });
        }
    }
}

CSearchToolDlg::~CSearchToolDlg()
{
    closeWork();
    // The window is gone (or was never shown); the watch ends its look, each camera at work its step.
    watch_.reset();
    runner_.reset();
    desk_.reset();
}

QTreeWidget* CSearchToolDlg::cameraList() const
{
    return dlgItem<QTreeWidget>(sid::kCameraList);
}

QTreeWidgetItem* CSearchToolDlg::rowOf(const QString& where) const
{
    const auto it = rows_.find(where.toStdString());
    return it == rows_.end() ? nullptr : it->second.item;
}

bool CSearchToolDlg::OnInitDialog()
{
    applySearchToolLayout(*this);
    if (auto* list = cameraList()) {
        list->setColumnCount(kColumnCount);
        list->header()->setStretchLastSection(true);
        list->setColumnWidth(ColumnWhere, 150);
        list->setColumnWidth(ColumnDeviceId, 120);
        list->setColumnWidth(ColumnOfficerId, 90);
        list->setColumnWidth(ColumnOfficerName, 90);
        list->setColumnWidth(ColumnClock, 90);
        list->setColumnWidth(ColumnState, 120);
        list->setColumnWidth(ColumnResult, 120);
        connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { updateControls(); });
        // In the order of the docks, whatever order the cameras answered in; a click on a column
        // header sorts by that column.
        list->setSortingEnabled(true);
        list->sortByColumn(ColumnWhere, Qt::AscendingOrder);
    }
    if (!options_.layoutFile.empty()) {
        rememberSearchToolWindow(*this, options_.layoutFile);
    }
    if (auto* password = dlgItem<QLineEdit>(sid::kPassword)) {
        password->setEchoMode(QLineEdit::Password);
    }
    if (auto* progress = dlgItem<QProgressBar>(sid::kProgress)) {
        progress->setRange(0, 100);
        progress->setValue(0);
    }
    setDlgItemText(sid::kUser, fromUtf16(std::u16string(LoginRecord::kDefaultUser)));
    setDlgItemText(sid::kPassword, fromUtf16(std::u16string(LoginRecord::kDefaultPassword)));
    setDlgItemText(sid::kInventoryFile, options_.inventoryFile);
    setDlgItemText(sid::kRosterFile, options_.rosterFile);
    setDlgItemText(sid::kLedgerLocation, options_.ledgerLocation);
    desk_->setSpoolListener([mailbox = mailbox_, this](const LedgerDesk::SpoolState& state) {
        mailbox->post([this, state] { showSpool(state); });
    });
    desk_->setTrustedKeys(pathOf(options_.trustedKeys));
    desk_->setLocation(options_.ledgerLocation.trimmed().toStdString());
    if (auto* edit = dlgItem<QLineEdit>(sid::kLedgerLocation)) {
        connect(edit, &QLineEdit::editingFinished, this, [this] { useLedgerLocation(); });
    }
    if (!options_.setupFile.isEmpty()) {
        setDlgItemText(sid::kSetupFile, options_.setupFile);
        useSetupAccount(options_.setupFile);
    }
    // A new account is the one the cameras are identified with from then on.
    for (int id : {sid::kUser, sid::kPassword}) {
        if (auto* edit = dlgItem<QLineEdit>(id)) {
            connect(edit, &QLineEdit::editingFinished, this, [this] {
                if (!running()) {
                    useAccount();
                }
            });
        }
    }
    applyTexts();
    setInstanceMarker(this, kSearchToolMarker, kMarkerValue);
    startWork();
    updateControls();
    return true;
}

void CSearchToolDlg::reject()
{
    // The next Batch press starts a new search tool instead of finding this one, which may still
    // be waiting for a camera to finish its step. First: under Wine without a window manager,
    // hiding a window waits two seconds for the window manager.
    clearInstanceMarker(this, kSearchToolMarker);
    closeWork();
    // Gone from the screen at once. The cameras at work finish their step on their own threads;
    // the window waits for none of them: the destructor does, once the event loop has returned.
    hide();
    TemplateDialog::reject();
}

void CSearchToolDlg::closeWork()
{
    closing_ = true;
    mailbox_->close();
    desk_->close();
    if (watch_) {
        watch_->requestStop();
    }
    if (run_) {
        run_->stop();
    }
}

void CSearchToolDlg::applyTexts()
{
    useQtTranslation(options_.language);
    setWindowTitle(text(SearchText::Title));
    const std::array<std::pair<int, SearchText>, 19> captions{{
        {sid::kCamerasLabel, SearchText::CamerasLabel},
        {sid::kSetupLabel, SearchText::SetupLabel},
        {sid::kRosterLabel, SearchText::RosterLabel},
        {sid::kInventoryLabel, SearchText::InventoryLabel},
        {sid::kUserLabel, SearchText::UserLabel},
        {sid::kPasswordLabel, SearchText::PasswordLabel},
        {sid::kNotOnRoster, SearchText::NotOnRosterCheck},
        {sid::kBrowseSetup, SearchText::Browse},
        {sid::kBrowseRoster, SearchText::Browse},
        {sid::kBrowseInventory, SearchText::Browse},
        {sid::kApplyAll, SearchText::ApplyAll},
        {sid::kApplySelected, SearchText::ApplySelected},
        {sid::kCheckAll, SearchText::CheckAll},
        {sid::kRetryFailed, SearchText::RetryFailed},
        {sid::kStop, SearchText::Stop},
        {res::kIdCancel, SearchText::Close},
        {sid::kLedgerLabel, SearchText::LedgerLabel},
        {sid::kBrowseLedger, SearchText::Browse},
        {sid::kHistory, SearchText::History},
    }};
    for (const auto& [id, t] : captions) {
        setDlgItemText(id, text(t));
    }
    if (auto* list = cameraList()) {
        list->setHeaderLabels({text(SearchText::ColumnWhere), text(SearchText::ColumnDeviceId),
                               text(SearchText::ColumnOfficerId), text(SearchText::ColumnOfficerName),
                               text(SearchText::ColumnClock), text(SearchText::ColumnState),
                               text(SearchText::ColumnResult), text(SearchText::ColumnConfigured)});
    }
}

void CSearchToolDlg::startWork()
{
    registry_ = std::make_shared<provision::CameraRegistry>();
    runner_ = std::make_unique<provision::FleetRunner>(options_.parallel, registry_);
    provision::WatchSettings settings;
    settings.plan = options_.plan;
    settings.poll = options_.poll;
    settings.scan.user = dlgItemText(sid::kUser).toStdU16String();
    settings.scan.password = dlgItemText(sid::kPassword).toStdU16String();
    settings.scan.port = options_.port;
    settings.scan.replyTimeout = options_.timeout;
    watch_ = std::make_unique<provision::CameraWatch>(
        settings, registry_,
        [mailbox = mailbox_, this](const provision::WatchEvent& e) { mailbox->post([this, e] { onWatchEvent(e); }); });
    std::string error;
    if (!watch_->start(&error)) {
        say(text(SearchText::WorkerFailed).arg(fromUtf8(error)), QMessageBox::Critical);
        return;
    }
    setDlgItemText(sid::kStatus, text(SearchText::StatusLooking));
}

void CSearchToolDlg::useAccount()
{
    if (watch_) {
        watch_->setLogin(dlgItemText(sid::kUser).toStdU16String(), dlgItemText(sid::kPassword).toStdU16String());
    }
}

CSearchToolDlg::CameraRow& CSearchToolDlg::rowFor(const fleet::Candidate& candidate)
{
    const std::string label = candidate.label();
    auto [it, added] = rows_.try_emplace(label);
    CameraRow& row = it->second;
    if (added) {
        row.item = new QTreeWidgetItem(cameraList());
        row.item->setText(ColumnWhere, fromUtf8(label));
        row.item->setData(ColumnWhere, Qt::UserRole, fromUtf8(label));
    }
    // Reached through what was found last: an adapter plugged in again may have another index.
    row.candidate = candidate;
    return row;
}

void CSearchToolDlg::onWatchEvent(const provision::WatchEvent& event)
{
    using K = provision::WatchEventKind;
    if (event.kind == K::Problem) {
        if (options_.closeWhenDone) {
            std::fprintf(stderr, "SearchTool: %s\n", event.problem.c_str());
        }
        auto* item = new QTreeWidgetItem(cameraList());
        item->setText(ColumnWhere, fromUtf8(event.problem));
        item->setDisabled(true);
        return;
    }
    if (event.kind == K::Looked) {
        applyWhenEnoughAreReady();
        return;
    }
    CameraRow& row = rowFor(event.candidate);
    if (row.busy) {
        return; // the run reports on it
    }
    QTreeWidgetItem* item = row.item;
    switch (event.kind) {
        case K::Found:
            if (!row.present) {
                // Another camera may sit where the last one was: nothing of that one is shown.
                for (int c = ColumnDeviceId; c < kColumnCount; ++c) {
                    item->setText(c, QString());
                    item->setToolTip(c, QString());
                }
                row.finished = false;
                row.lastResult.reset();
            }
            row.present = true;
            row.identified = false;
            item->setText(ColumnState, text(SearchText::StateFound));
            item->setDisabled(false);
            break;
        case K::Identified:
            if (!row.present) {
                row.finished = false;
                row.lastResult.reset();
                item->setText(ColumnResult, QString());
            }
            row.present = true;
            row.identified = event.camera.identified();
            item->setDisabled(false);
            if (row.identified) {
                if (row.deviceId != event.camera.deviceId) {
                    row.lastResult.reset(); // another camera than the one the result was for
                }
                if (row.deviceId != event.camera.deviceId) {
                    item->setText(ColumnConfigured, QString());
                    lookUpConfigured({utf::toUtf8(event.camera.deviceId)});
                }
                row.deviceId = event.camera.deviceId;
                item->setText(ColumnDeviceId, fromUtf16(event.camera.deviceId));
                item->setText(ColumnOfficerId, fromUtf16(event.camera.policeId));
                item->setText(ColumnOfficerName, fromUtf16(event.camera.policeName));
                item->setText(ColumnClock, clockText(event.camera.clockOffset));
                // After a run this is the read-back of what the camera now holds; the state is
                // set with the twins.
                item->setToolTip(ColumnState, QString());
            } else {
                item->setText(ColumnState, text(SearchText::StateNoId));
                item->setToolTip(ColumnState, fromUtf8(event.camera.problem));
            }
            break;
        case K::Gone:
            row.present = false;
            row.identified = false;
            row.deviceId.clear();
            item->setText(ColumnState, text(SearchText::StateGone));
            item->setDisabled(true);
            break;
        case K::Problem:
        case K::Looked:
            break;
    }
    markTwins();
    updateControls();
    // An unattended run takes a camera in as soon as it is ready, unless a roster makes it wait for
    // the look's end (handOverWhen).
    if (event.kind == K::Identified && row.identified &&
        provision::handOverWhen(!dlgItemText(sid::kRosterFile).trimmed().isEmpty()) ==
            provision::HandOver::OnIdentified) {
        applyWhenEnoughAreReady();
    }
}

void CSearchToolDlg::markTwins()
{
    // Twins as the runner sees them, so a row is flagged exactly when its camera gets no officer.
    for (auto& [label, row] : rows_) {
        const bool twin = (row.present || row.busy) && !registry_->othersWithDeviceId(label, row.deviceId).empty();
        QTreeWidgetItem* item = row.item;
        item->setToolTip(ColumnDeviceId,
                         twin ? text(SearchText::DuplicateFlag).arg(fromUtf16(row.deviceId)) : QString());
        item->setForeground(ColumnDeviceId, twin ? QBrush(Qt::red) : QBrush());
        if (!row.busy && row.identified) {
            item->setText(ColumnState, text(twin           ? SearchText::ResultDuplicate
                                            : row.finished ? SearchText::StateDone
                                                           : SearchText::StateReady));
        }
    }
}

void CSearchToolDlg::useSetupAccount(const QString& setupFile)
{
    const SetupReadResult read = loadSetupFile(pathOf(setupFile));
    if (!read.ok()) {
        return; // said when the setup is applied
    }
    for (const SetupElement& e : read.elements) {
        if (e.part == SetupPart::Camera && !e.values.cameraUser.empty()) {
            setDlgItemText(sid::kUser, fromUtf16(e.values.cameraUser));
            setDlgItemText(sid::kPassword, fromUtf16(e.values.cameraPassword));
        }
    }
    if (!running()) {
        useAccount();
    }
}

void CSearchToolDlg::say(const QString& message, QMessageBox::Icon icon)
{
    if (options_.closeWhenDone || options_.keepApplying) {
        std::fprintf(stderr, "SearchTool: %s\n", message.toLocal8Bit().constData());
        return;
    }
    MessageBox::instance().show(this, message, text(SearchText::Title), icon);
}

void CSearchToolDlg::applyWhenEnoughAreReady()
{
    if (options_.applyAllWhen == 0 || closing_) {
        return;
    }
    if (autoApplied_) {
        if (!options_.keepApplying) {
            return;
        }
        // A dock station left to itself: each camera plugged in later, once, as soon as it is ready.
        const auto fresh = presentLabels([](const CameraRow& r) { return r.identified && !r.busy && !r.finished; });
        if (fresh.empty()) {
            return;
        }
        if (run_) {
            for (const std::string& label : fresh) {
                if (!addToRun(label)) {
                    break;
                }
            }
            updateControls();
        } else {
            work(fresh, RunMode::Apply);
        }
        return;
    }
    const auto ready = std::count_if(rows_.begin(), rows_.end(), [](const auto& r) { return r.second.identified; });
    if (static_cast<std::size_t>(ready) < options_.applyAllWhen || running()) {
        return;
    }
    autoApplied_ = true;
    OnApplyAll();
    if (!running() && options_.closeWhenDone) {
        closeUnattended(1); // refused before anything was sent: said on standard error
    }
}

void CSearchToolDlg::closeUnattended(int exitCode)
{
    exitCode_ = exitCode;
    // Once the handler in hand has returned: the window may be deep in a signal of its own.
    QMetaObject::invokeMethod(
        this, [this] { reject(); }, Qt::QueuedConnection);
}

bool CSearchToolDlg::chooseFileFor(int editId, SearchText title, SearchText filter, const QString& suffix)
{
    const QString file =
        FileDialog::instance().getOpenFileName(this, text(title), dlgItemText(editId), text(filter), suffix);
    if (file.isEmpty()) {
        return false;
    }
    setDlgItemText(editId, file);
    return true;
}

void CSearchToolDlg::OnBrowseSetup()
{
    if (chooseFileFor(sid::kSetupFile, SearchText::ChooseSetupTitle, SearchText::SetupFilter, QStringLiteral("xml"))) {
        useSetupAccount(dlgItemText(sid::kSetupFile));
    }
}

void CSearchToolDlg::OnBrowseRoster()
{
    chooseFileFor(sid::kRosterFile, SearchText::ChooseRosterTitle, SearchText::RosterFilter, QStringLiteral("csv"));
}

void CSearchToolDlg::OnBrowseInventory()
{
    // Rows are appended to an existing inventory, never written over it: no overwrite question.
    const QString file = FileDialog::instance().getSaveFileName(
        this, text(SearchText::ChooseInventoryTitle), dlgItemText(sid::kInventoryFile),
        text(SearchText::InventoryFilter), QStringLiteral("csv"), false);
    if (!file.isEmpty()) {
        setDlgItemText(sid::kInventoryFile, file);
    }
}

std::vector<std::string> CSearchToolDlg::presentLabels(const std::function<bool(const CameraRow&)>& wanted) const
{
    std::vector<std::string> labels;
    for (const auto& [label, row] : rows_) {
        if (row.present && !row.busy && wanted(row)) {
            labels.push_back(label);
        }
    }
    return labels;
}

void CSearchToolDlg::OnApplyAll()
{
    // Cameras still being identified are taken too: the runner waits until the watch lets go.
    work(presentLabels([](const CameraRow&) { return true; }), RunMode::Apply);
}

void CSearchToolDlg::OnCheckAll()
{
    work(presentLabels([](const CameraRow&) { return true; }), RunMode::Check);
}

void CSearchToolDlg::OnRetryFailed()
{
    // This session's outcome first, also of a camera plugged in again since; for a camera not run
    // since the window opened, the inventory's.
    const QString inventory = dlgItemText(sid::kInventoryFile).trimmed();
    provision::InventoryHistory history =
        inventory.isEmpty() ? provision::InventoryHistory{} : provision::readInventoryHistory(pathOf(inventory));
    history.update(sessionOutcomes_);
    const auto failed = [&](const CameraRow& row) {
        if (row.lastResult) {
            return *row.lastResult != CameraResult::Verified;
        }
        return !row.deviceId.empty() && history.lastFailed(row.deviceId, {});
    };
    const std::vector<std::string> labels = presentLabels(failed);
    if (labels.empty()) {
        say(text(SearchText::NoRetry), QMessageBox::Information);
        return;
    }
    work(labels, RunMode::Apply);
}

void CSearchToolDlg::OnApplySelected()
{
    std::vector<std::string> labels;
    for (const QTreeWidgetItem* item : cameraList()->selectedItems()) {
        const auto it = rows_.find(item->data(ColumnWhere, Qt::UserRole).toString().toStdString());
        if (it != rows_.end() && it->second.present && !it->second.busy) {
            labels.push_back(it->first);
        }
    }
    if (labels.empty()) {
        say(text(SearchText::NoneSelected), QMessageBox::Information);
        return;
    }
    work(labels, RunMode::Apply);
}

void CSearchToolDlg::OnStop()
{
    if (starting_ && !stopping_) {
        stopping_ = true; // the run does not start once the ledger has answered
        setDlgItemText(sid::kStatus, text(SearchText::StatusStopping));
        updateControls();
        return;
    }
    if (run_ && !stopping_) {
        stopping_ = true;
        run_->stop();
        setDlgItemText(sid::kStatus, text(SearchText::StatusStopping));
        updateControls();
    }
}

bool CSearchToolDlg::prepareRun(provision::FleetSettings& settings, RunMode mode)
{
    auto refuse = [&](const QString& message) {
        say(message, QMessageBox::Warning);
        return false;
    };
    const QString setupFile = dlgItemText(sid::kSetupFile).trimmed();
    const QString rosterFile = dlgItemText(sid::kRosterFile).trimmed();
    // A roster alone is a job of its own: each camera on it gets its officer, and nothing else.
    if (setupFile.isEmpty() && rosterFile.isEmpty()) {
        return refuse(text(SearchText::NoSetup));
    }
    settings.eventTemplate = provision::startEvent(origin_, mode == RunMode::Check ? "check" : "provision");
    if (!setupFile.isEmpty()) {
        const SetupReadResult setup = loadSetupFile(pathOf(setupFile));
        if (!setup.ok()) {
            return refuse(text(SearchText::SetupUnreadable).arg(setupFile, fromUtf8(setup.message)));
        }
        settings.plan = provision::planSetup(setup.elements);
        // The events name the bytes planned from, not the file as it may be by the time a camera is done.
        provision::noteSetupFile(settings.eventTemplate, pathOf(setupFile), setup.bytes);
    }

    roster_.reset();
    if (!rosterFile.isEmpty()) {
        fleet::RosterLoad load = fleet::loadRoster(pathOf(rosterFile));
        if (!load.ok()) {
            QStringList problems;
            for (const fleet::RosterProblem& p : load.problems) {
                problems << fromUtf8(fleet::describe(p));
            }
            return refuse(text(SearchText::RosterRefused).arg(rosterFile, problems.join(QLatin1Char('\n'))));
        }
        roster_ = std::make_shared<const fleet::Roster>(std::move(load.roster));
        settings.roster = roster_;
    } else if (settings.plan.empty()) {
        // A roster alone is a job (it writes each camera's officer); a setup alone must hold a group.
        return refuse(text(SearchText::SetupEmpty).arg(setupFile));
    }

    inventoryPath_ = dlgItemText(sid::kInventoryFile).trimmed();
    if (inventoryPath_.isEmpty()) {
        inventoryPath_ = options_.inventoryFile;
        setDlgItemText(sid::kInventoryFile, inventoryPath_);
    }
    // Opened (and created with its header) before anything is sent: an inventory that cannot be
    // written stops the run here, not after the first camera.
    inventory_ = std::make_shared<provision::FleetInventory>();
    std::string error;
    if (!inventory_->open(pathOf(inventoryPath_), error)) {
        inventory_.reset();
        return refuse(text(SearchText::InventoryRefused).arg(inventoryPath_, fromUtf8(error)));
    }

    settings.user = dlgItemText(sid::kUser).toStdU16String();
    settings.password = dlgItemText(sid::kPassword).toStdU16String();
    // Without a setup file there is nothing to give a camera that is not on the roster.
    settings.notOnRoster = isDlgButtonChecked(sid::kNotOnRoster) && !setupFile.isEmpty()
                               ? provision::NotOnRoster::UseSetup
                               : provision::NotOnRoster::Skip;
    settings.mode = mode;
    settings.vanishedIsNoCamera = true; // every camera comes from the watch
    settings.timeout = options_.timeout;
    settings.port = options_.port;
    return true;
}

void CSearchToolDlg::work(const std::vector<std::string>& labels, RunMode mode)
{
    if (running() || closing_) {
        return;
    }
    if (labels.empty()) {
        say(text(SearchText::NoCameras), QMessageBox::Information);
        return;
    }
    provision::FleetSettings settings;
    if (!prepareRun(settings, mode)) {
        return;
    }
    // The ledger may be a database across the network: it is opened and asked for its head on the
    // desk's thread, and the run starts when it has answered. Nothing is sent before.
    starting_ = true;
    runMode_ = mode;
    setDlgItemText(sid::kStatus, text(SearchText::StatusOpeningLedger));
    updateControls();
    desk_->prepareRun([mailbox = mailbox_, this, labels, settings](const LedgerDesk::Opened& opened) {
        mailbox->post([this, labels, settings, opened]() mutable {
            startRun(std::move(labels), std::move(settings), opened);
        });
    });
}

void CSearchToolDlg::startRun(std::vector<std::string> labels, provision::FleetSettings settings,
                              const LedgerDesk::Opened& ledger)
{
    starting_ = false;
    if (closing_) {
        return;
    }
    if (stopping_) {
        stopping_ = false;
        inventory_.reset();
        updateControls();
        return;
    }
    if (!ledger.ok()) {
        inventory_.reset();
        updateControls();
        using Refusal = ledger::RecordingStart::Refusal;
        if (ledger.refusal == Refusal::Forked) {
            say(text(SearchText::LedgerForked).arg(fromUtf8(ledger.problem), fromUtf8(ledger.evidence)),
                QMessageBox::Critical);
        } else if (ledger.refusal == Refusal::Station) {
            say(text(SearchText::StationUnusable).arg(fromUtf8(ledger.problem)), QMessageBox::Warning);
        } else if (ledger.refusal == Refusal::NoRoom) {
            say(text(SearchText::NoRoomForOutcomes).arg(fromUtf8(ledger.problem)), QMessageBox::Warning);
        } else {
            say(text(SearchText::LedgerUnreachable).arg(fromUtf8(ledger.where), fromUtf8(ledger.problem)),
                QMessageBox::Warning);
        }
        if (options_.closeWhenDone && autoApplied_) {
            closeUnattended(1);
        }
        return;
    }
    settings.ledger = ledger.ledger;
    // Cameras that went while the ledger was looked at are not started.
    std::erase_if(labels, [this](const std::string& label) {
        const CameraRow& row = rows_.at(label);
        return !row.present || row.busy;
    });
    if (labels.empty()) {
        inventory_.reset();
        updateControls();
        say(text(SearchText::NoCameras), QMessageBox::Information);
        if (options_.closeWhenDone && autoApplied_) {
            closeUnattended(1);
        }
        return;
    }
    stopping_ = false;
    allVerified_ = true;
    runCameras_.clear();
    runAdded_ = 0;
    runFinished_ = 0;
    const unsigned generation = ++runGeneration_;
    // A run left to itself (--keep-applying) may see cameras all day: only its tally is kept.
    run_ = std::make_shared<provision::FleetRun>(
        std::move(settings), inventory_,
        [mailbox = mailbox_, this, generation](const provision::CameraProgress& p) {
            mailbox->post([this, generation, p] { onProgress(generation, p); });
        },
        provision::Outcomes::TallyOnly);
    for (const std::string& label : labels) {
        if (!addToRun(label)) {
            break;
        }
    }
    if (runCameras_.empty()) {
        run_.reset();
    }
    updateControls();
}

bool CSearchToolDlg::addToRun(const std::string& label)
{
    CameraRow& row = rows_.at(label);
    std::string error;
    const auto number = runner_->add(run_, row.candidate, &error);
    if (!number) {
        run_->stop();
        say(text(SearchText::WorkerFailed).arg(fromUtf8(error)), QMessageBox::Critical);
        return false;
    }
    row.busy = true;
    row.finished = false;
    row.item->setText(ColumnState, text(SearchText::StateQueued));
    row.item->setText(ColumnResult, QString());
    row.item->setToolTip(ColumnResult, QString());
    runCameras_[*number] = label;
    ++runAdded_;
    return true;
}

QString CSearchToolDlg::clockText(const std::optional<std::int64_t>& offset) const
{
    return offset ? text(SearchText::ClockOffset).arg(fromUtf8(provision::signedSeconds(*offset))) : QString();
}

QString CSearchToolDlg::stateText(const provision::CameraProgress& p) const
{
    using S = provision::CameraStep;
    const QString group = fromUtf8(std::string(provision::groupName(p.group)));
    switch (p.step) {
        case S::Queued:
            return text(SearchText::StateQueued);
        case S::Connecting:
            return text(SearchText::StateConnecting);
        case S::LoggingIn:
            return text(SearchText::StateLoggingIn);
        case S::Identifying:
            return text(SearchText::StateIdentifying);
        case S::Sent:
            return text(SearchText::StateSending).arg(group);
        case S::ReadBack:
            return text(SearchText::StateReadingBack).arg(group);
        case S::Checked:
            return text(SearchText::StateChecking).arg(group);
        case S::Finished:
            break;
    }
    return text(SearchText::StateDone);
}

QString CSearchToolDlg::resultText(const provision::CameraProgress& p) const
{
    const bool check = runMode_ == RunMode::Check;
    const QString differences = fromUtf8(provision::differenceList(p.differences));
    switch (p.result) {
        case CameraResult::Verified:
            return text(check ? SearchText::ResultCheckOk : SearchText::ResultOk);
        case CameraResult::Differs:
            return text(check ? SearchText::ResultCheckDiffers : SearchText::ResultDiffers).arg(differences);
        case CameraResult::NotOnRoster:
            return text(SearchText::ResultNotOnRoster);
        case CameraResult::DuplicateId:
            return text(SearchText::ResultDuplicate);
        case CameraResult::Stopped:
            return text(SearchText::ResultStopped);
        case CameraResult::LoginRefused:
            return text(SearchText::ResultLoginRefused);
        case CameraResult::Unreachable:
            return text(SearchText::ResultUnreachable).arg(fromUtf8(p.message));
        case CameraResult::Pending:
        case CameraResult::Vanished:
            break;
    }
    return {};
}

void CSearchToolDlg::onProgress(unsigned generation, const provision::CameraProgress& p)
{
    const auto label = runCameras_.find(p.camera);
    if (!run_ || generation != runGeneration_ || label == runCameras_.end()) {
        return; // from a run that is over
    }
    CameraRow& row = rows_.at(label->second);
    QTreeWidgetItem* item = row.item;
    item->setText(ColumnState, stateText(p));
    if (!p.deviceId.empty()) {
        item->setText(ColumnDeviceId, fromUtf16(p.deviceId));
        row.deviceId = p.deviceId;
    }
    if (p.clockOffset) {
        item->setText(ColumnClock, clockText(p.clockOffset));
    }
    if (p.step != provision::CameraStep::Finished) {
        return;
    }
    if (p.result == CameraResult::Vanished) {
        // Pulled out after the watch saw it: no camera, no result; the watch says it is gone, or
        // identifies it again should it still be there (nothing is started on it before that).
        item->setText(ColumnState, text(SearchText::StateGone));
        row.busy = false;
        row.identified = false;
        ++runFinished_;
        runCameras_.erase(label);
        if (runCameras_.empty()) {
            finishRun();
        }
        updateControls();
        return;
    }
    if (!p.deviceId.empty()) {
        sessionOutcomes_.note(p.deviceId, {}, p.message);
    }
    item->setText(ColumnOfficerId, fromUtf16(p.officerId));
    if (runMode_ == RunMode::Apply && (p.result == CameraResult::Verified || p.result == CameraResult::Differs) &&
        roster_) {
        if (const fleet::RosterEntry* entry = roster_->find(p.deviceId)) {
            item->setText(ColumnOfficerName, fromUtf16(entry->policeName));
        }
    }
    item->setText(ColumnResult, resultText(p));
    item->setToolTip(ColumnResult, fromUtf8(p.message));
    if ((p.ledgerEvent != 0 || p.ledgerSpooled) && !p.sent.empty()) {
        ledger::Event configured = run_->settings().eventTemplate;
        configured.timeUtc = ledger::utcNow();
        showConfigured(item, configured, p.ledgerSpooled);
    }
    allVerified_ = allVerified_ && p.result == CameraResult::Verified;
    row.busy = false;
    row.finished = true;
    row.lastResult = p.result;
    ++runFinished_;
    runCameras_.erase(label);
    if (runCameras_.empty()) {
        finishRun();
    }
    markTwins();
    updateControls();
}

void CSearchToolDlg::finishRun()
{
    const bool inventoryFailed = run_->inventoryFailed();
    const bool ledgerFailed = run_->ledgerFailed();
    const std::size_t inventoryOnly = run_->tally().inventoryOnly;
    const std::string ledgerProblem = run_->ledgerProblem();
    run_.reset();
    // Let go of the file between runs: on Windows an open file cannot be moved or deleted.
    inventory_.reset();
    stopping_ = false;
    if (inventoryFailed) {
        say(text(SearchText::InventoryFailed).arg(inventoryPath_), QMessageBox::Warning);
    }
    if (ledgerFailed) {
        say(text(SearchText::LedgerLost).arg(fromUtf8(ledgerProblem), QString::number(inventoryOnly)),
            QMessageBox::Warning);
    }
    // Whatever the run recorded is sealed by a checkpoint before an unattended run reports.
    const bool unattended = options_.closeWhenDone && autoApplied_;
    const bool done = allVerified_ && !inventoryFailed && !ledgerFailed;
    desk_->seal([mailbox = mailbox_, this, unattended, done](const LedgerDesk::Sealed& sealed) {
        mailbox->post([this, unattended, done, sealed] {
            if (sealed.head) {
                showLedgerHead(*sealed.head);
            }
            if (!sealed.problem.empty()) {
                say(text(SearchText::CheckpointFailed).arg(fromUtf8(sealed.problem)), QMessageBox::Warning);
            }
            if (unattended) {
                closeUnattended(done && sealed.problem.empty() ? 0 : 1);
            }
        });
    });
}

void CSearchToolDlg::showLedgerHead(const ledger::ChainHead& head)
{
    ledgerHead_ = text(SearchText::LedgerHead).arg(QString::number(head.number), fromUtf8(head.hash.substr(0, 16)));
    if (QWidget* status = GetDlgItem(sid::kStatus)) {
        status->setToolTip(fromUtf8(head.hash));
    }
    if (options_.closeWhenDone) {
        std::fprintf(stderr, "SearchTool: ledger head %lld %s\n", static_cast<long long>(head.number),
                     head.hash.c_str());
    }
    updateSummary();
}

void CSearchToolDlg::useLedgerLocation()
{
    const QString location = dlgItemText(sid::kLedgerLocation).trimmed();
    if (location.toStdString() == desk_->location()) {
        return;
    }
    // Refused before anything keeps it: a password would be written into the settings file.
    if (const std::string problem = ledger::locationSecretProblem(location.toStdString()); !problem.empty()) {
        setDlgItemText(sid::kLedgerLocation, fromUtf8(desk_->location()));
        say(text(SearchText::LedgerRefused).arg(fromUtf8(problem)), QMessageBox::Warning);
        return;
    }
    desk_->setLocation(location.toStdString());
    rememberLedgerLocation(options_.layoutFile, location.toStdString());
    ledgerHead_.clear();
    spoolLine_.clear(); // the new location's forwarder says how its spool stands
    spoolWaiting_ = 0;
    std::vector<std::string> ids;
    for (auto& [label, row] : rows_) {
        row.item->setText(ColumnConfigured, QString());
        if (!row.deviceId.empty()) {
            ids.push_back(utf::toUtf8(row.deviceId));
        }
    }
    lookUpConfigured(std::move(ids));
    updateSummary();
}

void CSearchToolDlg::lookUpConfigured(std::vector<std::string> deviceIds)
{
    if (deviceIds.empty()) {
        return;
    }
    desk_->lastConfigured(std::move(deviceIds), [mailbox = mailbox_, this](const std::vector<ledger::Event>& last) {
        mailbox->post([this, last] {
            for (const ledger::Event& event : last) {
                for (auto& [label, row] : rows_) {
                    if (!row.busy && utf::toUtf8(row.deviceId) == event.deviceId) {
                        showConfigured(row.item, event, event.number == 0);
                    }
                }
            }
        });
    });
}

void CSearchToolDlg::showConfigured(QTreeWidgetItem* item, const ledger::Event& event, bool waiting)
{
    QString shown = text(SearchText::ConfiguredBy)
                        .arg(localTimeText(event.timeUtc), fromUtf8(event.operatorName), fromUtf8(event.station));
    if (waiting) {
        shown += QLatin1Char(' ') + text(SearchText::ConfiguredWaiting);
    }
    item->setText(ColumnConfigured, shown);
    item->setToolTip(ColumnConfigured, fromUtf8(event.setupName + " " + event.result));
    widenToContents(ColumnConfigured);
}

void CSearchToolDlg::showSpool(const LedgerDesk::SpoolState& state)
{
    if (closing_) {
        return;
    }
    const ledger::SpoolStatus& status = state.status;
    const QString waiting = QString::number(status.waiting);
    QString line;
    if (!state.spooled) {
        // a file: nothing waits for anything
    } else if (!state.problem.empty()) {
        line = text(SearchText::StatusSpoolProblem).arg(fromUtf8(state.problem));
    } else if (!status.unreachableSinceUtc.empty()) {
        // Today's time alone; an older outage with its day.
        QDateTime since = QDateTime::fromString(fromUtf8(status.unreachableSinceUtc), Qt::ISODateWithMs);
        QString when = fromUtf8(status.unreachableSinceUtc);
        if (since.isValid()) {
            since = since.toLocalTime();
            when = since.toString(since.date() == QDate::currentDate() ? QStringLiteral("HH:mm")
                                                                       : QStringLiteral("yyyy-MM-dd HH:mm"));
        }
        line = text(status.refused ? SearchText::StatusSpoolRefused : SearchText::StatusSpoolUnreachable)
                   .arg(waiting, when, fromUtf8(status.lastError));
    } else if (status.waiting > 0) {
        line = text(SearchText::StatusSpoolWaiting).arg(waiting);
    }
    const bool forwarded = status.waiting < spoolWaiting_;
    spoolWaiting_ = status.waiting;
    spoolLine_ = line;
    updateSummary();
    if (forwarded) {
        // Events the rows showed as waiting may be in the shared ledger now.
        std::vector<std::string> ids;
        for (const auto& [label, row] : rows_) {
            if (!row.deviceId.empty() && !row.busy) {
                ids.push_back(utf::toUtf8(row.deviceId));
            }
        }
        lookUpConfigured(std::move(ids));
    }
}

void CSearchToolDlg::widenToContents(int column)
{
    // The answer comes after the window is laid out: the column would keep the width it had then
    // (the last one, stretched over what is left) and cut the text. It grows to show it whole;
    // the list scrolls sideways when the window is narrower.
    QTreeWidget* list = cameraList();
    const int before = list->columnWidth(column);
    list->resizeColumnToContents(column);
    if (list->columnWidth(column) < before) {
        list->setColumnWidth(column, before);
    }
}

void CSearchToolDlg::OnBrowseLedger()
{
    // An existing ledger is opened as it is, a new one created: no overwrite question.
    const QString current = dlgItemText(sid::kLedgerLocation).trimmed();
    const QString proposed = current.isEmpty() || ledger::isPostgresLocation(current.toStdString())
                                 ? fromUtf8(ledger::locationOrDefault({}))
                                 : current;
    const QString file = FileDialog::instance().getSaveFileName(this, text(SearchText::ChooseLedgerTitle), proposed,
                                                                text(SearchText::LedgerFilter), QStringLiteral("db"),
                                                                false);
    if (!file.isEmpty()) {
        setDlgItemText(sid::kLedgerLocation, file);
        useLedgerLocation();
    }
}

std::u16string CSearchToolDlg::selectedDeviceId() const
{
    const QList<QTreeWidgetItem*> selected = cameraList()->selectedItems();
    if (selected.size() != 1) {
        return {};
    }
    const auto it = rows_.find(selected.front()->data(ColumnWhere, Qt::UserRole).toString().toStdString());
    return it == rows_.end() ? std::u16string() : it->second.deviceId;
}

void CSearchToolDlg::OnHistory()
{
    const std::u16string deviceId = selectedDeviceId();
    if (deviceId.empty()) {
        say(text(SearchText::HistoryNoCamera), QMessageBox::Information);
        return;
    }
    auto* window = new LedgerHistoryDlg(fromUtf16(deviceId), options_.language, this);
    window->setObjectName(QStringLiteral("ledgerHistory"));
    QPointer<LedgerHistoryDlg> shown(window);
    window->setReporter([this, shown](report::ReportRequest request) { writeReport(shown, std::move(request)); },
                        reportFolder_);
    window->show();
    desk_->history(utf::toUtf8(deviceId), [mailbox = mailbox_, shown](const LedgerDesk::History& history) {
        mailbox->post([shown, history] {
            if (!shown) {
                return; // closed before the ledger answered
            }
            if (!history.problem.empty()) {
                shown->showProblem(fromUtf8(history.problem), history.waiting);
            } else {
                shown->showEvents(history.events, history.waiting);
            }
        });
    });
}

void CSearchToolDlg::writeReport(const QPointer<LedgerHistoryDlg>& window, report::ReportRequest request)
{
    reportFolder_ = QString::fromStdU16String(request.pdf.parent_path().u16string());
    // Qt's font database takes new fonts on this thread; the desk's thread then only draws with them.
    std::string error;
    if (!report::reportFonts(error)) {
        report::ReportOutcome failed;
        failed.message = error;
        window->reportWritten(failed);
        return;
    }
    request.origin = origin_;
    desk_->report(std::move(request), [mailbox = mailbox_, window](const report::ReportOutcome& outcome) {
        mailbox->post([window, outcome] {
            if (window) { // else closed while the report was written: it stands, unsaid
                window->reportWritten(outcome);
            }
        });
    });
}

void CSearchToolDlg::updateSummary()
{
    std::size_t cameras = 0, ok = 0, differ = 0, failed = 0, atWork = 0;
    for (const auto& [label, row] : rows_) {
        if (!row.present && !row.busy) {
            continue;
        }
        ++cameras;
        if (row.busy) {
            ++atWork;
        } else if (row.lastResult == CameraResult::Verified) {
            ++ok;
        } else if (row.lastResult == CameraResult::Differs) {
            ++differ;
        } else if (row.lastResult) {
            ++failed;
        }
    }
    if (!stopping_ && !starting_) {
        QString summary = text(SearchText::Summary)
                              .arg(QString::number(cameras), QString::number(ok), QString::number(differ),
                                   QString::number(failed), QString::number(atWork));
        if (!ledgerHead_.isEmpty()) {
            summary += QStringLiteral("   ") + ledgerHead_;
        }
        if (!spoolLine_.isEmpty()) {
            summary += QStringLiteral("   ") + spoolLine_;
        }
        setDlgItemText(sid::kStatus, summary);
    }
    if (auto* progress = dlgItem<QProgressBar>(sid::kProgress)) {
        progress->setValue(runAdded_ == 0 ? 0 : static_cast<int>(runFinished_ * 100 / runAdded_));
    }
}

void CSearchToolDlg::updateControls()
{
    const bool run = running();
    for (int id : {sid::kApplyAll, sid::kApplySelected, sid::kCheckAll, sid::kRetryFailed, sid::kBrowseSetup,
                   sid::kBrowseRoster, sid::kBrowseInventory, sid::kSetupFile, sid::kRosterFile, sid::kInventoryFile,
                   sid::kUser, sid::kPassword, sid::kNotOnRoster, sid::kLedgerLocation, sid::kBrowseLedger}) {
        if (QWidget* w = GetDlgItem(id)) {
            w->setEnabled(!run);
        }
    }
    if (QWidget* stop = GetDlgItem(sid::kStop)) {
        stop->setEnabled(run && !stopping_);
    }
    if (QWidget* history = GetDlgItem(sid::kHistory)) {
        history->setEnabled(!selectedDeviceId().empty());
    }
    updateSummary();
}

} // namespace orv::search
