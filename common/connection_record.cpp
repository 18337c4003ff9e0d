// The record of registered USB serial numbers: one key per serial number,
// hex-encoded so any bytes a device reports make a valid key.
#include "common/connection_record.h"

#include "common/ini_store.h"
#include "common/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavik {
namespace {

constexpr const char* kSection = "Registered";

std::string keyOf(std::string_view serial) {
    static const char* digits = "0123456789abcdef";
    std::string key = "s";  // never empty, even for an empty serial number
    for (unsigned char c : serial) {
        key += digits[c >> 4];
        key += digits[c & 15];
    }
    return key;
}

// The record is this user's own and nobody else can change it.
bool recordTrusted(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string connectionRecordPath() {
    const std::string folder = SettingsFolder();
    return folder.empty() ? std::string{} : folder + "/Connections.ini";
}

bool rememberConnectionSerial(std::string_view serial) {
    const std::string path = connectionRecordPath();
    if (path.empty()) return false;
    if (!FileExists(path)) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) ::close(fd);
    }
    if (!recordTrusted(path)) return false;
    return profileWriteString(kSection, keyOf(serial), "1", path);
}

bool connectionSerialRemembered(std::string_view serial) {
    const std::string path = connectionRecordPath();
    if (path.empty() || !recordTrusted(path)) return false;
    return profileGetInt(kSection, keyOf(serial), 0, path) == 1;
}

}  // namespace tavik
