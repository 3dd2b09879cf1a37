#pragma once
// The camera's commands and the two composite operations built on them.
// Reads return 0 or -1. Writes return 0 when the frame was sent and -1 when it was not.

#include "link/camera_link.h"
#include "link/local_clock.h"
#include "link/records.h"

#include <optional>
#include <string_view>

namespace orv {

int GetConfig(CameraLink& link, ConfigType type, std::uint8_t* record, std::size_t size);
int SetConfig(CameraLink& link, ConfigType type, const std::uint8_t* record, std::size_t size);

template <class Record>
int GetConfig(CameraLink& link, Record& record)
{
    return GetConfig(link, Record::kType, record.data(), Record::kSize);
}

template <class Record>
int SetConfig(CameraLink& link, const Record& record)
{
    return SetConfig(link, Record::kType, record.data(), Record::kSize);
}

// SetConfig with the single byte 7: the camera leaves network mode for U-disk mode.
int RequestUDiskMode(CameraLink& link);

int GetTime(CameraLink& link, TimeRecord& record);
int SetTime(CameraLink& link, const TimeRecord& record);
int GetProxy(CameraLink& link, ProxyRecord& record);
int SetProxy(CameraLink& link, const ProxyRecord& record);
int GetUsers(CameraLink& link, UserTable& table);

int ChangePassword(CameraLink& link, std::u16string_view name, std::u16string_view password);
int FactoryReset(CameraLink& link);
int FormatCard(CameraLink& link);

// Whether the table holds an entry with this name and password, compared as CheckLogin does.
bool AccountInTable(const UserTable& table, std::u16string_view user, std::u16string_view password);

// Fetches the camera's account table and compares the credentials with it; 1 on a match.
// A missing (nullopt) text gives 0 without touching loggedIn.
int CheckLogin(CameraLink& link, std::optional<std::u16string_view> user,
               std::optional<std::u16string_view> password);

// Reads the camera's time, puts in the computer's clock and writes it back.
// 0 when written, -1 when the read failed (nothing sent), -2 when the write could not be sent.
int SyncClock(CameraLink& link);

enum class WriteOutcome { Sent, ReadFailed, SendFailed };

// Reads the record, lets `edit` change the fields the form holds, writes the whole record back.
template <class Record, class Edit>
WriteOutcome ReadModifyWrite(CameraLink& link, Record& record, Edit&& edit)
{
    if (GetConfig(link, record) != 0) {
        return WriteOutcome::ReadFailed;
    }
    edit(record);
    return SetConfig(link, record) == 0 ? WriteOutcome::Sent : WriteOutcome::SendFailed;
}

} // namespace orv
