#include "persist/atomic_file.h"

#include "persist/private_folder.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace orv {
namespace {

constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);
std::atomic<std::size_t> diskFullAfter{kNoLimit};

// How much of `wanted` bytes the simulated disk still takes after `written` bytes.
std::size_t allowedChunk(std::size_t written, std::size_t wanted)
{
    const std::size_t limit = diskFullAfter.load();
    if (limit == kNoLimit) {
        return wanted;
    }
    return written >= limit ? 0 : std::min(wanted, limit - written);
}

fs::path temporaryBeside(const fs::path& target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const unsigned tag = device() ^ (counter.fetch_add(1) * 2654435761u) ^ attempt;
    fs::path name = target.filename();
    name += ".tmp" + std::to_string(tag);
    return target.parent_path() / name;
}

#ifdef _WIN32

bool canOpenForWriting(const fs::path& file)
{
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(h);
    return true;
}

// Creates `temp` (never an existing file) and writes and flushes `bytes`; false on any failure.
bool writeNewFile(const fs::path& temp, std::string_view bytes, bool& created)
{
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    created = h != INVALID_HANDLE_VALUE;
    if (!created) {
        return false;
    }
    bool ok = true;
    std::size_t written = 0;
    while (ok && written < bytes.size()) {
        const std::size_t chunk = allowedChunk(written, std::min<std::size_t>(bytes.size() - written, 1u << 20));
        DWORD done = 0;
        ok = chunk > 0 && WriteFile(h, bytes.data() + written, static_cast<DWORD>(chunk), &done, nullptr) &&
             done == chunk;
        written += done;
    }
    ok = ok && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    return ok;
}

bool renameOver(const fs::path& from, const fs::path& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool fileExistsAlready(const fs::path&)
{
    return GetLastError() == ERROR_FILE_EXISTS;
}

#else

bool canOpenForWriting(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

// Creates `temp` (never an existing file) and writes and flushes `bytes`; false on any failure.
// `keepMode` gives the permissions it gets (the replaced file's, or a private file's); none: the
// usual ones.
bool writeNewFile(const fs::path& temp, std::string_view bytes, bool& created, std::optional<mode_t> keepMode)
{
    // Created no wider than it ends up: a private file is never readable by others, not even as
    // a temporary for a moment.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keepMode ? *keepMode & 0666 : 0666);
    created = fd >= 0;
    if (!created) {
        return false;
    }
    bool ok = !keepMode || ::fchmod(fd, *keepMode) == 0;
    std::size_t written = 0;
    while (ok && written < bytes.size()) {
        const std::size_t chunk = allowedChunk(written, bytes.size() - written);
        if (chunk == 0) {
            errno = ENOSPC;
            ok = false;
            break;
        }
        const ssize_t n = ::write(fd, bytes.data() + written, chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += static_cast<std::size_t>(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok;
}

bool renameOver(const fs::path& from, const fs::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    // Make the rename itself durable; a failure here does not undo it.
    const fs::path folder = to.parent_path().empty() ? fs::path(".") : to.parent_path();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

#endif

} // namespace

std::string pathUtf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

FileContents readWholeFile(const fs::path& file)
{
    FileContents result;
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        result.outcome = ReadOutcome::Missing;
        return result;
    }
    result.outcome = ReadOutcome::Failed;
    if (ec || status.type() != fs::file_type::regular) {
        return result;
    }
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec || size > kMaxProfileFileSize) {
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return result;
    }
    result.bytes.resize(static_cast<std::size_t>(size));
    in.read(result.bytes.data(), static_cast<std::streamsize>(size));
    result.bytes.resize(static_cast<std::size_t>(in.gcount()));
    // The file may have grown since its size was taken; take what is there, within the limit.
    char more[4096];
    while (!in.bad() && in.read(more, sizeof more).gcount() > 0) {
        result.bytes.append(more, static_cast<std::size_t>(in.gcount()));
        if (result.bytes.size() > kMaxProfileFileSize) {
            result.bytes.clear();
            return result;
        }
    }
    if (in.bad()) {
        result.bytes.clear();
        return result;
    }
    result.outcome = ReadOutcome::Read;
    return result;
}

bool replaceFileContents(const fs::path& file, std::string_view bytes, const std::function<bool()>& beforeReplacing,
                         NewFileAccess newFile)
{
    std::error_code ec;
    fs::path target = file;
    // Through a link, replace the file it names rather than the link.
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) {
            return false;
        }
    }
    const fs::file_status status = fs::status(target, ec);
    const bool exists = status.type() != fs::file_type::not_found;
    if (exists && (ec || status.type() != fs::file_type::regular || !canOpenForWriting(target))) {
        return false;
    }
#ifndef _WIN32
    // A replaced file keeps its permissions; a new one gets the usual ones (umask applies). In a
    // private folder every file is its owner's only, one that was looser included.
    std::optional<mode_t> keepMode;
    struct stat st
    {
    };
    if (isPrivateFolder(target.parent_path())) {
        keepMode = 0600;
    } else if (exists && ::stat(target.c_str(), &st) == 0) {
        keepMode = st.st_mode & 07777;
    } else if (!exists && newFile == NewFileAccess::OwnerOnly) {
        keepMode = 0600;
    }
#else
    (void)newFile; // the user's own folders, with the permissions Windows gives them
#endif
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const fs::path temp = temporaryBeside(target, attempt);
        bool created = false;
#ifdef _WIN32
        const bool written = writeNewFile(temp, bytes, created);
        if (!created && fileExistsAlready(temp)) {
            continue;
        }
#else
        const bool written = writeNewFile(temp, bytes, created, keepMode);
        if (!created && errno == EEXIST) {
            continue;
        }
#endif
        if (!created) {
            return false;
        }
        if (written && (!beforeReplacing || beforeReplacing()) && renameOver(temp, target)) {
            return true;
        }
        fs::remove(temp, ec);
        return false;
    }
    return false;
}

void simulateDiskFullAfter(std::optional<std::size_t> bytes)
{
    diskFullAfter.store(bytes ? *bytes : kNoLimit);
}

} // namespace orv
