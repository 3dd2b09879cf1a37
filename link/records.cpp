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
static_assert(TtxServerRecord::kSize == 228 && RtsServerRecord::kSize == 255 && FunctionRecord::kSize == 198);
static_assert(TimeRecord::kSize == 84 && UserTable::kSize == 331 && PasswordChange::kSize == 34);
static_assert(ProxyRecord::kSize == 72 && ConfigSelector::kSize == 6 && UDiskMode::kSize == 1);

} // namespace orv
