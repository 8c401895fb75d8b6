#pragma once
// The desktop session's opener (xdg-open): it starts a file, folder or address with the
// application the user chose for it, in the user's own session and with the user's rights.

#include "cptlib/platform/Spawn.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace cptlib::platform {

struct UserAccount {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string name;
    std::string home;
};

// The user on whose behalf a root process runs: the first of PKEXEC_UID and SUDO_UID that
// names someone other than root. nullopt when the process is not root or runs for root itself.
// Throws SystemError when such a variable is not a user id or names no account, so that the
// caller never falls back to root.
std::optional<UserAccount> DelegatingUser(const Environment& environment,
                                          std::uint32_t effectiveUid);

// The environment for a program run as `user` from a root process: HOME, USER and LOGNAME of
// the account; XDG_RUNTIME_DIR as <runtimeRoot>/<uid> when that folder belongs to the user,
// else the inherited one only if it does; DBUS_SESSION_BUS_ADDRESS as the "bus" socket in that
// runtime folder when there is one. Everything else is inherited.
Environment EnvironmentForUser(Environment environment, const UserAccount& user,
                               const std::string& runtimeRoot = "/run/user");

// When a root process runs on behalf of another user (DelegatingUser): lets that user read
// `file` and pass through the folders from `folder` (included) down to it, by a POSIX ACL entry
// for that user alone, or, where the file system has no ACLs, by giving the user those entries.
// Nothing else is opened to anyone. A file outside `folder`, or a symbolic link on the way, is
// refused (kErrorAccessDenied). Returns a Win32 error number, 0 on success or when there is no
// such user.
std::uint32_t ShareWithDelegatingUser(const std::string& folder, const std::string& file);

// Hands `target` to xdg-open, as the delegating user when there is one, in `workingDirectory`
// (when not empty; the user's home folder when running as that user). Returns when the opener
// has finished successfully, or is still running after `handOverTime` (openers that run the
// application in the foreground are then taken as started). Throws SystemError saying what
// failed: no desktop session, no opener, the opener failing or not starting, or a local file
// the delegating user cannot read ("Access is denied").
void OpenWithDesktop(const std::string& target, const std::string& workingDirectory,
                     std::chrono::milliseconds handOverTime = std::chrono::seconds(5));

} // namespace cptlib::platform
