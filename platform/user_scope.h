// Which other users' objects a process of the suite trusts. By default only
// its own user's and root's shared sections and queue messages are accepted;
// TAVIK_SHARED_PORTS=1 in the environment shares ports across users on purpose.
#pragma once

#include <string>
#include <sys/types.h>

namespace tavik::platform {

// True when TAVIK_SHARED_PORTS is "1" (read once per process).
bool portsSharedAcrossUsers();

// True for an object or a sender of user `uid` this process may rely on: its
// own effective user, root, or anyone while ports are shared across users.
bool trustedUser(uid_t uid);

// The permission bits of the objects this process creates for the suite:
// 0600 (its own user only), or 0666 while ports are shared across users.
mode_t privateOrSharedMode();

// "name (uid N)" of a local user, or "uid N" when the user has no name.
std::string describeUser(uid_t uid);

}  // namespace tavik::platform
