#include "ledger/disk_room.h"

namespace orv::ledger {

bool diskHasRoomForOutcomes(const std::filesystem::path& file, const std::string& named, std::string& why)
{
    std::error_code ec;
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const std::filesystem::space_info space = std::filesystem::space(folder, ec);
    if (ec || space.available >= kRoomForOutcomes) {
        return true;
    }
    why = named + ": its disk has " + std::to_string(space.available / 1024) + " KB free, fewer than the " +
          std::to_string(kRoomForOutcomes / 1024) + " KB kept for the outcomes of the cameras to come";
    return false;
}

} // namespace orv::ledger
