#pragma once
// A small file system of the test's own: tests/faults/small_disk_run.sh mounts one (as root, in a
// mount namespace of its own) and names it in ORV_SMALL_DISK. A filler file takes it to the last
// byte; removing the filler makes room again. POSIX only.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orv::test {

// The small disk's folder; nullopt when the test does not run on one (the case skips then).
inline std::optional<std::filesystem::path> smallDisk()
{
    const char* folder = std::getenv("ORV_SMALL_DISK");
    if (folder == nullptr || *folder == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(folder);
}

// The name of the filler file on the small disk.
inline constexpr const char* kFillerName = "filler";

// Fills the disk that holds `folder` until not one byte more is taken: large writes first, then
// ever smaller ones into what is left of the last page. True when the disk refused the last byte.
inline bool fillDisk(const std::filesystem::path& folder)
{
    const std::filesystem::path filler = folder / kFillerName;
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::vector<char> zeros(std::size_t{1} << 16, '\0');
    std::size_t chunk = zeros.size();
    bool full = false;
    for (;;) {
        const ssize_t n = ::write(fd, zeros.data(), chunk);
        if (n > 0) {
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == ENOSPC) {
            if (chunk == 1) {
                full = true;
                break;
            }
            chunk /= 2;
            continue;
        }
        break;
    }
    ::fsync(fd);
    ::close(fd);
    return full;
}

// Fills the disk but for about `bytes` (rounded to its pages).
inline bool fillDiskLeaving(const std::filesystem::path& folder, std::size_t bytes)
{
    const std::filesystem::path spare = folder / "spare";
    const int fd = ::open(spare.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::vector<char> zeros(bytes, '\0');
    const bool kept = ::write(fd, zeros.data(), zeros.size()) == static_cast<ssize_t>(zeros.size());
    ::close(fd);
    const bool full = kept && fillDisk(folder);
    std::error_code ec;
    std::filesystem::remove(spare, ec);
    return full;
}

inline void makeRoom(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::filesystem::remove(folder / kFillerName, ec);
}

// The names in `folder` other than the filler's, recursively, relative to it.
inline std::set<std::string> namesIn(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().lexically_relative(folder).generic_string();
        if (name != kFillerName) {
            names.insert(name);
        }
    }
    return names;
}

// Empties `folder` (the small disk between cases).
inline void emptyFolder(const std::filesystem::path& folder)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::filesystem::remove_all(entry.path(), ec);
    }
}

} // namespace orv::test
