// Trust in other users' sections and messages.
#include "platform/user_scope.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tavik::platform {

bool portsSharedAcrossUsers() {
    static const bool shared = [] {
        const char* v = std::getenv("TAVIK_SHARED_PORTS");
        return v && std::strcmp(v, "1") == 0;
    }();
    return shared;
}

bool trustedUser(uid_t uid) { return uid == ::geteuid() || uid == 0 || portsSharedAcrossUsers(); }

}  // namespace tavik::platform
