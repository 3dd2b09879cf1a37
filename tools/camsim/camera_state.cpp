#include "tools/camsim/camera_state.h"

#include "link/commands.h"
#include "link/local_clock.h"
#include "link/utf.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

namespace orv::camsim {

namespace {

// Bytes the console does not interpret get a pattern that no field would hold, so a test can
// see them come back unchanged from a read-modify-write.
void fillPattern(std::span<std::uint8_t> bytes, std::uint8_t seed)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(0x80 | ((seed + i) & 0x7F));
    }
}

template <typename Record>
std::span<std::uint8_t> range(Record& r, std::size_t from, std::size_t to)
{
    return {r.data() + from, to - from};
}

std::int64_t hostSeconds()
{
    const LocalDateTime now = localNow();
    return wallClockSeconds(now).value_or(0);
}

std::vector<std::uint8_t> bytesOf(std::span<const std::uint8_t> s)
{
    return {s.begin(), s.end()};
}

std::string textOf(const std::uint8_t* field, std::size_t width)
{
    return utf::toUtf8(decodeLinkText(field, width));
}

bool sameText(const std::uint8_t* a, const std::uint8_t* b, std::size_t width)
{
    const std::size_t la = static_cast<std::size_t>(std::find(a, a + width, 0) - a);
    const std::size_t lb = static_cast<std::size_t>(std::find(b, b + width, 0) - b);
    return la == lb && std::memcmp(a, b, la) == 0;
}

RequestOutcome ignored(std::string note)
{
    RequestOutcome out;
    out.note = std::move(note);
    return out;
}

RequestOutcome wrongSize(std::uint16_t command, std::size_t size)
{
    return ignored(std::string(commandName(command)) + " with " + std::to_string(size)
                   + " payload bytes, a size it never has; ignored");
}

} // namespace

const char* commandName(std::uint16_t command)
{
    switch (static_cast<Command>(command)) {
    case Command::GetTime:
        return "GetTime";
    case Command::SetTime:
        return "SetTime";
    case Command::GetUsers:
        return "GetUsers";
    case Command::ChangePassword:
        return "ChangePassword";
    case Command::FactoryReset:
        return "FactoryReset";
    case Command::GetConfig:
        return "GetConfig";
    case Command::SetConfig:
        return "SetConfig";
    case Command::GetProxy:
        return "GetProxy";
    case Command::SetProxy:
        return "SetProxy";
    case Command::FormatCard:
        return "FormatCard";
    }
    return "unknown command";
}

namespace {

// The GB28181 record as a camera leaves the factory: registration off, the usual SIP port and
// intervals, the identifiers of the standard's examples.
void setGb28181Defaults(Gb28181Record& record)
{
    record = {};
    record.setNumber(Gb28181Record::enable, 0);
    record.setText(Gb28181Record::serverAddress, u"127.0.0.1");
    record.setNumber(Gb28181Record::serverPort, 5060);
    record.setText(Gb28181Record::password, u"12345678");
    record.setNumber(Gb28181Record::registerInterval, 3600);
    record.setNumber(Gb28181Record::heartbeatInterval, 60);
    record.setText(Gb28181Record::serverId, u"34020000002000000001");
    record.setText(Gb28181Record::deviceId, u"34020000001320000001");
    record.setText(Gb28181Record::channelId, u"34020000001320000001");
    record.setText(Gb28181Record::alarmInId, u"34020000001340000001");
    record.setText(Gb28181Record::alarmOutId, u"34020000001350000001");
}

} // namespace

void CameraState::resetToDefaults()
{
    setGb28181Defaults(gb28181);
    users = {};
    users.setNumber(UserTable::count, 1);
    users.setText(UserTable::name(0), u"admin");
    users.setText(UserTable::password(0), u"wrenq");

    device = {};
    device.setNumber(DeviceRecord::type, 0);
    device.setText(DeviceRecord::policeId, u"PC4471");
    device.setText(DeviceRecord::policeName, u"Dana Whitlow");
    device.setText(DeviceRecord::deviceId, u"ORV202600001");
    device.setText(DeviceRecord::companyId, u"U0815");
    device.setText(DeviceRecord::companyName, u"Harbour District Patrol");
    device.setText(DeviceRecord::screenPsk, u"2468");
    fillPattern(range(device, 193, DeviceRecord::kSize), 0x13);

    net4g = {};
    net4g.setNumber(Net4gRecord::type, 1);
    net4g.setText(Net4gRecord::apn, u"cmnet");
    net4g.setText(Net4gRecord::apnUser, u"orv");
    net4g.setText(Net4gRecord::apnPassword, u"orv4g");

    wifi = {};
    wifi.setNumber(WifiRecord::type, 2);
    wifi.setText(WifiRecord::ssid, u"ORV-CAM-0001");
    wifi.setText(WifiRecord::wifiPassword, u"orv-wifi-2026");

    ttxServer = {};
    ttxServer.setNumber(TtxServerRecord::type, 4);
    ttxServer.setNumber(TtxServerRecord::serverPort, 6608);
    ttxServer.setText(TtxServerRecord::serverAddress, u"127.0.0.1");

    rtsServer = {};
    rtsServer.setNumber(RtsServerRecord::type, 5);
    rtsServer.setText(RtsServerRecord::rtsId, u"RTS0000001");
    rtsServer.setText(RtsServerRecord::rtsCode, u"A1B2C3");

    function = {};
    function.setNumber(FunctionRecord::type, 6);
    fillPattern(range(function, 1, 6), 0x21);
    function.setNumber(FunctionRecord::platformChoice, 0);
    function.setNumber(FunctionRecord::uIdentify, 0);
    fillPattern(range(function, 8, FunctionRecord::kSize), 0x29);

    proxy = {};
    proxy.setNumber(ProxyRecord::proxyEnable, 0);
    proxy.setText(ProxyRecord::proxyAddress, u"127.0.0.1");
    proxy.setNumber(ProxyRecord::proxyPort, 5060);

    time = {};
    fillPattern(range(time, 6, 71), 0x37);
    time.setNumber(TimeRecord::timeZone, kDefaultTimeZone);
    time.setNumber(TimeRecord::summerTime, 0);
    fillPattern(range(time, 73, TimeRecord::kSize), 0x49);
    clockOffsetSeconds = 0;
}

void CameraState::factoryReset()
{
    const DeviceRecord kept = device;
    resetToDefaults();
    std::copy_n(kept.data() + DeviceRecord::deviceId.offset, DeviceRecord::deviceId.width,
                device.data() + DeviceRecord::deviceId.offset);
}

std::string deviceIdForAddress(std::uint32_t address)
{
    const unsigned number = (((address >> 8) & 0xFF) * 256 + (address & 0xFF)) % 100000;
    std::string digits = std::to_string(number);
    return "ORV2026" + std::string(5 - digits.size(), '0') + digits;
}

std::string deviceIdProblem(std::string_view id)
{
    const std::u16string text = utf::toUtf16(id);
    if (text.empty()) {
        return "the device id is empty";
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
        const std::u16string_view one = std::u16string_view(text).substr(i, pair ? 2 : 1);
        if (one[0] == 0) {
            return "a zero character would end the device id";
        }
        // The link turns what it cannot carry into '?'.
        if (one != u"?" && linkBytes(one) == "?") {
            return "\"" + utf::toUtf8(one) + "\" cannot be stored on the camera";
        }
        i += pair ? 1 : 0;
    }
    const std::size_t bytes = linkBytes(text).size();
    if (bytes > DeviceRecord::deviceId.width) {
        return "it takes " + std::to_string(bytes) + " bytes on the camera; the field holds " +
               std::to_string(DeviceRecord::deviceId.width);
    }
    return {};
}

std::span<std::uint8_t> CameraState::configBytes(ConfigType type)
{
    switch (type) {
    case ConfigType::Device:
        return device.bytes;
    case ConfigType::Net4g:
        return net4g.bytes;
    case ConfigType::Wifi:
        return wifi.bytes;
    case ConfigType::TtxServer:
        return ttxServer.bytes;
    case ConfigType::RtsServer:
        return rtsServer.bytes;
    case ConfigType::Function:
        return function.bytes;
    case ConfigType::UDisk:
        break;
    }
    return {};
}

std::span<const std::uint8_t> CameraState::configBytes(ConfigType type) const
{
    return const_cast<CameraState*>(this)->configBytes(type);
}

TimeRecord CameraState::currentTime() const
{
    using namespace std::chrono;
    const std::int64_t t = hostSeconds() + clockOffsetSeconds;
    std::int64_t dayNumber = t / 86400;
    std::int64_t secondOfDay = t % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --dayNumber;
    }
    const year_month_day date{sys_days{days{dayNumber}}};
    TimeRecord r = time;
    r.setNumber(TimeRecord::second, secondOfDay % 60);
    r.setNumber(TimeRecord::minute, secondOfDay / 60 % 60);
    r.setNumber(TimeRecord::hour, secondOfDay / 3600);
    r.setNumber(TimeRecord::day, static_cast<unsigned>(date.day()));
    r.setNumber(TimeRecord::month, static_cast<unsigned>(date.month()));
    r.setNumber(TimeRecord::year, (static_cast<int>(date.year()) % 1000) + 100);
    return r;
}

bool CameraState::setTime(const TimeRecord& record)
{
    time = record;
    const LocalDateTime set = clockOf(record);
    const auto at = wallClockSeconds(set);
    if (!at || set.second > 59) {
        return false;
    }
    clockOffsetSeconds = *at - hostSeconds();
    return true;
}

RequestOutcome CameraState::handle(std::uint16_t command, std::span<const std::uint8_t> payload)
{
    const std::size_t size = payload.size();
    RequestOutcome out;
    switch (static_cast<Command>(command)) {
    case Command::GetTime:
        if (size != 0) {
            return wrongSize(command, size);
        }
        out.reply = bytesOf(currentTime().bytes);
        return out;

    case Command::SetTime: {
        if (size != TimeRecord::kSize) {
            return wrongSize(command, size);
        }
        TimeRecord r;
        std::copy(payload.begin(), payload.end(), r.bytes.begin());
        if (!setTime(r)) {
            out.note = "SetTime with a date that does not exist; clock left as it was, the rest kept";
        }
        out.changed = true;
        return out;
    }

    case Command::GetUsers:
        if (size != 0) {
            return wrongSize(command, size);
        }
        out.reply = bytesOf(users.bytes);
        return out;

    case Command::ChangePassword: {
        if (size != PasswordChange::kSize) {
            return wrongSize(command, size);
        }
        PasswordChange change;
        std::copy(payload.begin(), payload.end(), change.bytes.begin());
        const std::string name = textOf(change.data() + PasswordChange::name.offset, UserTable::kNameWidth);
        if (change.number(PasswordChange::operation) != PasswordChange::kChangeOperation) {
            return ignored("ChangePassword with operation " + std::to_string(change.number(PasswordChange::operation))
                           + "; only 2 is known; ignored");
        }
        const std::size_t count = std::min<std::size_t>(users.number(UserTable::count), UserTable::kEntries);
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* entry = users.data() + UserTable::name(i).offset;
            if (sameText(entry, change.data() + PasswordChange::name.offset, UserTable::kNameWidth)) {
                std::copy_n(change.data() + PasswordChange::password.offset, UserTable::kPasswordWidth,
                            users.data() + UserTable::password(i).offset);
                out.changed = true;
                out.note = "password of account \"" + name + "\" changed";
                return out;
            }
        }
        return ignored("ChangePassword for unknown account \"" + name + "\"; ignored");
    }

    case Command::FactoryReset: {
        if (size != 4) {
            return wrongSize(command, size);
        }
        const std::uint32_t mode = getLe32(payload.data());
        if (mode != 2) {
            return ignored("FactoryReset with mode " + std::to_string(static_cast<std::int32_t>(mode))
                           + "; only 2 is known; ignored");
        }
        factoryReset();
        out.changed = true;
        out.factoryReset = true;
        out.note = "factory reset: every setting back to its default but the device id";
        return out;
    }

    case Command::GetConfig: {
        if (size != ConfigSelector::kSize) {
            return wrongSize(command, size);
        }
        const auto type = static_cast<ConfigType>(payload[0]);
        const auto record = isConfigType(payload[0]) ? configBytes(type) : std::span<std::uint8_t>{};
        if (record.empty()) {
            return ignored("GetConfig for type " + std::to_string(payload[0]) + ", which has no record; no reply");
        }
        out.reply = bytesOf(record);
        return out;
    }

    case Command::SetConfig: {
        if (size == 0) {
            return wrongSize(command, size);
        }
        if (payload[0] == static_cast<std::uint8_t>(ConfigType::UDisk)) {
            if (size != UDiskMode::kSize) {
                return wrongSize(command, size);
            }
            out.enterUDisk = true;
            out.note = "U-disk mode: leaving the network";
            return out;
        }
        const auto type = static_cast<ConfigType>(payload[0]);
        const auto record = isConfigType(payload[0]) ? configBytes(type) : std::span<std::uint8_t>{};
        if (record.empty()) {
            return ignored("SetConfig for type " + std::to_string(payload[0]) + ", which has no record; ignored");
        }
        if (record.size() != size) {
            return ignored("SetConfig of type " + std::to_string(payload[0]) + " with " + std::to_string(size)
                           + " bytes instead of " + std::to_string(record.size()) + "; ignored");
        }
        std::copy(payload.begin(), payload.end(), record.begin());
        out.changed = true;
        return out;
    }

    case Command::GetProxy:
        if (size != 0) {
            return wrongSize(command, size);
        }
        out.reply = bytesOf(proxy.bytes);
        return out;

    case Command::SetProxy:
        if (size != ProxyRecord::kSize) {
            return wrongSize(command, size);
        }
        std::copy(payload.begin(), payload.end(), proxy.bytes.begin());
        out.changed = true;
        return out;

    case Command::FormatCard:
        if (size != 0) {
            return wrongSize(command, size);
        }
        out.formatCard = true;
        out.note = "SD card formatted";
        return out;
    }
    return ignored("unknown command " + std::to_string(command) + " with " + std::to_string(size)
                   + " payload bytes; no reply");
}

std::vector<std::uint8_t> replyFrame(std::uint16_t command, std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> wire(kFrameHeaderSize + payload.size());
    writeFrameHeader(wire.data(), command, payload.size());
    std::copy(payload.begin(), payload.end(), wire.begin() + kFrameHeaderSize);
    return wire;
}

} // namespace orv::camsim
