// Which officer each camera carried when, as the events show it.
//
// For each camera, in event-number order, an event shows the officer read back after the work
// (officerAfter) when it has one, else the officer read before (officerBefore), else none; an
// event that shows none changes nothing. An interval starts at the first event showing an officer
// and ends at the first later event showing a different one. Events without a device id belong to
// no camera.
#include "ledger/ledger.h"

#include <algorithm>
#include <map>

namespace orv::ledger {
namespace {

const std::string& shownOfficer(const Event& e)
{
    return e.officerAfter.empty() ? e.officerBefore : e.officerAfter;
}

// The unit shown beside the officer, taken from the same reading.
const std::string& shownUnit(const Event& e)
{
    if (!e.officerAfter.empty()) {
        return e.unitAfter.empty() ? e.unitBefore : e.unitAfter;
    }
    return e.unitBefore;
}

// Each camera's events in number order, cameras by device id.
std::map<std::string, std::vector<const Event*>> eventsByCamera(const std::vector<Event>& events)
{
    std::map<std::string, std::vector<const Event*>> cameras;
    for (const Event& e : events) {
        if (!e.deviceId.empty()) {
            cameras[e.deviceId].push_back(&e);
        }
    }
    for (auto& [id, list] : cameras) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Event* a, const Event* b) { return a->number < b->number; });
    }
    return cameras;
}

std::vector<Assignment> intervalsOf(const std::string& deviceId, const std::vector<const Event*>& events)
{
    std::vector<Assignment> intervals;
    std::optional<Assignment> current;
    for (const Event* e : events) {
        const std::string& officer = shownOfficer(*e);
        if (officer.empty()) {
            continue;
        }
        if (current && current->officerId == officer) {
            if (!shownUnit(*e).empty()) {
                current->unit = shownUnit(*e);
            }
            continue;
        }
        if (current) {
            current->untilUtc = e->timeUtc;
            current->untilEvent = e->number;
            intervals.push_back(std::move(*current));
        }
        current = Assignment{deviceId, officer, shownUnit(*e), e->timeUtc, {}, e->number, 0};
    }
    if (current) {
        intervals.push_back(std::move(*current));
    }
    return intervals;
}

} // namespace

std::vector<Assignment> assignmentHistory(const std::vector<Event>& events)
{
    std::vector<Assignment> all;
    for (const auto& [deviceId, list] : eventsByCamera(events)) {
        std::vector<Assignment> intervals = intervalsOf(deviceId, list);
        all.insert(all.end(), std::make_move_iterator(intervals.begin()), std::make_move_iterator(intervals.end()));
    }
    return all;
}

std::optional<Assignment> whoHadCamera(const std::vector<Event>& events, const std::string& deviceId,
                                       const std::string& timeUtc)
{
    std::vector<const Event*> list;
    for (const Event& e : events) {
        if (e.deviceId == deviceId && !deviceId.empty()) {
            list.push_back(&e);
        }
    }
    std::stable_sort(list.begin(), list.end(), [](const Event* a, const Event* b) { return a->number < b->number; });
    std::optional<Assignment> found;
    // Intervals follow one another; the last one begun by then is the one in force, unless it ended.
    for (Assignment& a : intervalsOf(deviceId, list)) {
        if (a.fromUtc <= timeUtc && (a.untilEvent == 0 || timeUtc < a.untilUtc)) {
            found = std::move(a);
        }
    }
    return found;
}

std::vector<CameraSummary> cameraSummaries(const std::vector<Event>& events)
{
    std::vector<CameraSummary> summaries;
    for (const auto& [deviceId, list] : eventsByCamera(events)) {
        CameraSummary summary;
        summary.deviceId = deviceId;
        summary.last = *list.back();
        const std::vector<Assignment> intervals = intervalsOf(deviceId, list);
        if (!intervals.empty()) {
            summary.officerNow = intervals.back().officerId;
            summary.unitNow = intervals.back().unit;
        }
        summaries.push_back(std::move(summary));
    }
    return summaries;
}

} // namespace orv::ledger
