// Save Setup and Load Setup: the login fields and settings groups to and from a setup file. The
// file's content is persist's business; this side only knows which control holds which value.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/address_text.h"
#include "dialogkit/file_dialog.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/qtext.h"
#include "persist/setup_document.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>

#include <initializer_list>
#include <string>
#include <string_view>

namespace orv {
namespace {

// One filter, with the same label in every language.
constexpr char16_t kSetupFileFilter[] = u"文本文档(*.xml)|*.xml||";

struct TextControl
{
    int id;
    std::u16string SetupValues::*member;
};

// Every text the file carries, except the camera address, which has a control of its own.
constexpr TextControl kTextControls[] = {
    {idc::kUserName, &SetupValues::cameraUser},
    {idc::kPassword, &SetupValues::cameraPassword},
    {idc::kServerIp, &SetupValues::serverIp},
    {idc::kServerPort, &SetupValues::serverPort},
    {idc::kRtsId, &SetupValues::rtsId},
    {idc::kRtsCode, &SetupValues::authCode},
    {idc::kApn, &SetupValues::apn},
    {idc::kApnUser, &SetupValues::apnUser},
    {idc::kApnPassword, &SetupValues::apnPassword},
    {idc::kSsid, &SetupValues::ssid},
    {idc::kWifiPassword, &SetupValues::wifiPassword},
    {idc::kDeviceId, &SetupValues::deviceId},
    {idc::kPoliceId, &SetupValues::policeId},
    {idc::kPoliceName, &SetupValues::policeName},
    {idc::kCoId, &SetupValues::companyId},
    {idc::kCoName, &SetupValues::companyName},
};

int selectedRow(const QComboBox* combo)
{
    return combo ? combo->currentIndex() : -1;
}

// A row the combo does not have leaves it without a selection.
void selectRow(QComboBox* combo, int row)
{
    if (combo) {
        combo->setCurrentIndex(row >= 0 && row < combo->count() ? row : -1);
    }
}

// The typing limits bind only what the operator types: a longer text from a file is set whole,
// and the limit grows just enough to hold it.
void setTextWhole(COrvCameraDlg& dlg, int id, const std::u16string& text)
{
    const QString value = qtext(text);
    if (auto* edit = dlg.dlgItem<QLineEdit>(id); edit && edit->maxLength() < value.size()) {
        edit->setMaxLength(static_cast<int>(value.size()));
    }
    dlg.setDlgItemText(id, value);
}

void setTexts(COrvCameraDlg& dlg, const SetupValues& v, std::initializer_list<int> ids)
{
    for (int id : ids) {
        for (const TextControl& control : kTextControls) {
            if (control.id == id) {
                setTextWhole(dlg, id, v.*control.member);
            }
        }
    }
}

void applyElement(COrvCameraDlg& dlg, const SetupElement& element)
{
    const SetupValues& v = element.values;
    switch (element.part) {
        case SetupPart::Language:
            selectRow(dlg.languageCombo, v.language);
            // Any other number would be stored as a language that has no texts and no log messages.
            if (v.language >= 0 && v.language <= 2) {
                dlg.OnLanguageChanged();
            }
            break;
        case SetupPart::Camera:
            setTexts(dlg, v, {idc::kUserName, idc::kPassword});
            if (auto* address = dlg.dlgItem<IpAddressEdit>(idc::kCameraIp)) {
                address->setAddress(parseAddressText(v.cameraIp));
            }
            break;
        case SetupPart::Function:
            dlg.checkDlgButton(idc::kUIdentify, v.uIdentify != 0);
            break;
        case SetupPart::Server:
            // The platform choice of the settings file stays as it is.
            selectRow(dlg.dlgItem<QComboBox>(idc::kPlatform), v.serverChoice);
            setTexts(dlg, v, {idc::kServerIp, idc::kServerPort, idc::kRtsId, idc::kRtsCode});
            break;
        case SetupPart::Net4g:
            setTexts(dlg, v, {idc::kApn, idc::kApnUser, idc::kApnPassword});
            break;
        case SetupPart::Wifi:
            setTexts(dlg, v, {idc::kSsid, idc::kWifiPassword});
            break;
        case SetupPart::Device:
            setTexts(dlg, v, {idc::kDeviceId, idc::kPoliceId, idc::kPoliceName, idc::kCoId, idc::kCoName});
            break;
        case SetupPart::Time:
            dlg.checkDlgButton(idc::kSummerTime, v.summerTime != 0);
            selectRow(dlg.dlgItem<QComboBox>(idc::kTimeZone), v.timeZone);
            break;
    }
}

} // namespace

SetupValues COrvCameraDlg::formValues() const
{
    SetupValues v;
    v.language = selectedRow(languageCombo);
    v.cameraIp = dlgItemText(idc::kCameraIp).toStdU16String();
    v.uIdentify = isDlgButtonChecked(idc::kUIdentify) ? 1 : 0;
    v.serverChoice = selectedRow(dlgItem<QComboBox>(idc::kPlatform));
    v.summerTime = isDlgButtonChecked(idc::kSummerTime) ? 1 : 0;
    v.timeZone = selectedRow(dlgItem<QComboBox>(idc::kTimeZone));
    for (const TextControl& control : kTextControls) {
        v.*control.member = dlgItemText(control.id).toStdU16String();
    }
    return v;
}

void COrvCameraDlg::OnSaveSetup()
{
    const QString path = FileDialog::instance().getSaveFileName(
        this, QString(), QString(), QString::fromUtf16(kSetupFileFilter), QStringLiteral("xml"), true);
    if (path.isEmpty()) {
        return;
    }
    // Through a temporary file and a rename (a failed save leaves any old file as it was); a new
    // file is its owner's only, as it holds passwords.
    if (saveSetupFile(path.toStdU16String(), formValues())) {
        PostLog(this, LogMessage::SaveUserSetup);
    } else {
        PostLog(this, LogMessage::SaveUserSetupFail, failedFileArgument(path));
    }
}

void COrvCameraDlg::OnLoadSetup()
{
    const QString path = FileDialog::instance().getOpenFileName(
        this, QString(), QString(), QString::fromUtf16(kSetupFileFilter), QStringLiteral("xml"));
    if (path.isEmpty()) {
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return;
    }
    const SetupReadResult read = readSetup(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!read.ok()) {
        return;
    }
    for (const SetupElement& element : read.elements) {
        applyElement(*this, element);
    }
    setupLoaded = 1;
}

} // namespace orv
