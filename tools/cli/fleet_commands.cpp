#include "tools/cli/fleet_commands.h"
#include "tools/cli/provisioner.h"

#include "fleet/camera_probe.h"
#include "fleet/candidate.h"
#include "fleet/network_interface.h"
#include "fleet/roster.h"
#include "lang/utf.h"
#include "provision/camera_scan.h"
#include "provision/fleet_runner.h"
#include "tools/cli/json_writer.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <set>
#include <thread>

namespace orv::cli {
using namespace orv::provision;
namespace {

// A camera on its USB cable accepts a connection within milliseconds; absent ones cost this once
// per look, all together.
constexpr std::chrono::milliseconds kProbeTimeout{500};

std::filesystem::path pathFrom(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

fleet::CandidateList candidatesNow(const CliOptions& o)
{
    fleet::SearchPlan plan;
    plan.cameraAddress = o.address;
    plan.interfaceNames = o.interfaces;
    plan.cameraAddresses = o.addresses;
    return fleet::findCandidates(plan, o.addresses.empty() ? fleet::systemInterfaces()
                                                           : std::vector<fleet::NetworkInterface>{});
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

void printProblems(const std::vector<std::string>& problems, CliContext& c)
{
    for (const std::string& p : problems) {
        c.err << "orvctl: " << p << "\n";
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
            return kExitDiffers;
        case CameraResult::Pending:
        case CameraResult::Verified:
        case CameraResult::NotOnRoster:
        case CameraResult::Stopped:
            break;
    }
    return kExitDone;
}

class FleetProvision
{
public:
    FleetProvision(const CliOptions& options, CliContext& context)
        : o_(options)
        , c_(context)
    {
    }

    int run(FleetSettings settings)
    {
        std::string error;
        if (!inventory_.open(pathFrom(o_.inventory), error)) {
            c_.err << "orvctl: inventory " << o_.inventory << ": " << error << "; nothing was sent\n";
            return kExitFailed;
        }
        if (!o_.roster.empty()) {
            roster_ = fleet::loadRoster(pathFrom(o_.roster));
            if (!roster_.ok()) {
                for (const auto& p : roster_.problems) {
                    c_.err << "orvctl: roster " << o_.roster << ": " << fleet::describe(p) << "\n";
                }
                c_.err << "orvctl: the roster is refused; nothing was sent\n";
                return kExitFailed;
            }
            settings.roster = &roster_.roster;
        }
        FleetRunner runner(std::move(settings), &inventory_, [this](const CameraProgress& p) { print(p); });
        if (c_.setInterruptible) {
            c_.setInterruptible(true);
        }
        const bool interrupted = watch(runner);
        runner.wait();
        if (c_.setInterruptible) {
            c_.setInterruptible(false);
        }
        int code = kExitDone;
        for (const CameraProgress& p : runner.outcomes()) {
            code = exitCodeOf(p.result) != kExitDone ? exitCodeOf(p.result) : code;
        }
        if (runner.inventoryFailed()) {
            c_.err << "orvctl: cannot append to the inventory " << o_.inventory << "; stopped\n";
            return kExitFailed;
        }
        return interrupted ? kExitInterrupted : code;
    }

private:
    bool isInterrupted() const { return c_.interrupted && c_.interrupted->load(); }

    // Looks for cameras until --count were taken on, the operator interrupts (true) or the
    // runner stops by itself (the inventory cannot be written).
    bool watch(FleetRunner& runner)
    {
        std::map<std::string, std::size_t> taken; // candidate label -> camera number
        std::size_t started = 0;
        bool firstLook = true;
        for (;;) {
            if (isInterrupted()) {
                runner.stop();
                return true;
            }
            if (runner.stopping() || (o_.count != 0 && started >= static_cast<std::size_t>(o_.count))) {
                return false;
            }
            const fleet::CandidateList list = candidatesNow(o_);
            if (firstLook) {
                printProblems(list.problems, c_);
                firstLook = false;
            }
            // A camera at work is not disturbed; a finished one is looked at again, so that the
            // next camera plugged in where it was is taken on once it has gone.
            const std::vector<CameraProgress> outcomes = runner.outcomes();
            std::vector<fleet::Candidate> look;
            for (const fleet::Candidate& c : list.candidates) {
                const auto t = taken.find(c.label());
                if (t == taken.end() || outcomes[t->second].step == CameraStep::Finished) {
                    look.push_back(c);
                }
            }
            fleet::ProbeOptions probe;
            probe.timeout = std::min(kProbeTimeout, o_.timeout);
            for (const fleet::ProbeResult& r : fleet::probeCandidates(look, probe)) {
                const std::string label = r.candidate.label();
                const bool known = taken.count(label) != 0;
                if (!r.present && known) {
                    taken.erase(label);
                } else if (r.present && !known && !isInterrupted() &&
                           (o_.count == 0 || started < static_cast<std::size_t>(o_.count))) {
                    taken[label] = runner.add(r.candidate);
                    ++started;
                }
            }
            if (!pause(o_.poll)) {
                runner.stop();
                return true;
            }
        }
    }

    // False when interrupted during the pause.
    bool pause(std::chrono::milliseconds d) const
    {
        return pauseUnlessInterrupted(d, c_.interrupted);
    }

    // One line per step, written by one camera's worker at a time.
    void print(const CameraProgress& p)
    {
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("camera").value(static_cast<std::int64_t>(p.camera + 1));
            whereInJson(j, p.candidate);
            j.key("step").value(cameraStepName(p.step));
            if (p.step == CameraStep::Sent || p.step == CameraStep::ReadBack) {
                j.key("group").value(groupName(p.group));
            }
            j.key("deviceId").value(std::u16string_view(p.deviceId));
            j.key("officerId").value(std::u16string_view(p.officerId));
            if (p.step == CameraStep::Finished) {
                j.key("result").value(cameraResultName(p.result)).key("message").value(p.message);
                j.key("differences").beginArray();
                for (const FieldDifference& d : p.differences) {
                    j.value(std::string(groupName(d.group)) + (d.field.empty() ? "" : "." + d.field));
                }
                j.endArray().key("recorded").value(p.recorded);
            }
            j.endObject();
            c_.out << j.text() << std::endl;
            return;
        }
        std::string line = "[" + std::to_string(p.camera + 1) + "] " + p.candidate.label() + ": ";
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
                line += "device " + utf::toUtf8(p.deviceId) + ": sent " + std::string(groupName(p.group));
                break;
            case CameraStep::ReadBack:
                line += "device " + utf::toUtf8(p.deviceId) + ": read back " + std::string(groupName(p.group));
                break;
            case CameraStep::Finished:
                line +=
                    "device " + utf::toUtf8(p.deviceId) + ", officer " + utf::toUtf8(p.officerId) + ": " + p.message;
                if (!p.differences.empty()) {
                    line += ": " + differenceList(p.differences);
                }
                if (!p.recorded) {
                    line += " (not recorded)";
                }
                break;
        }
        c_.out << line << std::endl;
    }

    const CliOptions& o_;
    CliContext& c_;
    FleetInventory inventory_;
    fleet::RosterLoad roster_;
};

} // namespace

int scanCameras(const CliOptions& o, CliContext& c, const FleetLogin& login)
{
    const fleet::CandidateList list = candidatesNow(o);
    printProblems(list.problems, c);
    ScanSettings settings;
    settings.user = login.user;
    settings.password = login.password;
    settings.connectTimeout = std::min(kProbeTimeout, o.timeout);
    settings.replyTimeout = o.timeout;
    const std::vector<ScannedCamera> found = provision::scanCameras(list.candidates, settings);
    const auto present = std::count_if(found.begin(), found.end(), [](const ScannedCamera& s) { return s.present; });
    if (o.json) {
        JsonWriter j;
        j.beginObject().key("cameras").beginArray();
        for (const ScannedCamera& s : found) {
            if (!s.present) {
                continue;
            }
            j.beginObject();
            whereInJson(j, s.candidate);
            j.key("usbAdapter").value(s.candidate.usbAdapter);
            j.key("deviceId").value(std::u16string_view(s.deviceId));
            j.key("policeId").value(std::u16string_view(s.policeId));
            j.key("policeName").value(std::u16string_view(s.policeName));
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
        return kExitDone;
    }
    for (const ScannedCamera& s : found) {
        if (!s.present) {
            continue;
        }
        c.out << s.candidate.label() << "  ";
        if (s.problem.empty()) {
            c.out << "device " << utf::toUtf8(s.deviceId) << "  officer " << utf::toUtf8(s.policeId) << " "
                  << utf::toUtf8(s.policeName) << "\n";
        } else {
            c.out << "(" << s.problem << ")\n";
        }
    }
    c.out << present << (present == 1 ? " camera" : " cameras") << " found of " << found.size() << " looked at\n";
    return kExitDone;
}

int provisionAll(const CliOptions& o, CliContext& c, const FleetLogin& login, std::vector<GroupPlan> plan)
{
    FleetSettings settings;
    settings.user = login.user;
    settings.password = login.password;
    settings.plan = std::move(plan);
    settings.notOnRoster = o.notOnRosterSetup ? NotOnRoster::UseSetup : NotOnRoster::Skip;
    settings.timeout = o.timeout;
    return FleetProvision(o, c).run(std::move(settings));
}

} // namespace orv::cli
