#include "provision/camera_groups.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "persist/decimal_text.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace orv::provision {
namespace {

using C = Conversion;
using P = PlatformUse;

const std::array kFieldSpecs{
    FieldSpec{Group::Platform, TtxServerRecord::serverAddress, C::Text, P::Ttx, false, "ip address server"},
    FieldSpec{Group::Platform, TtxServerRecord::serverPort, C::Port16, P::Ttx, false, "port"},
    FieldSpec{Group::Platform, RtsServerRecord::rtsId, C::Text, P::Rts, false, ""},
    FieldSpec{Group::Platform, RtsServerRecord::rtsCode, C::Text, P::Rts, false, "authcode code"},
    FieldSpec{Group::Net4g, Net4gRecord::apn, C::Text, P::Any, false, ""},
    FieldSpec{Group::Net4g, Net4gRecord::apnUser, C::Text, P::Any, false, "username user"},
    FieldSpec{Group::Net4g, Net4gRecord::apnPassword, C::Text, P::Any, true, "password"},
    FieldSpec{Group::Wifi, WifiRecord::ssid, C::Text, P::Any, false, ""},
    FieldSpec{Group::Wifi, WifiRecord::wifiPassword, C::Text, P::Any, true, "password"},
    FieldSpec{Group::Device, DeviceRecord::policeId, C::Text, P::Any, false, "officerid"},
    FieldSpec{Group::Device, DeviceRecord::policeName, C::Text, P::Any, false, "officername"},
    FieldSpec{Group::Device, DeviceRecord::deviceId, C::Text, P::Any, false, ""},
    FieldSpec{Group::Device, DeviceRecord::companyId, C::Text, P::Any, false, "unitid"},
    FieldSpec{Group::Device, DeviceRecord::companyName, C::Text, P::Any, false, "unitname"},
    FieldSpec{Group::Device, DeviceRecord::screenPsk, C::Text, P::Any, false, "psk"},
    FieldSpec{Group::Time, TimeRecord::timeZone, C::TimeZoneRow, P::Any, false, "zone choice_timezone"},
    FieldSpec{Group::Time, TimeRecord::summerTime, C::Check, P::Any, false, "dst"},
    FieldSpec{Group::Proxy, ProxyRecord::proxyEnable, C::Check, P::Any, false, "enable"},
    FieldSpec{Group::Proxy, ProxyRecord::proxyAddress, C::Text, P::Any, false, "ip address"},
    FieldSpec{Group::Proxy, ProxyRecord::proxyPort, C::Number32, P::Any, false, "port"},
    FieldSpec{Group::UIdentify, FunctionRecord::uIdentify, C::Check, P::Any, false, "enable"},
};

constexpr std::array<std::string_view, kAllGroups.size()> kGroupNames{"platform", "4g",    "wifi",     "device",
                                                                      "time",     "proxy", "uidentify"};

constexpr int kTimeZoneRows = 25;
constexpr std::int64_t kNoTimeZone = 255;

// Names are ASCII; any other byte must match exactly.
bool sameName(std::string_view a, std::string_view b)
{
    return utf::equalsIgnoreAsciiCase(utf::fromAscii(a), utf::fromAscii(b));
}

bool hasAlias(std::string_view aliases, std::string_view name)
{
    while (!aliases.empty()) {
        const std::size_t space = aliases.find(' ');
        if (sameName(aliases.substr(0, space), name)) {
            return true;
        }
        if (space == std::string_view::npos) {
            break;
        }
        aliases.remove_prefix(space + 1);
    }
    return false;
}

std::optional<bool> parseCheck(std::string_view text)
{
    for (std::string_view on : {"on", "1", "true", "yes"}) {
        if (sameName(text, on)) {
            return true;
        }
    }
    for (std::string_view off : {"off", "0", "false", "no"}) {
        if (sameName(text, off)) {
            return false;
        }
    }
    return std::nullopt;
}

// A number as a script would write it: an optional sign and decimal digits, nothing else.
std::optional<std::int64_t> wholeNumber(std::string_view text)
{
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || next != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

constexpr std::int64_t kHighestPort = 65535;

std::optional<int> timeZoneRowNamed(std::string_view name)
{
    for (int row = 0; row < kTimeZoneRows; ++row) {
        if (sameName(name, timeZoneRowName(row))) {
            return row;
        }
    }
    return std::nullopt;
}

std::string fieldList(Group group)
{
    std::string list;
    for (const FieldSpec& fieldSpec : kFieldSpecs) {
        if (fieldSpec.group == group) {
            list += list.empty() ? "" : ", ";
            list += fieldSpec.field.name;
        }
    }
    return list;
}

std::string recordName(Group group)
{
    switch (group) {
        case Group::Platform:
            return "function record (type 6)";
        case Group::Net4g:
            return "4G record (type 1)";
        case Group::Wifi:
            return "Wi-Fi record (type 2)";
        case Group::Device:
            return "device record (type 0)";
        case Group::Time:
            return "time record";
        case Group::Proxy:
            return "proxy record";
        case Group::UIdentify:
            return "function record (type 6)";
    }
    return "record";
}

template <class Record>
FieldValue valueOf(const Record& record, Group group, const Field& field)
{
    FieldValue v;
    v.name = std::string(field.name);
    v.isText = field.kind == FieldKind::Text;
    if (v.isText) {
        v.text = record.text(field);
    } else {
        v.number = record.number(field);
    }
    const FieldSpec* fieldSpec = findField(group, field.name);
    v.secret = fieldSpec && fieldSpec->secret;
    return v;
}

template <class Record>
void store(Record& record, const Assignment& a)
{
    if (a.fieldSpec->conversion == Conversion::Text) {
        record.setText(a.fieldSpec->field, a.text);
    } else {
        record.setNumber(a.fieldSpec->field, a.number);
    }
}

template <class Record>
GroupResult readRecord(CameraLink& link, Group group, std::span<const Field> fields = Record::kFields)
{
    GroupResult result;
    result.values.group = group;
    Record record;
    if (GetConfig(link, record) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the " + recordName(group);
        return result;
    }
    for (const Field& field : fields) {
        result.values.fields.push_back(valueOf(record, group, field));
    }
    return result;
}

template <class Record>
GroupResult writeRecord(CameraLink& link, Group group, std::span<const Assignment> assignments, const std::string& what)
{
    GroupResult result;
    result.values.group = group;
    result.before.group = group;
    Record record;
    const WriteOutcome outcome = ReadModifyWrite(link, record, [&](Record& r) {
        for (const Field& field : Record::kFields) {
            result.before.fields.push_back(valueOf(r, group, field));
        }
        for (const Assignment& a : assignments) {
            store(r, a);
        }
    });
    if (outcome == WriteOutcome::ReadFailed) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the " + what;
    } else if (outcome == WriteOutcome::SendFailed) {
        result.outcome = CameraOutcome::NotSent;
        result.step = "write the " + what;
    } else {
        for (const Field& field : Record::kFields) {
            result.values.fields.push_back(valueOf(record, group, field));
        }
    }
    return result;
}

std::string clockText(const TimeRecord& r)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d",
                  1900 + static_cast<int>(r.number(TimeRecord::year)), static_cast<int>(r.number(TimeRecord::month)),
                  static_cast<int>(r.number(TimeRecord::day)), static_cast<int>(r.number(TimeRecord::hour)),
                  static_cast<int>(r.number(TimeRecord::minute)), static_cast<int>(r.number(TimeRecord::second)));
    return text;
}

GroupResult readPlatform(CameraLink& link)
{
    GroupResult result;
    result.values.group = Group::Platform;
    FunctionRecord function;
    if (GetConfig(link, function) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the function record (type 6)";
        return result;
    }
    result.platformChoice = static_cast<int>(function.number(FunctionRecord::platformChoice));
    result.values.fields.push_back(valueOf(function, Group::Platform, FunctionRecord::platformChoice));
    GroupResult server;
    if (result.platformChoice == 0) {
        static constexpr std::array kShown{TtxServerRecord::serverAddress, TtxServerRecord::serverPort};
        server = readRecord<TtxServerRecord>(link, Group::Platform, kShown);
        server.step = server.step.empty() ? "" : "read the platform 0 server record (type 4)";
    } else if (result.platformChoice == 1) {
        server = readRecord<RtsServerRecord>(link, Group::Platform);
        server.step = server.step.empty() ? "" : "read the platform 1 server record (type 5)";
    } else {
        result.outcome = CameraOutcome::UnknownPlatform;
        result.step = "camera reports platform choice " + std::to_string(result.platformChoice);
        return result;
    }
    result.outcome = server.outcome;
    result.step = server.step;
    for (FieldValue& v : server.values.fields) {
        result.values.fields.push_back(std::move(v));
    }
    return result;
}

GroupResult writePlatform(CameraLink& link, std::span<const Assignment> assignments, OtherPlatformFields other)
{
    GroupResult result;
    result.values.group = Group::Platform;
    FunctionRecord function;
    if (GetConfig(link, function) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the function record (type 6)";
        return result;
    }
    result.platformChoice = static_cast<int>(function.number(FunctionRecord::platformChoice));
    if (result.platformChoice != 0 && result.platformChoice != 1) {
        result.outcome = CameraOutcome::UnknownPlatform;
        result.step = "camera reports platform choice " + std::to_string(result.platformChoice);
        return result;
    }
    const PlatformUse inUse = result.platformChoice == 0 ? PlatformUse::Ttx : PlatformUse::Rts;
    std::vector<Assignment> used;
    for (const Assignment& a : assignments) {
        if (a.fieldSpec->platform == inUse || a.fieldSpec->platform == PlatformUse::Any) {
            used.push_back(a);
        } else if (other == OtherPlatformFields::Refuse) {
            result.outcome = CameraOutcome::OtherPlatform;
            result.step = "camera reports platform choice " + std::to_string(result.platformChoice) +
                          ", which has no " + std::string(a.fieldSpec->field.name);
            return result;
        }
    }
    GroupResult written =
        inUse == PlatformUse::Ttx
            ? writeRecord<TtxServerRecord>(link, Group::Platform, used, "platform 0 server record (type 4)")
            : writeRecord<RtsServerRecord>(link, Group::Platform, used, "platform 1 server record (type 5)");
    written.platformChoice = result.platformChoice;
    return written;
}

GroupResult readTime(CameraLink& link)
{
    GroupResult result;
    result.values.group = Group::Time;
    TimeRecord time;
    if (GetTime(link, time) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the time record";
        return result;
    }
    FieldValue clock;
    clock.name = "clock";
    clock.isText = true;
    clock.text = utf::fromAscii(clockText(time));
    result.values.fields.push_back(clock);
    result.values.fields.push_back(valueOf(time, Group::Time, TimeRecord::timeZone));
    result.values.fields.push_back(valueOf(time, Group::Time, TimeRecord::summerTime));
    return result;
}

GroupResult writeTime(CameraLink& link, std::span<const Assignment> assignments)
{
    GroupResult result;
    result.values.group = Group::Time;
    TimeRecord time;
    if (GetTime(link, time) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the time record";
        return result;
    }
    putLocalClock(time);
    for (const Assignment& a : assignments) {
        store(time, a);
    }
    if (SetTime(link, time) != 0) {
        result.outcome = CameraOutcome::NotSent;
        result.step = "write the time record";
    }
    return result;
}

GroupResult readProxy(CameraLink& link)
{
    GroupResult result;
    result.values.group = Group::Proxy;
    ProxyRecord proxy;
    if (GetProxy(link, proxy) != 0) {
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the proxy record";
        return result;
    }
    for (const Field& field : ProxyRecord::kFields) {
        result.values.fields.push_back(valueOf(proxy, Group::Proxy, field));
    }
    return result;
}

// The record from the assignments alone: what the console's form shows is the whole record.
GroupResult writeProxyRecord(CameraLink& link, std::span<const Assignment> assignments)
{
    GroupResult result;
    result.values.group = Group::Proxy;
    ProxyRecord record;
    for (const Assignment& a : assignments) {
        store(record, a);
    }
    if (SetProxy(link, record) != 0) {
        result.outcome = CameraOutcome::NotSent;
        result.step = "write the proxy record";
        return result;
    }
    for (const Field& field : ProxyRecord::kFields) {
        result.values.fields.push_back(valueOf(record, Group::Proxy, field));
    }
    return result;
}

GroupResult writeProxy(CameraLink& link, std::span<const Assignment> assignments)
{
    ProxyRecord current;
    if (GetProxy(link, current) != 0) {
        GroupResult result;
        result.values.group = Group::Proxy;
        result.outcome = CameraOutcome::NoReply;
        result.step = "read the proxy record";
        return result;
    }
    // The console's Set sends the three controls in a fresh record; the controls hold what its
    // Get showed, so the other fields go out as shown, not as the camera holds them.
    std::vector<Assignment> whole{
        numberAssignment(Group::Proxy, ProxyRecord::proxyEnable,
                         checkValue(current.number(ProxyRecord::proxyEnable) != 0 ? 1 : 0)),
        textAssignment(Group::Proxy, ProxyRecord::proxyAddress, current.text(ProxyRecord::proxyAddress)),
        numberAssignment(Group::Proxy, ProxyRecord::proxyPort, current.number(ProxyRecord::proxyPort))};
    whole.insert(whole.end(), assignments.begin(), assignments.end());
    GroupResult result = writeProxyRecord(link, whole);
    result.before.group = Group::Proxy;
    for (const Field& field : ProxyRecord::kFields) {
        result.before.fields.push_back(valueOf(current, Group::Proxy, field));
    }
    return result;
}

} // namespace

std::string_view groupName(Group group)
{
    return kGroupNames[static_cast<std::size_t>(group)];
}

std::optional<Group> groupFromName(std::string_view name)
{
    for (const Group g : kAllGroups) {
        if (sameName(groupName(g), name)) {
            return g;
        }
    }
    return std::nullopt;
}

std::span<const FieldSpec> fieldSpecs()
{
    return kFieldSpecs;
}

const FieldSpec* findField(Group group, std::string_view name)
{
    for (const FieldSpec& fieldSpec : kFieldSpecs) {
        if (fieldSpec.group == group &&
            (sameName(fieldSpec.field.name, name) || hasAlias(fieldSpec.aliases, name))) {
            return &fieldSpec;
        }
    }
    return nullptr;
}

Assignment textAssignment(Group group, const Field& field, std::u16string text)
{
    Assignment a;
    a.fieldSpec = findField(group, field.name);
    a.text = std::move(text);
    return a;
}

Assignment numberAssignment(Group group, const Field& field, std::int64_t number)
{
    Assignment a;
    a.fieldSpec = findField(group, field.name);
    a.number = number;
    return a;
}

std::int64_t proxyPortValue(std::u16string_view text)
{
    return leadingDecimal(text);
}

std::vector<Assignment> proxyAssignments(bool enabled, std::u16string address, std::u16string_view port)
{
    return {numberAssignment(Group::Proxy, ProxyRecord::proxyEnable, checkValue(enabled ? 1 : 0)),
            textAssignment(Group::Proxy, ProxyRecord::proxyAddress, std::move(address)),
            numberAssignment(Group::Proxy, ProxyRecord::proxyPort, proxyPortValue(port))};
}

std::int64_t serverPortValue(std::u16string_view text)
{
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(leadingDecimal(text)) & 0xFFFF);
}

std::int64_t checkValue(int state)
{
    return state != 0 ? 1 : 0;
}

std::int64_t timeZoneValue(int row)
{
    return row >= 0 && row < kTimeZoneRows ? row : kNoTimeZone;
}

int timeZoneRow(std::int64_t value)
{
    return value >= 0 && value < kTimeZoneRows ? static_cast<int>(value) : -1;
}

std::string timeZoneRowName(int row)
{
    const int hours = row - kTimeZoneRows / 2;
    const int magnitude = hours < 0 ? -hours : hours;
    std::string name = hours < 0 ? "UTC-" : "UTC+";
    name += static_cast<char>('0' + magnitude / 10 % 10);
    name += static_cast<char>('0' + magnitude % 10);
    return name + ":00";
}

std::optional<Assignment> parseAssignment(Group group, std::string_view argument, std::string& error)
{
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const std::string where = std::string(groupName(group));
    if (equals == std::string_view::npos || name.empty()) {
        error = "\"" + std::string(argument) + "\" is not FIELD=VALUE";
        return std::nullopt;
    }
    const FieldSpec* fieldSpec = findField(group, name);
    if (!fieldSpec) {
        if (group == Group::Platform && sameName(name, "platformChoice")) {
            error = "platformChoice is the camera's own and cannot be set";
        } else if (group == Group::Time) {
            error = "unknown field \"" + std::string(name) + "\" for time (fields: " + fieldList(group) +
                    "; the clock is always set from this computer)";
        } else {
            error = "unknown field \"" + std::string(name) + "\" for " + where + " (fields: " + fieldList(group) + ")";
        }
        return std::nullopt;
    }
    const std::string_view value = argument.substr(equals + 1);
    const std::string fieldName(fieldSpec->field.name);
    Assignment a;
    a.fieldSpec = fieldSpec;
    switch (fieldSpec->conversion) {
        case Conversion::Text:
            a.text = utf::toUtf16(value);
            break;
        case Conversion::Port16:
        case Conversion::Number32: {
            // Both numeric fields are ports: the console would wrap 70000 to 4464 or send "80x" as 80,
            // neither of which anyone typing it meant.
            const std::optional<std::int64_t> port = wholeNumber(value);
            if (!port || *port < 0 || *port > kHighestPort) {
                error = fieldName + " takes a port number 0..65535, not \"" + std::string(value) + "\"";
                return std::nullopt;
            }
            a.number = *port;
            break;
        }
        case Conversion::TimeZoneRow: {
            const std::optional<std::int64_t> number = wholeNumber(value);
            const std::optional<int> named = number ? std::nullopt : timeZoneRowNamed(value);
            if (!number && !named) {
                error = fieldName + " takes a row 0..24 or its name " + timeZoneRowName(0) + " .. " +
                        timeZoneRowName(kTimeZoneRows - 1) + ", not \"" + std::string(value) + "\"";
                return std::nullopt;
            }
            // Any other number leaves the camera without a zone, as the console's empty combo does.
            a.number = named ? *named : (*number >= 0 && *number < kTimeZoneRows ? *number : kNoTimeZone);
            break;
        }
        case Conversion::Check: {
            const std::optional<bool> on = parseCheck(value);
            if (!on) {
                error = std::string(fieldSpec->field.name) + " takes on or off, not \"" + std::string(value) + "\"";
                return std::nullopt;
            }
            a.number = *on ? 1 : 0;
            break;
        }
    }
    return a;
}

std::string_view outcomeText(CameraOutcome outcome)
{
    switch (outcome) {
        case CameraOutcome::Done:
            return "done";
        case CameraOutcome::NoReply:
            return "no reply of the expected size";
        case CameraOutcome::NotSent:
            return "could not send, the connection is gone";
        case CameraOutcome::UnknownPlatform:
            return "neither 0 nor 1, so nothing was sent";
        case CameraOutcome::OtherPlatform:
            return "nothing was sent";
    }
    return "";
}

const FieldValue* GroupValues::find(std::string_view name) const
{
    for (const FieldValue& v : fields) {
        if (v.name == name) {
            return &v;
        }
    }
    return nullptr;
}

std::u16string GroupValues::text(std::string_view name) const
{
    const FieldValue* v = find(name);
    return v ? v->text : std::u16string();
}

std::int64_t GroupValues::number(std::string_view name) const
{
    const FieldValue* v = find(name);
    return v ? v->number : 0;
}

GroupResult readGroup(CameraLink& link, Group group)
{
    switch (group) {
        case Group::Platform:
            return readPlatform(link);
        case Group::Net4g:
            return readRecord<Net4gRecord>(link, group);
        case Group::Wifi:
            return readRecord<WifiRecord>(link, group);
        case Group::Device:
            return readRecord<DeviceRecord>(link, group);
        case Group::Time:
            return readTime(link);
        case Group::Proxy:
            return readProxy(link);
        case Group::UIdentify: {
            GroupResult result;
            result.values.group = group;
            FunctionRecord function;
            if (GetConfig(link, function) != 0) {
                result.outcome = CameraOutcome::NoReply;
                result.step = "read the " + recordName(group);
                return result;
            }
            result.values.fields.push_back(valueOf(function, group, FunctionRecord::uIdentify));
            return result;
        }
    }
    return {};
}

GroupResult writeGroup(CameraLink& link, Group group, std::span<const Assignment> assignments,
                       OtherPlatformFields otherPlatform)
{
    switch (group) {
        case Group::Platform:
            return writePlatform(link, assignments, otherPlatform);
        case Group::Net4g:
            return writeRecord<Net4gRecord>(link, group, assignments, recordName(group));
        case Group::Wifi:
            return writeRecord<WifiRecord>(link, group, assignments, recordName(group));
        case Group::Device:
            return writeRecord<DeviceRecord>(link, group, assignments, recordName(group));
        case Group::Time:
            return writeTime(link, assignments);
        case Group::Proxy:
            return writeProxy(link, assignments);
        case Group::UIdentify:
            return writeRecord<FunctionRecord>(link, group, assignments, recordName(group));
    }
    return {};
}

GroupResult writeGroupFromForm(CameraLink& link, Group group, std::span<const Assignment> assignments)
{
    return group == Group::Proxy ? writeProxyRecord(link, assignments) : writeGroup(link, group, assignments);
}

} // namespace orv::provision
