#pragma once
// The console: one modal dialog built from template 102. Its 89 controls are the whole form;
// handlers read and write them through their identifiers when they need them.

#include "dialogkit/template_dialog.h"

#include <QIcon>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class QComboBox;

namespace orv {

class CameraLink;
class ConsoleLedger;
struct SetupValues;
class LedgerProblem;
class LogRequest;

class COrvCameraDlg : public TemplateDialog
{
    Q_OBJECT
public:
    COrvCameraDlg();
    ~COrvCameraDlg() override;

    // --- the shell ---
    void InitLoginFields();
    void EnableControls(bool loggedIn);
    void OnSysCommand(unsigned id, qintptr param);
    QIcon OnQueryDragIcon() const { return icon; }

    // --- language ---
    void ApplyTexts();
    void OnLanguageChanged();

    // --- activity log ---
    int OnAppendLog(LogRequest* request);
    // A ledger that cannot be written: one line in the log.
    void OnLedgerProblem(LedgerProblem* problem);
    void OnClearLog();
    void OnSaveLog();

    // --- session and device actions ---
    void OnLogin();
    void OnChangePasswd();
    void OnUDisk();
    void OnTimeSync();
    void OnFactory();
    void OnFormatDisk();
    void OnUIdentify();
    // Run by a successful login: U-identify from or to the camera, then the Time Get.
    void SyncAfterLogin();

    // --- settings groups ---
    void OnPlatformGet();
    void OnPlatformSet();
    void On4GGet();
    void On4GSet();
    void OnWifiGet();
    void OnWifiSet();
    void OnDeviceInfoGet();
    void OnDeviceInfoSet();
    void OnTimeGet();
    void OnTimeSet();
    void OnProxyGet();
    void OnProxySet();

    // The form's values as Save Setup writes them; the Set buttons send their groups' fields from it.
    SetupValues formValues() const;

    // --- files and companion programs ---
    void OnExportDeviceId();
    void OnSaveSetup();
    void OnLoadSetup();
    void OnBatch();
    void OnRndis();
    void OnGb28181();

    // Which control runs which handler.
    struct Route
    {
        int id;
        void (COrvCameraDlg::*handler)();
        std::string_view name;
    };
    static std::span<const Route> routes();
    // Told of every routed command before its handler runs (tests watch the routing with it).
    void setRouteObserver(std::function<void(int id, std::string_view handler)> observer)
    {
        routeObserver_ = std::move(observer);
    }

    // --- the ledger ---
    // Records the camera writes and actions from now on, in the ledger remembered for the user
    // (console/console_ledger.h). Without it the console records nothing.
    void startLedger();
    // Returns once everything handed to the ledger was recorded or given up, and the problems
    // reported have reached the log (tests).
    void flushLedger();
    ConsoleLedger* ledger() const { return ledger_.get(); }

    std::unique_ptr<CameraLink> link;
    QIcon icon;
    QComboBox* languageCombo = nullptr;
    std::int32_t setupLoaded = 0;

protected:
    bool OnInitDialog() override;
    void DoDataExchange();
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void route(const Route& entry);
    void addAboutEntry();
    // An event of `kind` with the login's context, when the console records.
    void recordInLedger(std::string kind, std::string groups, std::string result);

    QString aboutText_; // empty: no About entry
    bool aboutInContextMenu_ = false;
    std::function<void(int, std::string_view)> routeObserver_;
    // Destroyed with the dialog, after its event loop has returned: it waits for the recorder.
    std::unique_ptr<ConsoleLedger> ledger_;
};

// The system-menu command that opens the About box.
inline constexpr unsigned kIdmAboutBox = 16;

} // namespace orv
