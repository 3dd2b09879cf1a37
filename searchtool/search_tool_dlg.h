#pragma once
// The search tool's window: every camera attached, live, and the setup, roster, account and
// inventory with which "Apply to all", "Apply to selected", "Check all" and "Retry failed" work on
// them all at once. The cameras are watched and worked on by threads of their own; this window
// only shows what they report, so it never waits for a camera, not even when it closes.

#include "dialogkit/template_dialog.h"
#include "dialogkit/ui_mailbox.h"
#include "fleet/candidate.h"
#include "fleet/roster.h"
#include "link/frame.h"
#include "provision/camera_watch.h"
#include "provision/fleet_runner.h"
#include "provision/inventory.h"
#include "provision/ledger_events.h"
#include "searchtool/ledger_desk.h"
#include "searchtool/search_tool_layout.h"
#include "searchtool/search_tool_texts.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace orv::search {

class LedgerHistoryDlg;

// Control identifiers of the window's template.
namespace sid {
inline constexpr int kCamerasLabel = 1201;
inline constexpr int kCameraList = 1202;
inline constexpr int kStatus = 1203;
inline constexpr int kSetupFile = 1204;
inline constexpr int kBrowseSetup = 1205;
inline constexpr int kRosterFile = 1206;
inline constexpr int kBrowseRoster = 1207;
inline constexpr int kInventoryFile = 1208;
inline constexpr int kBrowseInventory = 1209;
inline constexpr int kUser = 1210;
inline constexpr int kPassword = 1211;
inline constexpr int kNotOnRoster = 1212;
inline constexpr int kApplyAll = 1213;
inline constexpr int kApplySelected = 1214;
inline constexpr int kStop = 1215;
inline constexpr int kCheckAll = 1216;
inline constexpr int kRetryFailed = 1217;
inline constexpr int kProgress = 1218;
inline constexpr int kSetupLabel = 1220;
inline constexpr int kRosterLabel = 1221;
inline constexpr int kInventoryLabel = 1222;
inline constexpr int kUserLabel = 1223;
inline constexpr int kPasswordLabel = 1224;
inline constexpr int kLedgerLabel = 1225;
inline constexpr int kLedgerLocation = 1226;
inline constexpr int kBrowseLedger = 1227;
inline constexpr int kHistory = 1228;
} // namespace sid

// Columns of the camera list.
enum Column : int {
    ColumnWhere,
    ColumnDeviceId,
    ColumnOfficerId,
    ColumnOfficerName,
    ColumnClock,
    ColumnState,
    ColumnResult,
    ColumnConfigured // when and by whom the ledger says the camera was last configured
};
inline constexpr int kColumnCount = 8;

struct SearchToolOptions
{
    fleet::SearchPlan plan; // interfaces, or plain addresses for simulated cameras
    std::uint16_t port = kCameraPort;
    std::chrono::milliseconds poll{500};
    std::chrono::milliseconds timeout{3000}; // connect and each reply of a camera at work
    std::size_t parallel = 32;               // cameras worked on at once
    std::uint8_t language = 0;
    QString inventoryFile; // proposed at start
    QString setupFile;     // chosen at start, when given
    QString rosterFile;
    // Where the ledger is: a file or a PostgreSQL connection string; empty: the default file.
    QString ledgerLocation;
    // The verifier keys to trust besides the station's own (remembered by the station); empty: the
    // file the station remembers.
    QString trustedKeys;
    // Unattended use (a dock station, a script): once this many cameras are ready, Apply to all
    // is pressed once; 0 leaves it to the operator.
    std::size_t applyAllWhen = 0;
    // Closes the window once that run is over; what would be a message box goes to standard
    // error instead, and exitCode() says whether every camera was set as asked.
    bool closeWhenDone = false;
    // After that first press, every camera plugged in later is set up as soon as it is ready
    // (a dock station left to itself); each camera once while it stays plugged in.
    bool keepApplying = false;
    // Where the column widths, the window's size and the ledger's location chosen in the window
    // are remembered; empty: nowhere.
    std::filesystem::path layoutFile;
};

class CSearchToolDlg : public TemplateDialog
{
    Q_OBJECT
public:
    explicit CSearchToolDlg(SearchToolOptions options, QWidget* parent = nullptr);
    // Waits for the cameras at work to finish their step: by then the window is long gone.
    ~CSearchToolDlg() override;

    // Button handlers, one per button.
    void OnBrowseSetup();
    void OnBrowseRoster();
    void OnBrowseInventory();
    void OnApplyAll();
    void OnApplySelected();
    void OnCheckAll();
    void OnRetryFailed();
    void OnStop();
    void OnBrowseLedger();
    void OnHistory();

    struct Route
    {
        int id;
        void (CSearchToolDlg::*handler)();
    };
    static std::span<const Route> routes();

    QTreeWidget* cameraList() const;
    // The row of a camera by where it was found ("usb0 192.168.2.158", "127.0.0.5"); null if none.
    QTreeWidgetItem* rowOf(const QString& where) const;
    // A run is being started (the ledger is being checked) or is at work.
    bool running() const { return run_ != nullptr || starting_; }
    LedgerDesk& ledgerDesk() { return *desk_; }
    // 0 when the unattended run set every camera as asked, 1 otherwise.
    int exitCode() const { return exitCode_; }

protected:
    bool OnInitDialog() override;
    void reject() override;

private:
    struct CameraRow
    {
        fleet::Candidate candidate; // as found last
        QTreeWidgetItem* item = nullptr;
        bool present = false;
        bool identified = false; // logged in and its device id read
        bool busy = false;       // the current run works on it
        bool finished = false;   // a run is over for it while it stayed plugged in: its result stands
        std::u16string deviceId;
        std::optional<provision::CameraResult> lastResult; // of this session
    };

    QString text(SearchText t) const { return searchText(t, options_.language); }
    void applyTexts();
    void startWork();
    void closeWork();
    void useAccount();
    void useSetupAccount(const QString& setupFile);
    // Asks for an existing file and puts it in the edit; false when the operator cancels.
    bool chooseFileFor(int editId, SearchText title, SearchText filter, const QString& suffix);
    void say(const QString& message, QMessageBox::Icon icon);
    void applyWhenEnoughAreReady();
    void closeUnattended(int exitCode);

    // On the user-interface thread, from what the threads report.
    void onWatchEvent(const provision::WatchEvent& event);
    void onProgress(unsigned generation, const provision::CameraProgress& progress);

    CameraRow& rowFor(const fleet::Candidate& candidate);
    // Rows of cameras present and not at work that `wanted` says yes to.
    std::vector<std::string> presentLabels(const std::function<bool(const CameraRow&)>& wanted) const;
    // Hands the row's camera to the current run; false (said, the run stopped) when no worker can be had.
    bool addToRun(const std::string& label);
    void work(const std::vector<std::string>& labels, provision::RunMode mode);
    bool prepareRun(provision::FleetSettings& settings, provision::RunMode mode);
    // Once the ledger was found answering: the run starts.
    void startRun(std::vector<std::string> labels, provision::FleetSettings settings,
                  const LedgerDesk::Opened& ledger);
    void finishRun();
    void useLedgerLocation();
    void showLedgerHead(const ledger::ChainHead& head);
    // Asks the ledger when these cameras were last configured; the rows learn it when it answers.
    void lookUpConfigured(std::vector<std::string> deviceIds);
    // `waiting`: the event is still in the station's spool, not yet in the shared ledger.
    void showConfigured(QTreeWidgetItem* item, const ledger::Event& event, bool waiting);
    // The status line's part on the station's spool, from how it stands now.
    void showSpool(const LedgerDesk::SpoolState& state);
    // The column made as wide as its widest text, when it is narrower.
    void widenToContents(int column);
    // The device id of the one row selected; empty when none or several are, or it was not read.
    std::u16string selectedDeviceId() const;
    // The History window's report, made on the desk's thread; its outcome back to the window if
    // it is still open.
    void writeReport(const QPointer<LedgerHistoryDlg>& window, report::ReportRequest request);
    void markTwins();
    void updateControls();
    void updateSummary();
    QString stateText(const provision::CameraProgress& progress) const;
    QString resultText(const provision::CameraProgress& progress) const;
    QString clockText(const std::optional<std::int64_t>& offset) const;

    SearchToolOptions options_;
    std::shared_ptr<UiMailbox> mailbox_;
    std::shared_ptr<provision::CameraRegistry> registry_;
    // The runner before the watch: the watch stops first when the window goes.
    std::unique_ptr<provision::FleetRunner> runner_;
    std::unique_ptr<provision::CameraWatch> watch_;
    std::map<std::string, CameraRow> rows_; // by candidate label
    std::unique_ptr<LedgerDesk> desk_;
    provision::EventOrigin origin_;
    QString ledgerHead_; // shown after each run
    QString spoolLine_;  // events waiting for the shared ledger, and why; empty when none wait
    std::int64_t spoolWaiting_ = 0;
    QString reportFolder_; // where the last report was saved; the next one is proposed there

    std::shared_ptr<const fleet::Roster> roster_;
    std::shared_ptr<provision::FleetInventory> inventory_;
    // Every outcome of this session, whichever inventory it went to: Retry failed goes by it
    // before what an inventory file says.
    provision::InventoryHistory sessionOutcomes_;
    QString inventoryPath_;
    std::shared_ptr<provision::FleetRun> run_;
    unsigned runGeneration_ = 0; // progress of an earlier run is dropped
    provision::RunMode runMode_ = provision::RunMode::Apply;
    std::map<std::size_t, std::string> runCameras_; // run's camera number -> label, while at work
    std::size_t runAdded_ = 0;
    std::size_t runFinished_ = 0;
    bool stopping_ = false;
    bool starting_ = false; // the ledger is being checked before a run starts
    bool allVerified_ = true; // of the current run
    bool autoApplied_ = false;
    bool closing_ = false;
    int exitCode_ = 1;
};

} // namespace orv::search
