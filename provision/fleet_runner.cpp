#include "provision/fleet_runner.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "provision/camera_identity.h"

#include <algorithm>

namespace orv::provision {
namespace {

Assignment officerField(const Field& field, const std::u16string& text)
{
    Assignment a;
    a.fieldSpec = findField(Group::Device, field.name);
    a.text = text;
    return a;
}

} // namespace

std::vector<GroupPlan> planForOfficer(std::span<const GroupPlan> plan, const fleet::RosterEntry& entry)
{
    const std::vector<Assignment> officer{officerField(DeviceRecord::policeId, entry.policeId),
                                          officerField(DeviceRecord::policeName, entry.policeName),
                                          officerField(DeviceRecord::companyId, entry.companyId),
                                          officerField(DeviceRecord::companyName, entry.companyName)};
    std::vector<GroupPlan> result(plan.begin(), plan.end());
    const auto device =
        std::find_if(result.begin(), result.end(), [](const GroupPlan& g) { return g.group == Group::Device; });
    if (device == result.end()) {
        const auto time =
            std::find_if(result.begin(), result.end(), [](const GroupPlan& g) { return g.group == Group::Time; });
        result.insert(time, GroupPlan{Group::Device, officer});
        return result;
    }
    for (const Assignment& given : officer) {
        const auto same = std::find_if(device->assignments.begin(), device->assignments.end(),
                                       [&](const Assignment& a) { return a.fieldSpec == given.fieldSpec; });
        if (same == device->assignments.end()) {
            device->assignments.push_back(given);
        } else {
            *same = given;
        }
    }
    return result;
}

std::string twinList(std::span<const std::string> twins)
{
    std::string text;
    for (const std::string& twin : twins) {
        text += (text.empty() ? "" : ", ") + twin;
    }
    return text;
}

std::string_view cameraStepName(CameraStep step)
{
    switch (step) {
        case CameraStep::Queued:
            return "queued";
        case CameraStep::Connecting:
            return "connecting";
        case CameraStep::LoggingIn:
            return "logging-in";
        case CameraStep::Identifying:
            return "identifying";
        case CameraStep::Sent:
            return "sent";
        case CameraStep::ReadBack:
            return "read-back";
        case CameraStep::Checked:
            return "checked";
        case CameraStep::Finished:
            return "finished";
    }
    return "";
}

std::string_view cameraResultName(CameraResult result)
{
    switch (result) {
        case CameraResult::Pending:
            return "pending";
        case CameraResult::Verified:
            return "ok";
        case CameraResult::Differs:
            return "differs";
        case CameraResult::NotOnRoster:
            return "not-on-roster";
        case CameraResult::DuplicateId:
            return "duplicate-device-id";
        case CameraResult::Stopped:
            return "stopped";
        case CameraResult::LoginRefused:
            return "login-refused";
        case CameraResult::Unreachable:
            return "unreachable";
        case CameraResult::Vanished:
            return "vanished";
    }
    return "";
}

FleetRun::FleetRun(FleetSettings settings, std::shared_ptr<FleetInventory> inventory, Listener listener,
                   Outcomes outcomes)
    : settings_(std::move(settings))
    , inventory_(std::move(inventory))
    , listener_(std::move(listener))
    , keep_(outcomes)
{
}

void FleetRun::stop()
{
    stop_ = true;
}

void FleetRun::wait() const
{
    std::unique_lock lock(mutex_);
    finishedSignal_.wait(lock, [this] { return tally_.finished == tally_.added; });
}

std::vector<CameraProgress> FleetRun::outcomes() const
{
    std::lock_guard lock(mutex_);
    if (keep_ == Outcomes::Keep) {
        return kept_;
    }
    std::vector<CameraProgress> atWork;
    for (const auto& [number, camera] : atWork_) {
        atWork.push_back(camera);
    }
    return atWork;
}

RunTally FleetRun::tally() const
{
    std::lock_guard lock(mutex_);
    return tally_;
}

std::size_t FleetRun::added() const
{
    std::lock_guard lock(mutex_);
    return tally_.added;
}

std::size_t FleetRun::finished() const
{
    std::lock_guard lock(mutex_);
    return tally_.finished;
}

std::size_t FleetRun::enter(const fleet::Candidate& candidate)
{
    CameraProgress queued;
    queued.candidate = candidate;
    {
        std::lock_guard lock(mutex_);
        queued.camera = tally_.added++;
        atWork_[queued.camera] = queued;
        if (keep_ == Outcomes::Keep) {
            kept_.push_back(queued);
        }
    }
    // Heard before any worker can take the camera, so that its steps are heard in order.
    report(queued, CameraStep::Queued);
    return queued.camera;
}

CameraProgress FleetRun::camera(std::size_t number) const
{
    std::lock_guard lock(mutex_);
    return atWork_.at(number);
}

void FleetRun::report(CameraProgress& camera, CameraStep step)
{
    camera.step = step;
    {
        std::lock_guard lock(mutex_);
        atWork_[camera.camera] = camera;
        if (keep_ == Outcomes::Keep) {
            kept_[camera.camera] = camera;
        }
    }
    if (listener_) {
        std::lock_guard lock(listenerMutex_);
        listener_(camera);
    }
}

void FleetRun::finish(CameraProgress& camera, CameraResult result, std::string message)
{
    camera.result = result;
    camera.message = std::move(message);
    if (result != CameraResult::Vanished) {
        recordInInventory(camera);
        recordInLedger(camera);
    }
    report(camera, CameraStep::Finished);
    {
        std::lock_guard lock(mutex_);
        atWork_.erase(camera.camera);
        ++tally_.finished;
        ++tally_.byResult[static_cast<std::size_t>(result)];
        if (camera.recorded && settings_.ledger && camera.ledgerEvent == 0 && !camera.ledgerSpooled) {
            ++tally_.inventoryOnly;
        }
        switch (result) {
            case CameraResult::Differs:
            case CameraResult::DuplicateId:
            case CameraResult::LoginRefused:
            case CameraResult::Unreachable:
                tally_.lastTrouble = result;
                break;
            case CameraResult::Pending:
            case CameraResult::Verified:
            case CameraResult::NotOnRoster:
            case CameraResult::Stopped:
            case CameraResult::Vanished:
                break;
        }
    }
    finishedSignal_.notify_all();
}

void FleetRun::recordInInventory(CameraProgress& camera)
{
    if (!inventory_) {
        return;
    }
    FleetInventoryRow row;
    row.localTime = inventoryTime();
    row.where = camera.candidate.label();
    row.deviceId = camera.deviceId;
    row.officerId = camera.officerId;
    row.result = camera.message;
    row.differences = differenceList(camera.differences);
    row.clockOffset = camera.clockOffset;
    camera.recorded = inventory_->append(row);
    if (!camera.recorded) {
        // An outcome that cannot be recorded would be lost: no camera is started after it.
        inventoryFailed_ = true;
        stop_ = true;
    }
}

void FleetRun::recordInLedger(CameraProgress& camera)
{
    if (!settings_.ledger || ledgerFailed_) {
        return;
    }
    // Named fields: the texts are of one type, and a swap by position would still compile.
    ledger::Event event = outcomeEvent(settings_.eventTemplate, {.where = camera.candidate.label(),
                                                                 .deviceId = camera.deviceId,
                                                                 .officerId = camera.officerId,
                                                                 .officerBefore = camera.officerBefore,
                                                                 .unitBefore = camera.unitBefore,
                                                                 .unitAfter = camera.unitAfter,
                                                                 .sent = camera.sent,
                                                                 .result = camera.message,
                                                                 .differences = camera.differences,
                                                                 .clockOffset = camera.clockOffset,
                                                                 .notReadBack = camera.notReadBack});
    if (settings_.ledger->append(event)) {
        camera.ledgerEvent = event.number;
        camera.ledgerSpooled = event.number == 0; // kept in the spool; numbered once forwarded
        return;
    }
    loseLedger(settings_.ledger->location() + ": " + settings_.ledger->error());
}

bool FleetRun::hasRoomToRecord()
{
    std::string why;
    if (!settings_.ledger || ledgerFailed_ || settings_.ledger->hasRoomForOutcomes(why)) {
        return true;
    }
    // As when an outcome could not be recorded, but before this camera is sent anything.
    loseLedger(why);
    return false;
}

void FleetRun::loseLedger(std::string problem)
{
    // The cameras at work finish their step and go to the inventory only; none is started after.
    {
        std::lock_guard lock(mutex_);
        ledgerProblem_ = std::move(problem);
    }
    ledgerFailed_ = true;
    stop_ = true;
}

std::string FleetRun::ledgerProblem() const
{
    std::lock_guard lock(mutex_);
    return ledgerProblem_;
}

FleetRunner::FleetRunner(std::size_t parallel, std::shared_ptr<CameraRegistry> registry)
    : registry_(registry ? std::move(registry) : std::make_shared<CameraRegistry>())
    , pool_(parallel)
{
    StartSockets();
}

FleetRunner::~FleetRunner()
{
    closing_ = true;
    {
        std::lock_guard lock(runsMutex_);
        for (const auto& weak : runs_) {
            if (const auto run = weak.lock()) {
                run->stop();
            }
        }
    }
    registry_->wakeWaiters();
    // pool_ ends first (it is the last member): queued cameras are recorded as stopped, cameras at
    // work finish their step.
}

std::optional<std::size_t> FleetRunner::add(const std::shared_ptr<FleetRun>& run, const fleet::Candidate& candidate,
                                            std::string* error)
{
    const std::string label = candidate.label();
    registry_->reserve(label);
    const std::size_t camera = run->enter(candidate);
    const bool posted = pool_.post([this, run, camera] { runJob(*run, camera); }, error);
    if (!posted) {
        CameraProgress progress = run->camera(camera);
        run->finish(progress, CameraResult::Stopped,
                    "failed: no worker thread: " + (error ? *error : std::string("none could be started")));
        registry_->unreserve(label);
        return std::nullopt;
    }
    std::lock_guard lock(runsMutex_);
    std::erase_if(runs_, [](const std::weak_ptr<FleetRun>& r) { return r.expired(); });
    if (std::none_of(runs_.begin(), runs_.end(), [&](const auto& r) { return r.lock() == run; })) {
        runs_.push_back(run);
    }
    return camera;
}

void FleetRunner::runJob(FleetRun& run, std::size_t number)
{
    CameraProgress camera = run.camera(number);
    const std::string label = camera.candidate.label();
    std::atomic<bool>& cancelled = run.stop_;
    if (cancelled || closing_ || !registry_->holdForRunner(label, cancelled)) {
        run.finish(camera, CameraResult::Stopped, "stopped before it started");
        return registry_->unreserve(label);
    }
    runCamera(run, camera);
}

void FleetRunner::runCamera(FleetRun& run, CameraProgress& camera)
{
    Outcome outcome;
    {
        CameraLink link;
        outcome = workOn(run, camera, link);
        link.Close();
    }
    // Recorded and told before it is handed back, so that what the watch reads of it next is
    // heard after its outcome; and closed before: the next connection starts after this one ended.
    run.finish(camera, outcome.result, std::move(outcome.message));
    registry_->release(camera.candidate.label());
}

FleetRunner::Outcome FleetRunner::workOn(FleetRun& run, CameraProgress& camera, CameraLink& link)
{
    const FleetSettings& s = run.settings_;
    const std::string label = camera.candidate.label();
    const Outcome nothingSent{CameraResult::Stopped, "stopped: nothing sent"};

    IdentifySettings login;
    login.user = s.user;
    login.password = s.password;
    login.connectTimeout = s.timeout;
    login.replyTimeout = s.timeout;
    login.port = s.port;
    const CameraIdentity identity = identifyCamera(
        link, camera.candidate, login,
        [&](IdentifyStep step) {
            switch (step) {
                case IdentifyStep::Connecting:
                    return run.report(camera, CameraStep::Connecting);
                case IdentifyStep::LoggingIn:
                    return run.report(camera, CameraStep::LoggingIn);
                case IdentifyStep::Reading:
                    return run.report(camera, CameraStep::Identifying);
            }
        },
        &run.stop_);
    if (!identity.connected && s.vanishedIsNoCamera) {
        return {CameraResult::Vanished, "gone before its work began: " + identity.problem};
    }
    camera.deviceId = identity.deviceId;
    camera.officerId = identity.policeId;
    camera.officerBefore = identity.policeId;
    camera.unitBefore = identity.companyName;
    camera.unitAfter = identity.companyName;
    camera.clockOffset = identity.clockOffset;
    if (identity.stopped) {
        return nothingSent;
    }
    if (!identity.identified()) {
        return {identity.login == LoginOutcome::Refused ? CameraResult::LoginRefused : CameraResult::Unreachable,
                "failed: " + identity.problem};
    }
    registry_->noteDeviceId(label, identity.deviceId);
    camera.twins = registry_->othersWithDeviceId(label, identity.deviceId);

    std::vector<GroupPlan> plan = s.plan;
    if (s.roster) {
        if (!camera.twins.empty()) {
            // Which of the twins is which officer's cannot be told: neither is given one.
            return {CameraResult::DuplicateId, "duplicate device id (also at " + twinList(camera.twins) + ")"};
        }
        if (const fleet::RosterEntry* entry = s.roster->find(camera.deviceId)) {
            plan = planForOfficer(s.plan, *entry);
        } else if (s.notOnRoster == NotOnRoster::Skip) {
            return {CameraResult::NotOnRoster, "not on the roster"};
        }
    }
    if (run.stopping() || !run.hasRoomToRecord()) {
        return nothingSent;
    }

    const ApplyProgress progress = [&](ApplyPhase phase, Group group, const GroupResult& read) {
        camera.group = group;
        if (phase != ApplyPhase::Sending && group == Group::Device && read.outcome == CameraOutcome::Done) {
            if (const FieldValue* officer = read.values.find("policeId")) {
                camera.officerId = officer->text;
            }
            if (const FieldValue* unit = read.values.find("companyName")) {
                camera.unitAfter = unit->text;
            }
        }
        run.report(camera, phase == ApplyPhase::Sending     ? CameraStep::Sent
                           : phase == ApplyPhase::Verifying ? CameraStep::ReadBack
                                                            : CameraStep::Checked);
    };
    const bool check = s.mode == RunMode::Check;
    const ApplyReport applied =
        check ? checkSetup(link, plan, progress, &run.stop_) : applySetup(link, plan, progress, &run.stop_);
    camera.differences = applied.differences;
    camera.sent = applied.sent;
    camera.notReadBack = deviceNotReadBack(plan, applied);
    const std::string prefix = check ? "check: " : "";
    if (applied.stopped) {
        const std::string sent = applied.sent.empty() ? "nothing" : groupList(applied.sent);
        return {CameraResult::Stopped, applied.failedStep + " " + std::string(groupName(applied.failedGroup)) +
                                           (check ? "" : " (sent: " + sent + ")")};
    }
    if (applied.outcome != CameraOutcome::Done) {
        return {CameraResult::Unreachable, "failed: " + prefix + std::string(groupName(applied.failedGroup)) + ": " +
                                               applied.failedStep + ": " + std::string(outcomeText(applied.outcome))};
    }
    if (!applied.differences.empty()) {
        return {CameraResult::Differs, prefix + "differs"};
    }
    return {CameraResult::Verified, prefix + "ok"};
}

} // namespace orv::provision
