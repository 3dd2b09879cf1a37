#include "console/orv_camera_dlg.h"

#include "console/about_dlg.h"
#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/control_ids.h"
#include "console/system_menu.h"
#include "dialogkit/address_text.h"
#include "dialogkit/app_icon.h"
#include "dialogkit/instance_marker.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/multi_line_edit.h"
#include "dialogkit/qtext.h"
#include "link/camera_link.h"
#include "persist/settings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <array>
#include <initializer_list>
#include <new>

namespace orv {
namespace {

using D = COrvCameraDlg;

// Button clicks, and the selection change of the language combo.
constexpr std::array<D::Route, 28> kRoutes{{
    {idc::kLogin, &D::OnLogin, "OnLogin"},
    {idc::kChangePasswd, &D::OnChangePasswd, "OnChangePasswd"},
    {idc::kUDisk, &D::OnUDisk, "OnUDisk"},
    {idc::kTimeSync, &D::OnTimeSync, "OnTimeSync"},
    {idc::kFactory, &D::OnFactory, "OnFactory"},
    {idc::kFormatDisk, &D::OnFormatDisk, "OnFormatDisk"},
    {idc::kUIdentify, &D::OnUIdentify, "OnUIdentify"},
    {idc::kPlatformGet, &D::OnPlatformGet, "OnPlatformGet"},
    {idc::kPlatformSet, &D::OnPlatformSet, "OnPlatformSet"},
    {idc::k4GGet, &D::On4GGet, "On4GGet"},
    {idc::k4GSet, &D::On4GSet, "On4GSet"},
    {idc::kWifiGet, &D::OnWifiGet, "OnWifiGet"},
    {idc::kWifiSet, &D::OnWifiSet, "OnWifiSet"},
    {idc::kDeviceInfoGet, &D::OnDeviceInfoGet, "OnDeviceInfoGet"},
    {idc::kDeviceInfoSet, &D::OnDeviceInfoSet, "OnDeviceInfoSet"},
    {idc::kTimeGet, &D::OnTimeGet, "OnTimeGet"},
    {idc::kTimeSet, &D::OnTimeSet, "OnTimeSet"},
    {idc::kProxyGet, &D::OnProxyGet, "OnProxyGet"},
    {idc::kProxySet, &D::OnProxySet, "OnProxySet"},
    {idc::kClearLog, &D::OnClearLog, "OnClearLog"},
    {idc::kSaveLog, &D::OnSaveLog, "OnSaveLog"},
    {idc::kExportDeviceId, &D::OnExportDeviceId, "OnExportDeviceId"},
    {idc::kSaveSetup, &D::OnSaveSetup, "OnSaveSetup"},
    {idc::kLoadSetup, &D::OnLoadSetup, "OnLoadSetup"},
    {idc::kBatch, &D::OnBatch, "OnBatch"},
    {idc::kRndis, &D::OnRndis, "OnRndis"},
    {idc::kGb28181, &D::OnGb28181, "OnGb28181"},
    {idc::kLanguage, &D::OnLanguageChanged, "OnLanguageChanged"},
}};

} // namespace

std::span<const COrvCameraDlg::Route> COrvCameraDlg::routes()
{
    return kRoutes;
}

COrvCameraDlg::COrvCameraDlg()
    : TemplateDialog(res::kConsoleDialog)
    , icon(applicationIcon())
{
    for (const Route& entry : kRoutes) {
        if (entry.id == idc::kLanguage) {
            // Only the operator's choice counts as a selection change, never the rows that
            // ApplyTexts puts in.
            if (auto* combo = dlgItem<QComboBox>(entry.id)) {
                connect(combo, &QComboBox::activated, this, [this, &entry] { route(entry); });
            }
        } else if (auto* button = dlgItem<QAbstractButton>(entry.id)) {
            connect(button, &QAbstractButton::clicked, this, [this, &entry] { route(entry); });
        }
    }
}

COrvCameraDlg::~COrvCameraDlg() = default;

void COrvCameraDlg::route(const Route& entry)
{
    if (routeObserver_) {
        routeObserver_(entry.id, entry.name);
    }
    (this->*entry.handler)();
}

void COrvCameraDlg::DoDataExchange()
{
    languageCombo = dlgItem<QComboBox>(idc::kLanguage);
}

bool COrvCameraDlg::OnInitDialog()
{
    DoDataExchange();
    aboutText_ = qtext(res::loadString(res::kStringAboutMenu));
    if (!aboutText_.isEmpty()) {
        addAboutEntry();
    }
    setWindowIcon(icon);
    InitLoginFields();
    ApplyTexts();
    EnableControls(false);
    StartSockets();
    if (!link) {
        link.reset(new (std::nothrow) CameraLink());
    }
    setInstanceMarker(this, kConsoleMarker, kMarkerValue);
    PostLog(this, LogMessage::ProgramStartup);
    return true;
}

void COrvCameraDlg::InitLoginFields()
{
    CSettings& settings = CSettings::GetInstance();
    settings.LoadUser();

    const LoginRecord* record = settings.login.get();
    const bool remembered = record && record->hold() != 0;
    const std::u16string ip = remembered ? record->ip() : std::u16string(LoginRecord::kDefaultIp);
    if (auto* address = dlgItem<IpAddressEdit>(idc::kCameraIp)) {
        address->setAddress(parseAddressText(ip));
    }
    setDlgItemText(idc::kUserName, qtext(remembered ? record->user() : LoginRecord::kDefaultUser));
    setDlgItemText(idc::kPassword, qtext(remembered ? record->password() : LoginRecord::kDefaultPassword));
    checkDlgButton(idc::kHold, remembered);

    for (const auto& [id, limit] : {std::pair{idc::kPoliceId, 12}, {idc::kApnUser, 30}, {idc::kApnPassword, 32}}) {
        if (auto* edit = dlgItem<QLineEdit>(id)) {
            edit->setMaxLength(limit);
        }
    }
    for (int id : {idc::kWifiListLabel, idc::kWifiList}) {
        if (QWidget* w = GetDlgItem(id)) {
            w->hide();
        }
    }
}

void COrvCameraDlg::EnableControls(bool loggedIn)
{
    const auto enable = [this](std::initializer_list<int> ids, bool on) {
        for (int id : ids) {
            if (QWidget* w = GetDlgItem(id)) {
                w->setEnabled(on);
            }
        }
    };
    using namespace idc;
    enable({kChangePasswd, kUDisk, kTimeSync, kFactory, kFormatDisk, kUpgrade}, loggedIn);
    enable({kPlatformGet, kPlatformSet, k4GGet, k4GSet, kWifiGet, kWifiSet, kDeviceInfoGet, kDeviceInfoSet}, loggedIn);
    enable({kExportDeviceId, kClearLog, kSaveLog}, loggedIn);
    enable({kLoadSetup}, !loggedIn);
    enable({kSaveSetup, kTimeGet, kTimeSet}, loggedIn);
    enable({kNewPassword, kApn, kApnUser, kApnPassword, kSsid, kWifiPassword}, loggedIn);
    enable({kDeviceId}, false);
    enable({kCoId, kCoName, kPoliceId, kPoliceName}, loggedIn);
    if (auto* log = dlgItem<MultiLineEdit>(kLog)) {
        log->setReadOnly(true);
    }
    enable({kPlatform}, false);
    enable({kWifiList, kTimeZone, kSummerTime, kUIdentify}, loggedIn);
    // Logged in, the Platform Get decides which pair of these becomes usable.
    if (!loggedIn) {
        enable({kServerIp, kServerPort, kRtsId, kRtsCode}, false);
    }
}

void COrvCameraDlg::OnSysCommand(unsigned id, qintptr)
{
    if ((id & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about(this);
        about.DoModal();
    }
}

bool COrvCameraDlg::event(QEvent* event)
{
    if (event->type() == kAppendLogEvent) {
        OnAppendLog(static_cast<LogRequest*>(event));
        return true;
    }
    if (event->type() == kLedgerProblemEvent) {
        OnLedgerProblem(static_cast<LedgerProblem*>(event));
        return true;
    }
    return TemplateDialog::event(event);
}

void COrvCameraDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier && aboutInContextMenu_) {
        OnSysCommand(kIdmAboutBox, 0);
        return;
    }
    TemplateDialog::keyPressEvent(event);
}

void COrvCameraDlg::addAboutEntry()
{
    // Where the window system has no menu of the program's own, the entry goes where users of
    // that desktop look for it: the window's context menu, and F1.
    aboutInContextMenu_ = !appendSystemMenuEntry(this, kIdmAboutBox, aboutText_);
}

bool COrvCameraDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    if (const auto command = systemMenuCommand(eventType, message);
        command && (command->command & 0xFFF0) == kIdmAboutBox) {
        OnSysCommand(command->command, command->parameter);
        *result = 0;
        return true;
    }
    return TemplateDialog::nativeEvent(eventType, message, result);
}

void COrvCameraDlg::contextMenuEvent(QContextMenuEvent* event)
{
    if (!aboutInContextMenu_) {
        TemplateDialog::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    menu.addAction(aboutText_, this, [this] { OnSysCommand(kIdmAboutBox, 0); });
    menu.exec(event->globalPos());
}

} // namespace orv
