#pragma once
// Runs part of a test where permission bits bind: in a forked child that, when the tests run as
// root (as CI does), first drops to the unprivileged uid/gid 65534, so that a read-only folder
// really refuses writes. The child's EXPECT_* failures print as usual; it reports through its
// exit status.

#ifndef _WIN32

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orv::test {

inline constexpr unsigned kUnprivilegedId = 65534;

// 0 when `body` passed in the child; 1 when it failed, 3 when the child could not drop to
// kUnprivilegedId, 128 + signal when it died.
inline int runUnprivileged(const std::function<void()>& body)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        const auto id = static_cast<uid_t>(kUnprivilegedId);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(id, id, id) != 0 || setresuid(id, id, id) != 0)) {
            std::fprintf(stderr, "cannot drop to uid/gid %u\n", kUnprivilegedId);
            std::fflush(stderr);
            _exit(3);
        }
        body();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Folder permissions for the tests: readable by everyone (the child may not be the owner), and
// writable by everyone or by no one.
inline void makeReadOnlyForAll(const std::filesystem::path& folder)
{
    using std::filesystem::perms;
    std::filesystem::permissions(folder, perms::owner_read | perms::owner_exec | perms::group_read | perms::group_exec |
                                             perms::others_read | perms::others_exec);
}

inline void makeWritableForAll(const std::filesystem::path& folder)
{
    std::filesystem::permissions(folder, std::filesystem::perms::all);
}

} // namespace orv::test

#endif
