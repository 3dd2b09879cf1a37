#include "provision/fleet_runner.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "provision/camera_session.h"

#include <algorithm>
#include <system_error>

namespace orv::provision {
namespace {

Assignment officerField(const Field& field, const std::u16string& text)
{
    Assignment a;
    a.fieldSpec = findField(Group::Device, field.name);
    a.text = text;
    return a;
}

std::string groupList(std::span<const Group> groups)
{
    std::string list;
    for (const Group g : groups) {
        list += (list.empty() ? "" : ", ") + std::string(groupName(g));
    }
    return list;
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
        case CameraResult::Stopped:
            return "stopped";
        case CameraResult::LoginRefused:
            return "login-refused";
        case CameraResult::Unreachable:
            return "unreachable";
    }
    return "";
}

FleetRunner::FleetRunner(FleetSettings settings, FleetInventory* inventory,
                         std::function<void(const CameraProgress&)> listener)
    : settings_(std::move(settings))
    , inventory_(inventory)
    , listener_(std::move(listener))
{
    settings_.parallel = std::max<std::size_t>(settings_.parallel, 1);
    StartSockets();
}

FleetRunner::~FleetRunner()
{
    stop();
    wait();
}

std::size_t FleetRunner::add(const fleet::Candidate& candidate)
{
    CameraProgress queued;
    queued.candidate = candidate;
    {
        std::lock_guard lock(mutex_);
        queued.camera = cameras_.size();
        cameras_.push_back(queued);
    }
    // Heard before any worker can take the camera, so that its steps are heard in order.
    report(queued, CameraStep::Queued);

    std::unique_lock lock(mutex_);
    queue_.push_back(queued.camera);
    if (working_ < settings_.parallel) {
        ++working_;
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to be had: the workers already running take it, or this caller does.
            if (working_ == 1) {
                lock.unlock();
                work();
                return queued.camera;
            }
            --working_;
        }
    }
    return queued.camera;
}

void FleetRunner::stop()
{
    stop_ = true;
}

void FleetRunner::wait()
{
    std::vector<std::thread> done;
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && working_ == 0; });
        done.swap(threads_);
    }
    for (auto& t : done) {
        t.join();
    }
}

std::vector<CameraProgress> FleetRunner::outcomes() const
{
    std::lock_guard lock(mutex_);
    return cameras_;
}

void FleetRunner::work()
{
    for (;;) {
        CameraProgress camera;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                --working_;
                idle_.notify_all();
                return;
            }
            camera = cameras_[queue_.front()];
            queue_.erase(queue_.begin());
        }
        if (stop_) {
            finish(camera, CameraResult::Stopped, "stopped before it started");
        } else {
            runCamera(camera);
        }
    }
}

void FleetRunner::report(CameraProgress& camera, CameraStep step)
{
    camera.step = step;
    {
        std::lock_guard lock(mutex_);
        cameras_[camera.camera] = camera;
    }
    if (listener_) {
        std::lock_guard lock(listenerMutex_);
        listener_(camera);
    }
}

void FleetRunner::finish(CameraProgress& camera, CameraResult result, std::string message)
{
    camera.result = result;
    camera.message = std::move(message);
    if (inventory_) {
        FleetInventoryRow row;
        row.localTime = inventoryTime();
        row.where = camera.candidate.label();
        row.deviceId = camera.deviceId;
        row.officerId = camera.officerId;
        row.result = camera.message;
        row.differences = differenceList(camera.differences);
        camera.recorded = inventory_->append(row);
        if (!camera.recorded) {
            // An outcome that cannot be recorded would be lost: no camera is started after it.
            inventoryFailed_ = true;
            stop_ = true;
        }
    }
    report(camera, CameraStep::Finished);
}

void FleetRunner::runCamera(CameraProgress& camera)
{
    const std::string nothingSent = "stopped: nothing sent";
    report(camera, CameraStep::Connecting);
    CameraLink link;
    link.connectTimeout = settings_.timeout;
    link.replyTimeout = settings_.timeout;
    link.boundInterface = camera.candidate.via;
    if (!link.Open() || !link.Connect(camera.candidate.address, settings_.port)) {
        const std::string why = link.lastFailure().empty() ? "no socket" : link.lastFailure();
        return finish(camera, CameraResult::Unreachable, "failed: no connection: " + why);
    }
    if (stop_) {
        return finish(camera, CameraResult::Stopped, nothingSent);
    }

    report(camera, CameraStep::LoggingIn);
    switch (checkLoginOnLink(link, settings_.user, settings_.password)) {
        case LoginOutcome::LoggedIn:
            break;
        case LoginOutcome::Refused:
            return finish(camera, CameraResult::LoginRefused,
                          "failed: login refused for user " + utf::toUtf8(settings_.user));
        case LoginOutcome::Unreachable:
        case LoginOutcome::Silent:
            return finish(camera, CameraResult::Unreachable, "failed: login: no account table from the camera");
    }
    if (stop_) {
        return finish(camera, CameraResult::Stopped, nothingSent);
    }

    report(camera, CameraStep::Identifying);
    DeviceRecord device;
    if (GetConfig(link, device) != 0) {
        return finish(camera, CameraResult::Unreachable, "failed: read the device record: no reply");
    }
    camera.deviceId = device.text(DeviceRecord::deviceId);
    camera.officerId = device.text(DeviceRecord::policeId);

    std::vector<GroupPlan> plan;
    const fleet::RosterEntry* entry = settings_.roster ? settings_.roster->find(camera.deviceId) : nullptr;
    if (entry) {
        plan = planForOfficer(settings_.plan, *entry);
    } else if (settings_.roster && settings_.notOnRoster == NotOnRoster::Skip) {
        return finish(camera, CameraResult::NotOnRoster, "not on the roster");
    } else {
        plan = settings_.plan;
    }
    if (stop_) {
        return finish(camera, CameraResult::Stopped, nothingSent);
    }

    const ApplyReport applied = applySetup(
        link, plan,
        [&](ApplyPhase phase, Group group, const GroupResult& result) {
            camera.group = group;
            if (phase == ApplyPhase::Verifying && group == Group::Device && result.outcome == CameraOutcome::Done) {
                if (const FieldValue* officer = result.values.find("policeId")) {
                    camera.officerId = officer->text;
                }
            }
            report(camera, phase == ApplyPhase::Sending ? CameraStep::Sent : CameraStep::ReadBack);
        },
        &stop_);
    camera.differences = applied.differences;
    if (applied.stopped) {
        const std::string sent = applied.sent.empty() ? "nothing" : groupList(applied.sent);
        return finish(camera, CameraResult::Stopped,
                      applied.failedStep + " " + std::string(groupName(applied.failedGroup)) + " (sent: " + sent + ")");
    }
    if (applied.outcome != CameraOutcome::Done) {
        return finish(camera, CameraResult::Unreachable,
                      "failed: " + std::string(groupName(applied.failedGroup)) + ": " + applied.failedStep + ": " +
                          std::string(outcomeText(applied.outcome)));
    }
    if (!applied.differences.empty()) {
        return finish(camera, CameraResult::Differs, "differs");
    }
    finish(camera, CameraResult::Verified, "ok");
}

} // namespace orv::provision
