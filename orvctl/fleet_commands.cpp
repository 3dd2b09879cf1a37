#include "orvctl/fleet_commands.h"
#include "orvctl/provisioner.h"

#include "fleet/candidate.h"
#include "fleet/network_interface.h"
#include "fleet/roster.h"
#include "lang/utf.h"
#include "orvctl/json_writer.h"
#include "orvctl/ledger_commands.h"
#include "provision/camera_identity.h"
#include "provision/camera_scan.h"
#include "provision/camera_watch.h"
#include "provision/fleet_runner.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>

namespace orv::cli {
using namespace orv::provision;
namespace {

// A camera on its USB cable accepts a connection within milliseconds; absent or silent ones cost
// this once per look, all together.
constexpr std::chrono::milliseconds kProbeTimeout{500};
// Cameras worked on at once.
constexpr std::size_t kParallelCameras = 16;

std::filesystem::path pathFrom(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

fleet::SearchPlan searchPlan(const CliOptions& o)
{
    fleet::SearchPlan plan;
    plan.cameraAddress = o.address;
    plan.interfaceNames = o.interfaces;
    plan.cameraAddresses = o.addresses;
    return plan;
}

void whereInJson(JsonWriter& j, const fleet::Candidate& c)
{
    j.key("where").value(c.label());
    j.key("interface");
    if (c.via.empty()) {
        j.null();
    } else {
        j.value(c.via.name);
    }
    j.key("address").value(c.address);
}

void clockInJson(JsonWriter& j, const std::optional<std::int64_t>& offset)
{
    j.key("clockOffset");
    if (offset) {
        j.value(*offset);
    } else {
        j.null();
    }
}

int exitCodeOf(CameraResult result)
{
    switch (result) {
        case CameraResult::LoginRefused:
            return kExitLoginRefused;
        case CameraResult::Unreachable:
            return kExitUnreachable;
        case CameraResult::Differs:
        case CameraResult::DuplicateId:
            return kExitDiffers;
        case CameraResult::Pending:
        case CameraResult::Verified:
        case CameraResult::NotOnRoster:
        case CameraResult::Stopped:
        case CameraResult::Vanished:
            break;
    }
    return kExitDone;
}

// Works on cameras as the watch reports them: each camera once while it stays attached, again
// when another (or the same) camera is plugged in where it was.
class FleetWork
{
public:
    FleetWork(const CliOptions& options, CliContext& context, RunMode mode, const std::string& setupBytes)
        : o_(options)
        , c_(context)
        , mode_(mode)
        , setupBytes_(setupBytes)
    {
    }

    int run(FleetSettings settings)
    {
        const char* verb = mode_ == RunMode::Check ? "checked" : "sent";
        std::string error;
        if (!o_.inventory.empty()) {
            inventory_ = std::make_shared<FleetInventory>();
        }
        if (inventory_ && !inventory_->open(pathFrom(o_.inventory), error)) {
            c_.err << "orvctl: inventory " << o_.inventory << ": " << error << "; nothing was " << verb << "\n";
            return kExitFailed;
        }
        if (o_.retryFailed) {
            history_ = readInventoryHistory(pathFrom(o_.inventory));
            if (!history_.problem.empty()) {
                c_.err << "orvctl: inventory " << o_.inventory << ": " << history_.problem << "; nothing was "
                       << verb << "\n";
                return kExitFailed;
            }
        }
        if (!o_.roster.empty()) {
            roster_ = fleet::loadRoster(pathFrom(o_.roster));
            if (!roster_.ok()) {
                for (const auto& p : roster_.problems) {
                    c_.err << "orvctl: roster " << o_.roster << ": " << fleet::describe(p) << "\n";
                }
                c_.err << "orvctl: the roster is refused; nothing was " << verb << "\n";
                return kExitFailed;
            }
            settings.roster = std::make_shared<const fleet::Roster>(std::move(roster_.roster));
        }
        // Reached before the first camera: every outcome is to be recorded there.
        int refused = kExitDone;
        recording_ = startRecording(o_, c_, refused, std::string("nothing was ") + verb);
        if (!recording_) {
            return refused;
        }
        settings.ledger = recording_->ledger;
        settings.eventTemplate = startEvent(orvctlOrigin(), mode_ == RunMode::Check ? "check" : "provision");
        noteSetupFile(settings.eventTemplate, pathFrom(o_.operands[0]), setupBytes_);
        settings.mode = mode_;
        // A camera pulled out between the watch's look and its worker's connect is no camera.
        settings.vanishedIsNoCamera = o_.all;
        // One run for the whole session, which may see thousands of cameras: only its tally is kept.
        run_ = std::make_shared<FleetRun>(
            std::move(settings), inventory_, [this](const CameraProgress& p) { print(p); }, Outcomes::TallyOnly);
        const int code = o_.all ? watchAndWork() : workOnOne();
        // Whatever was recorded is sealed by a checkpoint, also when the run ended early; a ledger
        // lost during the run is said below.
        const bool sealed = run_->ledgerFailed() || sealRecording(*recording_, c_) == kExitDone;
        if (code != kExitDone) {
            return code;
        }
        if (!sealed) {
            return kExitFailed;
        }
        bool lost = false;
        if (run_->ledgerFailed()) {
            // The cameras at work finished their step; none was started after the ledger was lost.
            const std::size_t inventoryOnly = run_->tally().inventoryOnly;
            c_.err << "orvctl: ledger " << ledger::oneLine(run_->ledgerProblem()) << "; no camera was started after it; "
                   << inventoryOnly << (inventoryOnly == 1 ? " outcome is" : " outcomes are")
                   << " in the inventory only";
            if (notInLedger_ > inventoryOnly) {
                c_.err << "; " << notInLedger_ - inventoryOnly << " recorded nowhere but in the lines above";
            }
            c_.err << "\n";
            lost = true;
        }
        if (run_->inventoryFailed()) {
            c_.err << "orvctl: cannot append to the inventory " << o_.inventory << "; stopped\n";
            lost = true;
        }
        if (lost) {
            return kExitFailed;
        }
        if (interrupted_) {
            return kExitInterrupted;
        }
        // A camera left as it is because its device id is not on the roster was not set up (or
        // checked) as asked, any more than one with a twin: the run did not do all it was told.
        const RunTally& tally = run_->tally();
        const int trouble = exitCodeOf(tally.lastTrouble);
        return trouble == kExitDone && tally.count(CameraResult::NotOnRoster) > 0 ? kExitDiffers : trouble;
    }

private:
    bool isInterrupted() const { return c_.interrupted && c_.interrupted->load(); }

    // check without --all: the one camera at --ip.
    int workOnOne()
    {
        FleetRunner runner(1);
        fleet::Candidate camera;
        camera.address = o_.address;
        std::string error;
        if (!runner.add(run_, camera, &error)) {
            c_.err << "orvctl: no worker thread: " << error << "\n";
            return kExitFailed;
        }
        run_->wait();
        return kExitDone;
    }

    int watchAndWork()
    {
        auto registry = std::make_shared<CameraRegistry>();
        FleetRunner runner(kParallelCameras, registry);
        WatchSettings watching;
        watching.plan = searchPlan(o_);
        watching.poll = o_.poll;
        watching.scan.user = run_->settings().user;
        watching.scan.password = run_->settings().password;
        watching.scan.connectTimeout = std::min(kProbeTimeout, o_.timeout);
        watching.scan.replyTimeout = o_.timeout;
        watching.scan.port = run_->settings().port;
        CameraWatch watch(watching, registry, [&](const WatchEvent& e) { heard(e, runner); });
        std::string error;
        if (c_.setInterruptible) {
            c_.setInterruptible(true);
        }
        if (!watch.start(&error)) {
            c_.err << "orvctl: cannot watch for cameras: " << error << "\n";
            return kExitFailed;
        }
        for (;;) {
            if (isInterrupted()) {
                interrupted_ = true;
                break;
            }
            {
                std::lock_guard lock(mutex_);
                if (!workerError_.empty() || run_->stopping() || (countReached() && run_->finished() == started_)) {
                    break;
                }
            }
            pauseUnlessInterrupted(std::chrono::milliseconds(50), c_.interrupted);
        }
        watch.requestStop();
        if (interrupted_) {
            run_->stop();
        }
        watch.stop();
        run_->wait();
        if (c_.setInterruptible) {
            c_.setInterruptible(false);
        }
        if (!workerError_.empty()) {
            c_.err << "orvctl: no worker thread could be started: " << workerError_ << "; stopped\n";
            return kExitFailed;
        }
        return kExitDone;
    }

    // Cameras that vanished before their work began are not counted (nor recorded): another may
    // take their place.
    bool countReached() const
    {
        return o_.count != 0 &&
               started_ - run_->tally().count(CameraResult::Vanished) >= static_cast<std::size_t>(o_.count);
    }

    // On the watch's threads, one event at a time.
    void heard(const WatchEvent& e, FleetRunner& runner)
    {
        const std::string label = e.candidate.label();
        std::lock_guard lock(mutex_);
        switch (e.kind) {
            case WatchEventKind::Problem:
                c_.err << "orvctl: " << e.problem << "\n";
                break;
            case WatchEventKind::Found:
                break;
            case WatchEventKind::Identified:
                if (handOverWhen(run_->settings().roster != nullptr) == HandOver::OnIdentified) {
                    takeOn(e.camera, runner);
                } else {
                    identified_[label] = e.camera;
                }
                break;
            case WatchEventKind::Gone:
                // The next camera plugged in here is another camera to work on.
                taken_.erase(label);
                identified_.erase(label);
                leftAlone_.erase(label);
                break;
            case WatchEventKind::Looked:
                // With a roster, handed over once the look is over (handOverWhen).
                for (auto& [where, camera] : identified_) {
                    takeOn(camera, runner);
                }
                identified_.clear();
                break;
        }
    }

    void takeOn(const ScannedCamera& camera, FleetRunner& runner)
    {
        const std::string label = camera.candidate.label();
        bool leaveAlone = false;
        std::optional<std::string> last;
        {
            std::lock_guard outcomes(outcomesMutex_);
            if (vanished_.erase(label) != 0) {
                taken_.erase(label); // gone before its work began: still to do, if it is back
            }
            const auto taken = taken_.find(label);
            if (taken != taken_.end() && taken->second == camera.deviceId) {
                return; // done already, and still attached
            }
            if (o_.retryFailed) {
                if (const std::string* known = history_.lastOutcome(camera.deviceId, label)) {
                    last = *known;
                }
                leaveAlone = !history_.lastFailed(camera.deviceId, label);
            }
        }
        if (leaveAlone) {
            if (leftAlone_.insert(label).second) {
                c_.out << "[-] " << label << ": device " << utf::toUtf8(camera.deviceId) << ": "
                       << (last ? "its last outcome was ok" : "not in the inventory") << "; left alone" << std::endl;
            }
            return;
        }
        if (countReached() || run_->stopping() || isInterrupted() || !workerError_.empty()) {
            return;
        }
        std::string error;
        if (!runner.add(run_, camera.candidate, &error)) {
            workerError_ = error.empty() ? "none could be started" : error;
            return;
        }
        taken_[label] = camera.deviceId;
        ++started_;
    }

    // One line per step, written by one camera's worker at a time.
    void print(const CameraProgress& p)
    {
        if (p.step == CameraStep::Finished && p.result == CameraResult::Vanished) {
            std::lock_guard lock(outcomesMutex_);
            vanished_.insert(p.candidate.label());
        } else if (p.step == CameraStep::Finished) {
            std::lock_guard lock(outcomesMutex_);
            // Retry failed goes by the last outcome, this session's included.
            if (o_.retryFailed) {
                history_.note(p.deviceId, p.candidate.label(), p.message);
            }
            if (p.ledgerEvent == 0 && !p.ledgerSpooled) {
                ++notInLedger_;
            }
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("camera").value(static_cast<std::int64_t>(p.camera + 1));
            whereInJson(j, p.candidate);
            j.key("step").value(cameraStepName(p.step));
            if (p.step == CameraStep::Sent || p.step == CameraStep::ReadBack || p.step == CameraStep::Checked) {
                j.key("group").value(groupName(p.group));
            }
            j.key("deviceId").value(std::u16string_view(p.deviceId));
            j.key("officerId").value(std::u16string_view(p.officerId));
            if (p.step == CameraStep::Finished) {
                clockInJson(j, p.clockOffset);
                j.key("result").value(cameraResultName(p.result)).key("message").value(p.message);
                j.key("differences").beginArray();
                for (const FieldDifference& d : p.differences) {
                    j.value(std::string(groupName(d.group)) + (d.field.empty() ? "" : "." + d.field));
                }
                j.endArray();
                j.key("twins").beginArray();
                for (const std::string& twin : p.twins) {
                    j.value(twin);
                }
                j.endArray().key("recorded").value(p.recorded);
                j.key("ledgerEvent");
                if (p.ledgerEvent == 0) {
                    j.null();
                } else {
                    j.value(p.ledgerEvent);
                }
                j.key("spooled").value(p.ledgerSpooled);
            }
            j.endObject();
            c_.out << j.text() << std::endl;
            return;
        }
        std::string line = "[" + std::to_string(p.camera + 1) + "] " + p.candidate.label() + ": ";
        const std::string device = "device " + utf::toUtf8(p.deviceId);
        switch (p.step) {
            case CameraStep::Queued:
                line += "camera found";
                break;
            case CameraStep::Connecting:
                line += "connecting";
                break;
            case CameraStep::LoggingIn:
                line += "logging in as " + o_.user;
                break;
            case CameraStep::Identifying:
                line += "reading the device id";
                break;
            case CameraStep::Sent:
                line += device + ": sent " + std::string(groupName(p.group));
                break;
            case CameraStep::ReadBack:
                line += device + ": read back " + std::string(groupName(p.group));
                break;
            case CameraStep::Checked:
                line += device + ": checked " + std::string(groupName(p.group));
                break;
            case CameraStep::Finished:
                if (p.result == CameraResult::Vanished) {
                    line += p.message + "; not counted";
                    break;
                }
                line += device + ", officer " + utf::toUtf8(p.officerId) + ": " + p.message;
                if (!p.differences.empty()) {
                    line += ": " + differenceList(p.differences);
                }
                if (p.clockOffset) {
                    line += " (clock " + clockOffsetText(*p.clockOffset) + ")";
                }
                if (!p.twins.empty() && p.result != CameraResult::DuplicateId) {
                    line += " (its device id is also at " + twinList(p.twins) + ")";
                }
                if (!p.recorded && !o_.inventory.empty()) {
                    line += " (not recorded)";
                }
                if (p.ledgerSpooled) {
                    line += " (in this station's spool)";
                } else if (p.ledgerEvent == 0) {
                    line += " (not in the ledger)";
                }
                break;
        }
        c_.out << line << std::endl;
    }

    const CliOptions& o_;
    CliContext& c_;
    const RunMode mode_;
    const std::string& setupBytes_;
    std::shared_ptr<FleetInventory> inventory_;
    std::mutex outcomesMutex_; // after mutex_ when both are held
    InventoryHistory history_; // under outcomesMutex_ once the run started
    std::set<std::string> vanished_; // under outcomesMutex_
    fleet::RosterLoad roster_;
    std::optional<ledger::Recording> recording_;
    std::shared_ptr<FleetRun> run_;
    bool interrupted_ = false;
    std::size_t notInLedger_ = 0; // outcomes the ledger did not take; heard one at a time

    std::mutex mutex_; // what the watch's events and the waiting loop share
    std::map<std::string, ScannedCamera> identified_; // in the look in hand
    std::map<std::string, std::u16string> taken_;     // label -> device id, while attached
    std::set<std::string> leftAlone_;
    std::size_t started_ = 0;
    std::string workerError_;
};

} // namespace

int scanCameras(const CliOptions& o, CliContext& c, const FleetLogin& login)
{
    const fleet::CandidateList list =
        fleet::findCandidates(searchPlan(o), o.addresses.empty() ? fleet::systemInterfaces()
                                                                  : std::vector<fleet::NetworkInterface>{});
    if (!list.problems.empty()) {
        for (const std::string& p : list.problems) {
            c.err << "orvctl: " << p << "\n";
        }
        c.err << "Try 'orvctl --help'.\n";
        return kExitUsage;
    }
    ScanSettings settings;
    settings.user = login.user;
    settings.password = login.password;
    settings.connectTimeout = std::min(kProbeTimeout, o.timeout);
    settings.replyTimeout = o.timeout;
    const std::vector<ScannedCamera> found = provision::scanCameras(list.candidates, settings);
    // Twins are told apart as the runner tells them.
    CameraRegistry seen;
    for (const ScannedCamera& s : found) {
        if (s.identified()) {
            seen.noteDeviceId(s.candidate.label(), s.deviceId);
        }
    }
    const auto twinsOf = [&](const ScannedCamera& s) {
        return s.identified() ? seen.othersWithDeviceId(s.candidate.label(), s.deviceId) : std::vector<std::string>{};
    };
    const auto present = std::count_if(found.begin(), found.end(), [](const ScannedCamera& s) { return s.connected; });
    if (o.json) {
        JsonWriter j;
        j.beginObject().key("cameras").beginArray();
        for (const ScannedCamera& s : found) {
            if (!s.connected) {
                continue;
            }
            j.beginObject();
            whereInJson(j, s.candidate);
            j.key("usbAdapter").value(s.candidate.usbAdapter);
            j.key("deviceId").value(std::u16string_view(s.deviceId));
            j.key("policeId").value(std::u16string_view(s.policeId));
            j.key("policeName").value(std::u16string_view(s.policeName));
            clockInJson(j, s.clockOffset);
            j.key("twins").beginArray();
            for (const std::string& twin : twinsOf(s)) {
                j.value(twin);
            }
            j.endArray();
            j.key("problem");
            if (s.problem.empty()) {
                j.null();
            } else {
                j.value(s.problem);
            }
            j.endObject();
        }
        j.endArray().key("looked").value(static_cast<std::int64_t>(found.size())).endObject();
        c.out << j.text() << "\n";
    } else {
        for (const ScannedCamera& s : found) {
            if (!s.connected) {
                continue;
            }
            c.out << s.candidate.label() << "  ";
            if (s.problem.empty()) {
                c.out << "device " << utf::toUtf8(s.deviceId) << "  officer " << utf::toUtf8(s.policeId) << " "
                      << utf::toUtf8(s.policeName);
                if (s.clockOffset) {
                    c.out << "  clock " << clockOffsetText(*s.clockOffset);
                }
                if (const auto twins = twinsOf(s); !twins.empty()) {
                    c.out << "  (duplicate device id: also at " << twinList(twins) << ")";
                }
                c.out << "\n";
            } else {
                c.out << "(" << s.problem << ")\n";
            }
        }
        c.out << present << (present == 1 ? " camera" : " cameras") << " found of " << found.size()
              << " looked at\n";
    }
    return present == 0 ? kExitUnreachable : kExitDone;
}

int workOnCameras(const CliOptions& o, CliContext& c, const FleetLogin& login, std::vector<GroupPlan> plan,
                  const std::string& setupBytes, RunMode mode)
{
    FleetSettings settings;
    settings.user = login.user;
    settings.password = login.password;
    settings.plan = std::move(plan);
    settings.notOnRoster = o.notOnRosterSetup ? NotOnRoster::UseSetup : NotOnRoster::Skip;
    settings.timeout = o.timeout;
    return FleetWork(o, c, mode, setupBytes).run(std::move(settings));
}

} // namespace orv::cli
