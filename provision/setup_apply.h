#pragma once
// Pushing a setup file of the console to a logged-in camera, as a Load Setup, the login after it
// and the Set buttons would, and reading every pushed group back to see that it took.

#include "persist/setup_document.h"
#include "provision/camera_groups.h"

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace orv::provision {

struct GroupPlan
{
    Group group;
    std::vector<Assignment> assignments;
};

// The console's form (as a setup file keeps it) as the group's assignments: the fields its Set
// button sends, converted as it converts them. The device group leaves out the device id and
// the screen key, which a setup file does not carry; the proxy group, which has no place in
// it, gets none.
std::vector<Assignment> formAssignments(Group group, const SetupValues& form);

// The groups a file holds, in the order they are sent: U-identify (the login after a Load Setup),
// then platform, 4g, wifi, device and time. A group whose element is missing is not sent. The
// device id is not sent, and neither are the "camera" and "language" elements, which only the
// console's own form uses.
std::vector<GroupPlan> planSetup(std::span<const SetupElement> elements);

struct FieldDifference
{
    Group group;
    std::string field;
    bool secret = false;
    bool isText = false;
    std::u16string cameraText;
    std::u16string setupText;
    std::int64_t cameraNumber = 0;
    std::int64_t setupNumber = 0;
    std::string note; // set instead of the values when the group could not be compared
};

struct ApplyReport
{
    // Done, or why the camera stopped taking part (NoReply, NotSent); `failedGroup` and
    // `failedStep` then say where.
    CameraOutcome outcome = CameraOutcome::Done;
    Group failedGroup = Group::Platform;
    std::string failedStep;
    std::vector<Group> sent;
    std::vector<FieldDifference> differences;
    std::vector<GroupValues> readBack; // each pushed group as read afterwards
    // Asked to stop: nothing was sent from `failedGroup` on; `failedStep` says in which phase.
    bool stopped = false;

    bool verified() const { return outcome == CameraOutcome::Done && !stopped && differences.empty(); }
};

enum class ApplyPhase : std::uint8_t { Sending, Verifying, Checking };
using ApplyProgress = std::function<void(ApplyPhase, Group, const GroupResult&)>;

// `stop`, when given, is looked at before each group is sent or read back: once it is set the
// group in hand is finished and nothing more goes to the camera.
ApplyReport applySetup(CameraLink& link, std::span<const GroupPlan> plan, const ApplyProgress& progress = {},
                       const std::atomic<bool>* stop = nullptr);

// Reads every group of the plan and compares it with what the plan would write, writing nothing:
// the audit before cameras are issued. `sent` stays empty; `readBack` holds what was read.
ApplyReport checkSetup(CameraLink& link, std::span<const GroupPlan> plan, const ApplyProgress& progress = {},
                       const std::atomic<bool>* stop = nullptr);

// "wifi.ssid, device.policeId": the differing fields as the inventory and progress lines name them.
std::string differenceList(std::span<const FieldDifference> differences);

} // namespace orv::provision
