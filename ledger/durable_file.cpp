#include "ledger/durable_file.h"

#include <cerrno>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace orv::ledger::detail {

#ifdef _WIN32
Descriptor openForAppending(const fs::path& file)
{
    return _wopen(file.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
bool writeThrough(Descriptor fd, std::string_view bytes)
{
    return _write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) == static_cast<int>(bytes.size()) &&
           _commit(fd) == 0;
}
void closeDescriptor(Descriptor fd)
{
    _close(fd);
}
bool lockExclusively(Descriptor fd)
{
    OVERLAPPED whole{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD,
                      &whole) != 0;
}
std::int64_t sizeOf(Descriptor fd)
{
    return _lseeki64(fd, 0, SEEK_END);
}
bool readAt(Descriptor fd, std::int64_t at, char* into, unsigned length)
{
    return _lseeki64(fd, at, SEEK_SET) == at && _read(fd, into, length) == static_cast<int>(length);
}
bool truncateTo(Descriptor fd, std::int64_t size)
{
    return _chsize_s(fd, size) == 0 && _commit(fd) == 0;
}
void syncFolder(const fs::path&) {}
#else
Descriptor openForAppending(const fs::path& file)
{
    return ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}
bool writeThrough(Descriptor fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}
void closeDescriptor(Descriptor fd)
{
    ::close(fd);
}
bool lockExclusively(Descriptor fd)
{
    int rc = 0;
    while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return rc == 0;
}
std::int64_t sizeOf(Descriptor fd)
{
    struct stat st
    {
    };
    return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}
bool readAt(Descriptor fd, std::int64_t at, char* into, unsigned length)
{
    return ::pread(fd, into, length, at) == static_cast<ssize_t>(length);
}
bool truncateTo(Descriptor fd, std::int64_t size)
{
    return ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
}
// A new file's name is durable once its folder is.
void syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif

bool createFileOnce(const fs::path& file, std::string_view bytes, bool& existed)
{
    existed = false;
    std::random_device random;
    fs::path temporary = file;
    temporary += ".new-" + std::to_string(random());
#ifdef _WIN32
    const int fd =
        _wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        return false;
    }
    const bool written = writeThrough(fd, bytes);
    closeDescriptor(fd);
#ifdef _WIN32
    if (!written) {
        _wremove(temporary.c_str());
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_WRITE_THROUGH)) {
        existed = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
        _wremove(temporary.c_str());
        return existed;
    }
    return true;
#else
    if (!written || ::link(temporary.c_str(), file.c_str()) != 0) {
        const int why = errno;
        ::unlink(temporary.c_str());
        existed = written && why == EEXIST;
        errno = why;
        return existed;
    }
    ::unlink(temporary.c_str());
    return true;
#endif
}

} // namespace orv::ledger::detail
