#include "persist/append_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orv {
namespace {

// The file's size as the stream's descriptor sees it; -1 when it cannot be told.
long long sizeOf(std::FILE* stream)
{
#ifdef _WIN32
    struct _stat64 st
    {
    };
    return _fstat64(_fileno(stream), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
#else
    struct stat st
    {
    };
    return ::fstat(fileno(stream), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
#endif
}

// Written through to the disk: what is reported written is kept.
bool flushThrough(std::FILE* stream)
{
    if (std::fflush(stream) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(stream)) == 0;
#else
    return ::fsync(fileno(stream)) == 0;
#endif
}

} // namespace

bool appendWhole(std::FILE* stream, std::string_view bytes)
{
    const long long before = sizeOf(stream);
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() && flushThrough(stream)) {
        return true;
    }
    const int error = errno;
    std::clearerr(stream);
    if (before >= 0) {
#ifdef _WIN32
        if (_chsize_s(_fileno(stream), before) == 0) {
            _commit(_fileno(stream));
        }
#else
        if (::ftruncate(fileno(stream), static_cast<off_t>(before)) == 0) {
            ::fsync(fileno(stream));
        }
#endif
    }
    errno = error;
    return false;
}

bool appendWholeToFile(const std::filesystem::path& file, std::string_view bytes, std::string& error)
{
    std::error_code ec;
    const bool isNew = !std::filesystem::exists(file, ec) && !ec;
#ifdef _WIN32
    std::FILE* stream = _wfopen(file.c_str(), L"ab");
#else
    std::FILE* stream = std::fopen(file.c_str(), "ab");
#endif
    if (stream == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = appendWhole(stream, bytes);
    const int reason = errno;
    // Unbuffered data is gone by now: closing cannot fail for want of room.
    std::fclose(stream);
    if (!written) {
        error = std::strerror(reason);
        // A file made here is not left behind empty (a full disk takes the name, not the bytes):
        // a new list or log is there whole or not at all.
        if (isNew && std::filesystem::file_size(file, ec) == 0 && !ec) {
            std::filesystem::remove(file, ec);
        }
    }
    return written;
}

bool appendUtf16LeToFile(const std::filesystem::path& file, std::u16string_view text, std::string& error)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return appendWholeToFile(file, bytes, error);
}

} // namespace orv
