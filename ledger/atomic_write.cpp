#include "ledger/atomic_write.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace orv::ledger::detail {
namespace {

std::string pathText(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path temporaryBeside(const fs::path& file)
{
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    fs::path name = file.filename();
    name += ".tmp" + std::to_string(device() ^ (counter.fetch_add(1) * 2654435761u));
    return file.parent_path() / name;
}

#ifdef _WIN32

std::string lastError()
{
    return std::system_category().message(static_cast<int>(GetLastError()));
}

// Creates `temp` (never an existing file), writes and flushes `bytes`.
bool writeNew(const fs::path& temp, std::string_view bytes, bool& created, std::string& error)
{
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    created = h != INVALID_HANDLE_VALUE;
    if (!created) {
        error = lastError();
        return false;
    }
    bool ok = true;
    std::size_t written = 0;
    while (ok && written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 20));
        DWORD done = 0;
        ok = WriteFile(h, bytes.data() + written, chunk, &done, nullptr) && done == chunk;
        written += done;
    }
    ok = ok && FlushFileBuffers(h);
    if (!ok) {
        error = lastError();
    }
    return CloseHandle(h) && ok;
}

bool renameOver(const fs::path& from, const fs::path& to, std::string& error)
{
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        error = lastError();
        return false;
    }
    return true;
}

#else

bool writeNew(const fs::path& temp, std::string_view bytes, bool& created, std::string& error)
{
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created = fd >= 0;
    if (!created) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = true;
    std::size_t written = 0;
    while (ok && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += static_cast<std::size_t>(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        error = std::strerror(errno);
    }
    return ::close(fd) == 0 && ok;
}

bool renameOver(const fs::path& from, const fs::path& to, std::string& error)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // The rename itself reaches the disk with its folder.
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

bool writeFileAtomically(const fs::path& file, std::string_view bytes, std::string& error)
{
    const std::string where = pathText(file);
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        error = where + " is a folder";
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path temp = temporaryBeside(file);
        bool created = false;
        std::string why;
        const bool written = writeNew(temp, bytes, created, why);
        if (!created && fs::exists(temp, ec)) {
            continue; // a name taken by chance: try another
        }
        if (!created) {
            error = "cannot write beside " + where + ": " + why;
            return false;
        }
        if (written && renameOver(temp, file, why)) {
            return true;
        }
        fs::remove(temp, ec);
        error = "cannot write " + where + ": " + why;
        return false;
    }
    error = "cannot write beside " + where + ": no free temporary name";
    return false;
}

} // namespace orv::ledger::detail
