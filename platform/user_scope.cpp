// Trust in other users' sections and messages.
#include "platform/user_scope.h"

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <vector>
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

mode_t privateOrSharedMode() { return portsSharedAcrossUsers() ? 0666 : 0600; }

std::string describeUser(uid_t uid) {
    const std::string number = "uid " + std::to_string(uid);
    std::vector<char> buf(4096);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        return std::string(found->pw_name) + " (" + number + ")";
    return number;
}

}  // namespace tavik::platform
