#include "link/commands.h"


#include <cstring>

namespace orv {
namespace {

std::uint16_t code(Command command)
{
    return static_cast<std::uint16_t>(command);
}

} // namespace

int GetConfig(CameraLink& link, ConfigType type, std::uint8_t* record, std::size_t size)
{
    std::memset(record, 0, size);
    record[0] = static_cast<std::uint8_t>(type);
    return link.Exchange(code(Command::GetConfig), record, size);
}

int SetConfig(CameraLink& link, ConfigType type, const std::uint8_t* record, std::size_t size)
{
    std::array<std::uint8_t, kMaxPayloadSize> copy{};
    if (size == 0 || size > copy.size()) {
        return -1;
    }
    std::memcpy(copy.data(), record, size);
    copy[0] = static_cast<std::uint8_t>(type);
    return link.Send(code(Command::SetConfig), size, copy.data());
}

int RequestUDiskMode(CameraLink& link)
{
    UDiskMode request;
    request.bytes[0] = static_cast<std::uint8_t>(ConfigType::UDisk);
    return link.Send(code(Command::SetConfig), request.size(), request.data());
}

int GetTime(CameraLink& link, TimeRecord& record)
{
    record = TimeRecord{};
    return link.Exchange(code(Command::GetTime), record.data(), record.size());
}

int SetTime(CameraLink& link, const TimeRecord& record)
{
    return link.Send(code(Command::SetTime), record.size(), record.data());
}

int GetProxy(CameraLink& link, ProxyRecord& record)
{
    record = ProxyRecord{};
    return link.Exchange(code(Command::GetProxy), record.data(), record.size());
}

int SetProxy(CameraLink& link, const ProxyRecord& record)
{
    return link.Send(code(Command::SetProxy), record.size(), record.data());
}

int GetUsers(CameraLink& link, UserTable& table)
{
    table = UserTable{};
    return link.Exchange(code(Command::GetUsers), table.data(), table.size());
}

int ChangePassword(CameraLink& link, std::u16string_view name, std::u16string_view password)
{
    PasswordChange change;
    change.setNumber(PasswordChange::operation, PasswordChange::kChangeOperation);
    change.setText(PasswordChange::name, name);
    change.setText(PasswordChange::password, password);
    return link.Send(code(Command::ChangePassword), change.size(), change.data());
}

int FactoryReset(CameraLink& link)
{
    const std::uint8_t mode[4] = {2, 0, 0, 0};
    return link.Send(code(Command::FactoryReset), sizeof mode, mode);
}

int FormatCard(CameraLink& link)
{
    return link.Send(code(Command::FormatCard), 0, nullptr);
}

bool AccountInTable(const UserTable& table, std::u16string_view user, std::u16string_view password)
{
    std::uint8_t name[UserTable::kNameWidth] = {};
    std::uint8_t secret[UserTable::kPasswordWidth] = {};
    encodeLinkText(user, name, sizeof name);
    encodeLinkText(password, secret, sizeof secret);
    // Zero-terminated comparisons bounded by the 16-byte fields: a name that fills its field
    // matches only an entry that fills it the same way.
    const auto sameText = [](const std::uint8_t* a, const std::uint8_t* b, std::size_t width) {
        return strncmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b), width) == 0;
    };
    const std::size_t count = table.number(UserTable::count);
    for (std::size_t i = 0; i < count && i < UserTable::kEntries; ++i) {
        if (sameText(table.data() + UserTable::name(i).offset, name, sizeof name)
            && sameText(table.data() + UserTable::password(i).offset, secret, sizeof secret)) {
            return true;
        }
    }
    return false;
}

int CheckLogin(CameraLink& link, std::optional<std::u16string_view> user, std::optional<std::u16string_view> password)
{
    if (!user || !password) {
        return 0;
    }
    link.loggedIn = 0;
    UserTable table;
    if (GetUsers(link, table) != 0 || !AccountInTable(table, *user, *password)) {
        return 0;
    }
    link.loggedIn = 1;
    return 1;
}

int SyncClock(CameraLink& link)
{
    TimeRecord record;
    if (GetTime(link, record) != 0) {
        return -1;
    }
    putLocalClock(record);
    return SetTime(link, record) == 0 ? 0 : -2;
}

} // namespace orv
