#include "searchtool/search_tool_dlg.h"

#include "dialogkit/file_dialog.h"
#include "dialogkit/instance_marker.h"
#include "dialogkit/message_box.h"
#include "persist/login_record.h"
#include "persist/setup_document.h"
#include "provision/camera_groups.h"
#include "provision/setup_apply.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>
#include <array>
#include <cstdio>

namespace orv::search {
namespace {

using D = CSearchToolDlg;

constexpr std::array<D::Route, 6> kRoutes{{
    {sid::kBrowseSetup, &D::OnBrowseSetup},
    {sid::kBrowseRoster, &D::OnBrowseRoster},
    {sid::kBrowseInventory, &D::OnBrowseInventory},
    {sid::kApplyAll, &D::OnApplyAll},
    {sid::kApplySelected, &D::OnApplySelected},
    {sid::kStop, &D::OnStop},
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
{
    for (const Route& route : kRoutes) {
        if (auto* button = dlgItem<QAbstractButton>(route.id)) {
            connect(button, &QAbstractButton::clicked, this, [this, handler = route.handler] { (this->*handler)(); });
        }
    }
}

CSearchToolDlg::~CSearchToolDlg()
{
    // The threads report to this window: they end before it does.
    stopEverything();
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
    if (auto* list = cameraList()) {
        list->setColumnCount(kColumnCount);
        list->header()->setStretchLastSection(true);
        list->setColumnWidth(ColumnWhere, 150);
        list->setColumnWidth(ColumnDeviceId, 120);
        list->setColumnWidth(ColumnOfficerId, 90);
        list->setColumnWidth(ColumnOfficerName, 90);
        list->setColumnWidth(ColumnState, 120);
        connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { updateControls(); });
    }
    if (auto* password = dlgItem<QLineEdit>(sid::kPassword)) {
        password->setEchoMode(QLineEdit::Password);
    }
    setDlgItemText(sid::kUser, fromUtf16(std::u16string(LoginRecord::kDefaultUser)));
    setDlgItemText(sid::kPassword, fromUtf16(std::u16string(LoginRecord::kDefaultPassword)));
    setDlgItemText(sid::kInventoryFile, options_.inventoryFile);
    setDlgItemText(sid::kRosterFile, options_.rosterFile);
    if (!options_.setupFile.isEmpty()) {
        setDlgItemText(sid::kSetupFile, options_.setupFile);
        useSetupAccount(options_.setupFile);
    }
    // A new account is the one the cameras are identified with from then on.
    for (int id : {sid::kUser, sid::kPassword}) {
        if (auto* edit = dlgItem<QLineEdit>(id)) {
            connect(edit, &QLineEdit::editingFinished, this, [this] {
                if (!running()) {
                    startWatch();
                }
            });
        }
    }
    applyTexts();
    setInstanceMarker(this, kSearchToolMarker, kMarkerValue);
    if (!watch_) {
        startWatch();
    }
    updateControls();
    return true;
}

void CSearchToolDlg::reject()
{
    // Gone from the screen at once; the cameras at work finish their step meanwhile.
    hide();
    stopEverything();
    TemplateDialog::reject();
}

void CSearchToolDlg::applyTexts()
{
    setWindowTitle(text(SearchText::Title));
    const std::array<std::pair<int, SearchText>, 14> captions{{
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
        {sid::kStop, SearchText::Stop},
        {res::kIdCancel, SearchText::Close},
    }};
    for (const auto& [id, t] : captions) {
        setDlgItemText(id, text(t));
    }
    if (auto* list = cameraList()) {
        list->setHeaderLabels({text(SearchText::ColumnWhere), text(SearchText::ColumnDeviceId),
                               text(SearchText::ColumnOfficerId), text(SearchText::ColumnOfficerName),
                               text(SearchText::ColumnState), text(SearchText::ColumnResult)});
    }
}

void CSearchToolDlg::startWatch()
{
    const std::u16string user = dlgItemText(sid::kUser).toStdU16String();
    const std::u16string password = dlgItemText(sid::kPassword).toStdU16String();
    if (watch_ && user == watchUser_ && password == watchPassword_) {
        return;
    }
    if (watch_) {
        watch_->requestStop();
        std::shared_ptr<provision::CameraWatch> old(std::move(watch_));
        std::erase_if(retiringWatches_, [](const std::future<void>& f) {
            return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        retiringWatches_.push_back(std::async(std::launch::async, [old] { old->stop(); }));
    }
    watchUser_ = user;
    watchPassword_ = password;
    provision::WatchSettings settings;
    settings.plan = options_.plan;
    settings.poll = options_.poll;
    settings.scan.user = user;
    settings.scan.password = password;
    settings.scan.port = options_.port;
    settings.scan.replyTimeout = options_.timeout;
    const unsigned generation = ++watchGeneration_;
    watch_ = std::make_unique<provision::CameraWatch>(settings, [this, generation](const provision::WatchEvent& e) {
        QMetaObject::invokeMethod(
            this, [this, generation, e] { onWatchEvent(generation, e); }, Qt::QueuedConnection);
    });
    for (const auto& [label, row] : rows_) {
        if (row.busy) {
            watch_->setBusy(row.candidate, true);
        }
    }
    watch_->start();
    setDlgItemText(sid::kStatus, text(SearchText::StatusLooking));
}

void CSearchToolDlg::stopEverything()
{
    if (runner_) {
        runner_->stop();
    }
    if (watch_) {
        watch_->requestStop();
    }
    runner_.reset();
    watch_.reset();
    for (std::future<void>& retiring : retiringWatches_) {
        retiring.wait();
    }
    retiringWatches_.clear();
}

CSearchToolDlg::CameraRow& CSearchToolDlg::rowFor(const fleet::Candidate& candidate)
{
    const std::string label = candidate.label();
    auto [it, added] = rows_.try_emplace(label);
    CameraRow& row = it->second;
    if (added) {
        row.candidate = candidate;
        row.item = new QTreeWidgetItem(cameraList());
        row.item->setText(ColumnWhere, fromUtf8(label));
        row.item->setData(ColumnWhere, Qt::UserRole, fromUtf8(label));
    }
    return row;
}

void CSearchToolDlg::onWatchEvent(unsigned generation, const provision::WatchEvent& event)
{
    using K = provision::WatchEventKind;
    if (generation != watchGeneration_ || (event.kind == K::Problem && generation > 1)) {
        return; // from a watch with the account before, or said already
    }
    if (event.kind == K::Problem) {
        if (options_.closeWhenDone) {
            std::fprintf(stderr, "SearchTool: %s\n", event.problem.c_str());
        }
        auto* item = new QTreeWidgetItem(cameraList());
        item->setText(ColumnWhere, fromUtf8(event.problem));
        item->setDisabled(true);
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
            }
            row.present = true;
            row.identified = false;
            item->setText(ColumnState, text(SearchText::StateFound));
            item->setDisabled(false);
            break;
        case K::Identified:
            row.present = true;
            row.identified = event.camera.problem.empty();
            item->setDisabled(false);
            if (row.identified) {
                item->setText(ColumnDeviceId, fromUtf16(event.camera.deviceId));
                item->setText(ColumnOfficerId, fromUtf16(event.camera.policeId));
                item->setText(ColumnOfficerName, fromUtf16(event.camera.policeName));
                // After a run this is the read-back of what the camera now holds.
                item->setText(ColumnState, text(row.finished ? SearchText::StateDone : SearchText::StateReady));
                item->setToolTip(ColumnState, QString());
            } else {
                item->setText(ColumnState, text(SearchText::StateNoId));
                item->setToolTip(ColumnState, fromUtf8(event.camera.problem));
            }
            break;
        case K::Gone:
            row.present = false;
            row.identified = false;
            item->setText(ColumnState, text(SearchText::StateGone));
            item->setDisabled(true);
            break;
        case K::Problem:
            break;
    }
    updateControls();
    applyWhenEnoughAreReady();
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
        startWatch();
    }
}

void CSearchToolDlg::say(const QString& message, QMessageBox::Icon icon)
{
    if (options_.closeWhenDone) {
        std::fprintf(stderr, "SearchTool: %s\n", message.toLocal8Bit().constData());
        return;
    }
    MessageBox::instance().show(this, message, text(SearchText::Title), icon);
}

void CSearchToolDlg::applyWhenEnoughAreReady()
{
    if (autoApplied_ || options_.applyAllWhen == 0 || running()) {
        return;
    }
    const auto ready = std::count_if(rows_.begin(), rows_.end(), [](const auto& r) { return r.second.identified; });
    if (static_cast<std::size_t>(ready) < options_.applyAllWhen) {
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

void CSearchToolDlg::OnApplyAll()
{
    std::vector<std::string> labels;
    for (const auto& [label, row] : rows_) {
        if (row.present && !row.busy) {
            labels.push_back(label);
        }
    }
    apply(labels);
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
    apply(labels);
}

void CSearchToolDlg::OnStop()
{
    if (runner_ && !stopping_) {
        stopping_ = true;
        runner_->stop();
        setDlgItemText(sid::kStatus, text(SearchText::StatusStopping));
        updateControls();
    }
}

bool CSearchToolDlg::prepareRun(provision::FleetSettings& settings)
{
    auto refuse = [&](const QString& message) {
        say(message, QMessageBox::Warning);
        return false;
    };
    const QString setupFile = dlgItemText(sid::kSetupFile).trimmed();
    if (setupFile.isEmpty()) {
        return refuse(text(SearchText::NoSetup));
    }
    const SetupReadResult setup = loadSetupFile(pathOf(setupFile));
    if (!setup.ok()) {
        return refuse(text(SearchText::SetupUnreadable).arg(setupFile, fromUtf8(setup.message)));
    }
    settings.plan = provision::planSetup(setup.elements);

    const QString rosterFile = dlgItemText(sid::kRosterFile).trimmed();
    roster_ = {};
    if (!rosterFile.isEmpty()) {
        roster_ = fleet::loadRoster(pathOf(rosterFile));
        if (!roster_.ok()) {
            QStringList problems;
            for (const fleet::RosterProblem& p : roster_.problems) {
                problems << fromUtf8(fleet::describe(p));
            }
            return refuse(text(SearchText::RosterRefused).arg(rosterFile, problems.join(QLatin1Char('\n'))));
        }
        settings.roster = &roster_.roster;
    } else if (settings.plan.empty()) {
        return refuse(text(SearchText::SetupEmpty).arg(setupFile));
    }

    inventoryPath_ = dlgItemText(sid::kInventoryFile).trimmed();
    if (inventoryPath_.isEmpty()) {
        inventoryPath_ = options_.inventoryFile;
        setDlgItemText(sid::kInventoryFile, inventoryPath_);
    }
    inventory_ = std::make_unique<provision::FleetInventory>();
    std::string error;
    if (!inventory_->open(pathOf(inventoryPath_), error)) {
        inventory_.reset();
        return refuse(text(SearchText::InventoryRefused).arg(inventoryPath_, fromUtf8(error)));
    }

    settings.user = dlgItemText(sid::kUser).toStdU16String();
    settings.password = dlgItemText(sid::kPassword).toStdU16String();
    settings.notOnRoster =
        isDlgButtonChecked(sid::kNotOnRoster) ? provision::NotOnRoster::UseSetup : provision::NotOnRoster::Skip;
    settings.timeout = options_.timeout;
    settings.port = options_.port;
    return true;
}

void CSearchToolDlg::apply(const std::vector<std::string>& labels)
{
    if (running()) {
        return;
    }
    if (labels.empty()) {
        say(text(SearchText::NoCameras), QMessageBox::Information);
        return;
    }
    provision::FleetSettings settings;
    if (!prepareRun(settings)) {
        return;
    }
    stopping_ = false;
    allVerified_ = true;
    runCameras_.clear();
    runner_ = std::make_unique<provision::FleetRunner>(
        std::move(settings), inventory_.get(), [this](const provision::CameraProgress& progress) {
            QMetaObject::invokeMethod(
                this, [this, progress] { onProgress(progress); }, Qt::QueuedConnection);
        });
    for (const std::string& label : labels) {
        CameraRow& row = rows_.at(label);
        row.busy = true;
        watch_->setBusy(row.candidate, true);
        row.finished = false;
        row.item->setText(ColumnState, text(SearchText::StateQueued));
        row.item->setText(ColumnResult, QString());
        row.item->setToolTip(ColumnResult, QString());
        runCameras_[runner_->add(row.candidate)] = label;
    }
    updateControls();
}

QString CSearchToolDlg::stateText(const provision::CameraProgress& p) const
{
    using S = provision::CameraStep;
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
            return text(SearchText::StateSending).arg(fromUtf8(std::string(provision::groupName(p.group))));
        case S::ReadBack:
            return text(SearchText::StateReadingBack).arg(fromUtf8(std::string(provision::groupName(p.group))));
        case S::Finished:
            break;
    }
    return text(SearchText::StateDone);
}

QString CSearchToolDlg::resultText(const provision::CameraProgress& p) const
{
    using R = provision::CameraResult;
    switch (p.result) {
        case R::Verified:
            return text(SearchText::ResultOk);
        case R::Differs:
            return text(SearchText::ResultDiffers).arg(fromUtf8(provision::differenceList(p.differences)));
        case R::NotOnRoster:
            return text(SearchText::ResultNotOnRoster);
        case R::Stopped:
            return text(SearchText::ResultStopped);
        case R::LoginRefused:
            return text(SearchText::ResultLoginRefused);
        case R::Unreachable:
            return text(SearchText::ResultUnreachable).arg(fromUtf8(p.message));
        case R::Pending:
            break;
    }
    return {};
}

void CSearchToolDlg::onProgress(const provision::CameraProgress& p)
{
    const auto label = runCameras_.find(p.camera);
    if (!runner_ || label == runCameras_.end()) {
        return; // from a run that is over
    }
    CameraRow& row = rows_.at(label->second);
    QTreeWidgetItem* item = row.item;
    item->setText(ColumnState, stateText(p));
    if (!p.deviceId.empty()) {
        item->setText(ColumnDeviceId, fromUtf16(p.deviceId));
    }
    if (p.step != provision::CameraStep::Finished) {
        return;
    }
    item->setText(ColumnOfficerId, fromUtf16(p.officerId));
    if (p.result == provision::CameraResult::Verified || p.result == provision::CameraResult::Differs) {
        if (const fleet::RosterEntry* entry = roster_.roster.find(p.deviceId)) {
            item->setText(ColumnOfficerName, fromUtf16(entry->policeName));
        }
    }
    item->setText(ColumnResult, resultText(p));
    allVerified_ = allVerified_ && p.result == provision::CameraResult::Verified;
    item->setToolTip(ColumnResult, fromUtf8(p.message));
    row.busy = false;
    row.finished = true;
    if (watch_) {
        // Looked at again: a camera that went away during the run shows as gone.
        watch_->setBusy(row.candidate, false);
    }
    if (std::none_of(rows_.begin(), rows_.end(), [](const auto& r) { return r.second.busy; })) {
        finishRun();
    }
    updateControls();
}

void CSearchToolDlg::finishRun()
{
    const bool inventoryFailed = runner_->inventoryFailed();
    runner_.reset();
    inventory_.reset();
    stopping_ = false;
    if (inventoryFailed) {
        say(text(SearchText::InventoryFailed).arg(inventoryPath_), QMessageBox::Warning);
    }
    if (options_.closeWhenDone && autoApplied_) {
        closeUnattended(allVerified_ && !inventoryFailed ? 0 : 1);
    }
}

void CSearchToolDlg::updateControls()
{
    std::size_t present = 0;
    std::size_t atWork = 0;
    for (const auto& [label, row] : rows_) {
        present += row.present || row.busy ? 1 : 0;
        atWork += row.busy ? 1 : 0;
    }
    const bool run = running();
    for (int id :
         {sid::kApplyAll, sid::kApplySelected, sid::kBrowseSetup, sid::kBrowseRoster, sid::kBrowseInventory,
          sid::kSetupFile, sid::kRosterFile, sid::kInventoryFile, sid::kUser, sid::kPassword, sid::kNotOnRoster}) {
        if (QWidget* w = GetDlgItem(id)) {
            w->setEnabled(!run);
        }
    }
    if (QWidget* stop = GetDlgItem(sid::kStop)) {
        stop->setEnabled(run && !stopping_);
    }
    if (!stopping_) {
        setDlgItemText(sid::kStatus,
                       text(SearchText::StatusCameras).arg(QString::number(present), QString::number(atWork)));
    }
}

} // namespace orv::search
