#include "persist/private_folder.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace orv {
namespace {

std::mutex foldersMutex;
std::vector<fs::path>& privateFolders()
{
    static std::vector<fs::path> folders;
    return folders;
}

// One spelling per folder: links resolved as far as the folder exists, "." and ".." gone.
fs::path folderKey(const fs::path& folder)
{
    const fs::path named = folder.empty() ? fs::path(".") : folder;
    std::error_code ec;
    fs::path key = fs::weakly_canonical(named, ec);
    if (ec) {
        key = fs::absolute(named, ec).lexically_normal();
    }
    // "a/b/" and "a/b" are one folder.
    if (!key.has_filename() && key.has_parent_path() && key != key.root_path()) {
        key = key.parent_path();
    }
    return key;
}

#ifndef _WIN32

// Group and other bits off a file or folder of this user's; false when some remain.
bool tighten(const fs::path& path, bool wantFolder)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0 || (wantFolder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))) {
        return false;
    }
    if ((st.st_mode & 077) == 0) {
        return true;
    }
    // Another account's folder (a root process with a user's HOME) is not ours to change.
    if (st.st_uid != ::geteuid()) {
        return false;
    }
    return ::chmod(path.c_str(), st.st_mode & 07700) == 0;
}

// mkdir for every missing folder down to `folder`, each for its owner only: a parent made here
// (a first ~/.config) is as private as the base directories are meant to be.
void createOwnerOnly(const fs::path& folder)
{
    fs::path walked;
    for (const fs::path& part : folder) {
        walked /= part;
        if (walked == walked.root_path() || part.empty()) {
            continue;
        }
        if (::mkdir(walked.c_str(), 0700) == 0) {
            // The umask only takes bits away; one that took the owner's would leave a folder
            // its owner cannot use.
            ::chmod(walked.c_str(), 0700);
        } else if (errno != EEXIST) {
            return;
        }
    }
}

#endif

} // namespace

bool usePrivateFolder(const fs::path& folder)
{
    if (folder.empty()) {
        return false;
    }
    std::error_code ec;
#ifdef _WIN32
    fs::create_directories(folder, ec);
#else
    createOwnerOnly(folder);
    tighten(folder, true);
#endif
    if (!fs::is_directory(folder, ec)) {
        return false;
    }
    fs::path key = folderKey(folder);
    const std::lock_guard lock(foldersMutex);
    std::vector<fs::path>& folders = privateFolders();
    if (std::find(folders.begin(), folders.end(), key) == folders.end()) {
        folders.push_back(std::move(key));
    }
    return true;
}

bool isPrivateFolder(const fs::path& folder)
{
    const fs::path key = folderKey(folder);
    const std::lock_guard lock(foldersMutex);
    const std::vector<fs::path>& folders = privateFolders();
    return std::find(folders.begin(), folders.end(), key) != folders.end();
}

bool sameFolder(const fs::path& a, const fs::path& b)
{
    return folderKey(a) == folderKey(b);
}

bool restrictToOwner(const fs::path& file)
{
#ifdef _WIN32
    (void)file;
    return true;
#else
    return tighten(file, false);
#endif
}

} // namespace orv
