#include "link/records.h"

namespace orv {

std::size_t configRecordSize(ConfigType type)
{
    switch (type) {
    case ConfigType::Device:
        return DeviceRecord::kSize;
    case ConfigType::Net4g:
        return Net4gRecord::kSize;
    case ConfigType::Wifi:
        return WifiRecord::kSize;
    case ConfigType::TtxServer:
        return TtxServerRecord::kSize;
    case ConfigType::RtsServer:
        return RtsServerRecord::kSize;
    case ConfigType::Function:
        return FunctionRecord::kSize;
    case ConfigType::UDisk:
        return UDiskMode::kSize;
    }
    return 0;
}

bool isConfigType(std::uint8_t value)
{
    return value <= 7 && value != 3;
}

static_assert(DeviceRecord::kSize == 287 && Net4gRecord::kSize == 272 && WifiRecord::kSize == 191);
void putLocalClock(TimeRecord& record)
{
    const LocalDateTime now = localNow();
    record.setNumber(TimeRecord::second, now.second);
    record.setNumber(TimeRecord::minute, now.minute);
    record.setNumber(TimeRecord::hour, now.hour);
    record.setNumber(TimeRecord::day, now.day);
    record.setNumber(TimeRecord::month, now.month);
    record.setNumber(TimeRecord::year, now.year % 1000 + 100);
}

LocalDateTime clockOf(const TimeRecord& record)
{
    const auto field = [&](const Field& f) { return static_cast<int>(record.number(f)); };
    return {1900 + field(TimeRecord::year), field(TimeRecord::month),  field(TimeRecord::day),
            field(TimeRecord::hour),        field(TimeRecord::minute), field(TimeRecord::second)};
}

static_assert(TtxServerRecord::kSize == 228 && RtsServerRecord::kSize == 255 && FunctionRecord::kSize == 198);
static_assert(TimeRecord::kSize == 84 && UserTable::kSize == 331 && PasswordChange::kSize == 34);
static_assert(ProxyRecord::kSize == 72 && ConfigSelector::kSize == 6 && UDiskMode::kSize == 1);

} // namespace orv
