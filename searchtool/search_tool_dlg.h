#pragma once
// The search tool's window: every camera attached, live, and the setup, roster, account and
// inventory with which "Apply to all" / "Apply to selected" configure them all at once. The
// cameras are watched and worked on by threads of their own; this window only shows what they
// report, so it never waits for a camera.

#include "dialogkit/template_dialog.h"
#include "fleet/candidate.h"
#include "fleet/roster.h"
#include "link/frame.h"
#include "provision/camera_watch.h"
#include "provision/fleet_runner.h"
#include "provision/inventory.h"
#include "searchtool/search_tool_texts.h"

#include <QMessageBox>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace orv::search {

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
inline constexpr int kSetupLabel = 1220;
inline constexpr int kRosterLabel = 1221;
inline constexpr int kInventoryLabel = 1222;
inline constexpr int kUserLabel = 1223;
inline constexpr int kPasswordLabel = 1224;
} // namespace sid

// Columns of the camera list.
enum Column : int { ColumnWhere, ColumnDeviceId, ColumnOfficerId, ColumnOfficerName, ColumnState, ColumnResult };
inline constexpr int kColumnCount = 6;

struct SearchToolOptions
{
    fleet::SearchPlan plan; // interfaces, or plain addresses for simulated cameras
    std::uint16_t port = kCameraPort;
    std::chrono::milliseconds poll{500};
    std::chrono::milliseconds timeout{3000}; // connect and each reply of a camera at work
    std::uint8_t language = 0;
    QString inventoryFile; // proposed at start
    QString setupFile;     // chosen at start, when given
    QString rosterFile;
    // Unattended use (a dock station, a script): once this many cameras are ready, Apply to all
    // is pressed once; 0 leaves it to the operator.
    std::size_t applyAllWhen = 0;
    // Closes the window once that run is over; what would be a message box goes to standard
    // error instead, and exitCode() says whether every camera was set as asked.
    bool closeWhenDone = false;
};

class CSearchToolDlg : public TemplateDialog
{
    Q_OBJECT
public:
    explicit CSearchToolDlg(SearchToolOptions options, QWidget* parent = nullptr);
    ~CSearchToolDlg() override;

    // Button handlers, one per button.
    void OnBrowseSetup();
    void OnBrowseRoster();
    void OnBrowseInventory();
    void OnApplyAll();
    void OnApplySelected();
    void OnStop();

    struct Route
    {
        int id;
        void (CSearchToolDlg::*handler)();
    };
    static std::span<const Route> routes();

    QTreeWidget* cameraList() const;
    // The row of a camera by where it was found ("usb0 192.168.2.158", "127.0.0.5"); null if none.
    QTreeWidgetItem* rowOf(const QString& where) const;
    bool running() const { return runner_ != nullptr; }
    // 0 when the unattended run set every camera as asked, 1 otherwise.
    int exitCode() const { return exitCode_; }

protected:
    bool OnInitDialog() override;
    void reject() override;

private:
    struct CameraRow
    {
        fleet::Candidate candidate;
        QTreeWidgetItem* item = nullptr;
        bool present = false;
        bool identified = false; // logged in and its device id read
        bool busy = false;       // the current run works on it
        bool finished = false;   // a run is over for it: its result stands
    };

    QString text(SearchText t) const { return searchText(t, options_.language); }
    void applyTexts();
    void startWatch();
    void stopEverything();
    void useSetupAccount(const QString& setupFile);
    // Asks for an existing file and puts it in the edit; false when the operator cancels.
    bool chooseFileFor(int editId, SearchText title, SearchText filter, const QString& suffix);
    void say(const QString& message, QMessageBox::Icon icon);
    void applyWhenEnoughAreReady();
    void closeUnattended(int exitCode);

    // On the user-interface thread, from what the threads report.
    void onWatchEvent(unsigned generation, const provision::WatchEvent& event);
    void onProgress(const provision::CameraProgress& progress);

    CameraRow& rowFor(const fleet::Candidate& candidate);
    void apply(const std::vector<std::string>& labels);
    bool prepareRun(provision::FleetSettings& settings);
    void finishRun();
    void updateControls();
    QString stateText(const provision::CameraProgress& progress) const;
    QString resultText(const provision::CameraProgress& progress) const;

    SearchToolOptions options_;
    std::unique_ptr<provision::CameraWatch> watch_;
    std::u16string watchUser_, watchPassword_; // the account the watch identifies cameras with
    unsigned watchGeneration_ = 0;             // events of an earlier watch are dropped
    // Earlier watches finishing their look on threads of their own, so that a new account never
    // waits for a silent camera; the window waits for them only when it goes.
    std::vector<std::future<void>> retiringWatches_;
    std::map<std::string, CameraRow> rows_; // by candidate label

    fleet::RosterLoad roster_;
    std::unique_ptr<provision::FleetInventory> inventory_;
    QString inventoryPath_;
    std::unique_ptr<provision::FleetRunner> runner_;
    std::map<std::size_t, std::string> runCameras_; // runner's camera number -> label
    bool stopping_ = false;
    bool allVerified_ = true; // of the current run
    bool autoApplied_ = false;
    int exitCode_ = 1;
};

} // namespace orv::search
