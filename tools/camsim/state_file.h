#pragma once
// The simulated camera's state as a readable text file: one INI section per record, its named
// fields as text and the whole record as hex. The hex is what the camera keeps; a named line
// that says something else than the hex (because someone edited it) wins over it.
// A missing section leaves its record as it was, so a file from before a record was kept (the
// GB28181 one came later) still loads, with that record at its defaults.

#include "tools/camsim/camera_state.h"

#include <string>
#include <string_view>

namespace orv::camsim {

std::string renderStateFile(const CameraState& state);

// Replaces `state` only when the whole text is valid; `error` names the line otherwise.
bool parseStateFile(std::string_view text, CameraState& state, std::string* error);

enum class LoadResult { Loaded, Missing, Failed };
LoadResult loadStateFile(const std::string& path, CameraState& state, std::string* error);

// Writes a temporary file beside `path` and renames it over `path`, so that a failed write
// leaves the previous file as it was.
bool saveStateFile(const std::string& path, const CameraState& state, std::string* error);

} // namespace orv::camsim
