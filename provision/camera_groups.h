#pragma once
// The camera's settings groups as the console's Get and Set buttons, orvctl and the search tool
// read and write them: one set of records, read-modify-writes and conversions for all three.

#include "link/camera_link.h"
#include "link/records.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::provision {

enum class Group : std::uint8_t { Platform, Net4g, Wifi, Device, Time, Proxy, UIdentify };
inline constexpr std::array kAllGroups{Group::Platform, Group::Net4g, Group::Wifi,     Group::Device,
                                       Group::Time,     Group::Proxy, Group::UIdentify};

std::string_view groupName(Group group); // "platform", "4g", ...
std::optional<Group> groupFromName(std::string_view name);

// How a value becomes the field's contents, as the console turns a control into record bytes.
enum class Conversion : std::uint8_t {
    Text,        // the whole text, bounded by the field
    Port16,      // leading decimal number, low 16 bits
    Number32,    // leading decimal number, all 32 bits
    Check,       // a check box: 1 or 0
    TimeZoneRow, // a combo row 0..24; no row (any other number) is sent as 255
};

// Which platform record a field lives in; the camera's platform choice decides which is used.
enum class PlatformUse : std::uint8_t { Any, Ttx, Rts };

struct FieldSpec
{
    Group group;
    Field field;
    Conversion conversion;
    PlatformUse platform;
    bool secret;              // a password: hidden in output unless asked for
    std::string_view aliases; // other accepted names, space-separated
};

// Every field that `set` and `apply` can write.
std::span<const FieldSpec> fieldSpecs();
// By record field name or alias, ignoring the case of ASCII letters; null when unknown.
const FieldSpec* findField(Group group, std::string_view name);

struct Assignment
{
    const FieldSpec* fieldSpec = nullptr;
    std::u16string text;     // Conversion::Text
    std::int64_t number = 0; // any other conversion: the value the field gets
};

// "FIELD=VALUE" as typed on the command line. Nullopt with `error` set for an unknown or
// read-only field, a missing '=', a check value that is not on/off, a port that is not a whole
// number 0..65535, or a time zone that is neither a whole number nor a row's name.
// Unlike the console, a typing slip is refused here instead of being sent as 0.
std::optional<Assignment> parseAssignment(Group group, std::string_view argument, std::string& error);

// One field given its value, as the console's form and setup files give them.
Assignment textAssignment(Group group, const Field& field, std::u16string text);
Assignment numberAssignment(Group group, const Field& field, std::int64_t number);

// The conversions from the console's controls; setup files go through these too.
std::int64_t serverPortValue(std::u16string_view text); // leading decimal number, low 16 bits
std::int64_t proxyPortValue(std::u16string_view text);  // leading decimal number, all 32 bits
std::int64_t checkValue(int state);
// The time zone combo's row as the record's value: no row (-1) or any row it does not have is 255.
std::int64_t timeZoneValue(int row);
// The other way: the row that shows the record's zone, or -1 (no row) for a value of no row.
int timeZoneRow(std::int64_t value);

// The console's proxy controls as the proxy record's three fields.
std::vector<Assignment> proxyAssignments(bool enabled, std::u16string address, std::u16string_view port);

// The name a time zone row starts with in every language's combo: "UTC-12:00" for row 0 up to
// "UTC+12:00" for row 24.
std::string timeZoneRowName(int row);

struct FieldValue
{
    std::string name;
    bool isText = false;
    std::u16string text;
    std::int64_t number = 0;
    bool secret = false;
};

struct GroupValues
{
    Group group = Group::Platform;
    std::vector<FieldValue> fields;

    const FieldValue* find(std::string_view name) const;
    // The field's text or number; empty or 0 when the group does not hold it.
    std::u16string text(std::string_view name) const;
    std::int64_t number(std::string_view name) const;
};

enum class CameraOutcome : std::uint8_t {
    Done,
    NoReply,         // a read brought no reply of the right size: the camera is silent or gone
    NotSent,         // a write could not be sent: the connection is gone
    UnknownPlatform, // the camera's platform choice is neither 0 nor 1; nothing was sent
    OtherPlatform,   // fields named for the platform the camera does not use; nothing was sent
};

// A few words on an outcome other than Done, for messages.
std::string_view outcomeText(CameraOutcome outcome);

struct GroupResult
{
    CameraOutcome outcome = CameraOutcome::Done;
    std::string step;        // what was being done when it went wrong, e.g. "read the wifi record"
    int platformChoice = -1; // Platform only, once known
    GroupValues values;      // after a read; after a write that sent it, the record as sent
    GroupValues before;      // after a read-modify-write that read it, the record as the camera had it
};

GroupResult readGroup(CameraLink& link, Group group);

enum class OtherPlatformFields : std::uint8_t {
    Refuse, // set: naming them is a mistake worth stopping for
    Skip,   // apply: the console's Platform Set sends only the pair of the platform in use
};

// Writes the assigned fields, and only those, into the group's record read from the camera.
// Time also takes the computer's clock; the proxy record is built from zero out of the
// camera's current proxy values with the assigned ones replaced.
GroupResult writeGroup(CameraLink& link, Group group, std::span<const Assignment> assignments,
                       OtherPlatformFields otherPlatform = OtherPlatformFields::Refuse);

// A form-complete write: the record built from `assignments` alone, every field not assigned zero,
// sent without reading the camera's first (the console's Proxy Set). Only the proxy record is
// written so, its form showing all of it; any other group keeps bytes no form shows and goes
// through writeGroup.
GroupResult writeGroupFromForm(CameraLink& link, Group group, std::span<const Assignment> assignments);

} // namespace orv::provision
