#pragma once
// OrvCamera's own folders in the user's profile: the settings folder (the remembered login with
// its password, the search tool's state) and the ledger's default folder. They are their owner's
// only: the folders 0700 and every file written in them 0600, whatever the umask; a folder or
// file found looser is tightened when it is used or written again. Files elsewhere (a portable
// program folder, a file the operator named) keep the permissions they have. On Windows the
// profile's own permissions keep other users out: folders are only created there.

#include <filesystem>

namespace orv {

// Creates `folder` (missing parents too, each 0700) or tightens it to 0700, and from then on
// every file `replaceFileContents` writes directly in it is written 0600. False when `folder`
// cannot be had as a folder; whether it could be tightened does not matter.
bool usePrivateFolder(const std::filesystem::path& folder);

// Whether `folder` is one that `usePrivateFolder` took in this process.
bool isPrivateFolder(const std::filesystem::path& folder);

// Whether two paths name the same folder, existing or not.
bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b);

// Takes group and other permissions off an existing file of this user's (a file another program
// created, such as a database); false when it still has some.
bool restrictToOwner(const std::filesystem::path& file);

} // namespace orv
