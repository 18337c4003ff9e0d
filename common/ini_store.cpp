// Settings files: whole-file reads, and atomic, lock-protected rewriting of
// the parsed document (common/ini_document.h).
#include "common/ini_store.h"

#include "common/ini_document.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tavik {
namespace {

using ini::Document;

enum class ReadResult { Whole, Absent, Failed };

// Reads the whole file. Absent only when there is no file at all; any other
// failure (no permission, a directory, I/O error, no descriptors) is Failed,
// and a writer must then leave the file alone: rewriting it from what could
// not be read would lose every other setting.
ReadResult readFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Absent : ReadResult::Failed;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            out.clear();
            return ReadResult::Failed;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Whole;
}

Document load(const std::string& path) {
    std::string text;
    readFile(path, text);
    return ini::parse(text);
}

// For a writer: the document, or nothing when the file exists but could not
// be read whole.
std::optional<Document> loadForWrite(const std::string& path) {
    std::string text;
    if (readFile(path, text) == ReadResult::Failed) return std::nullopt;
    return ini::parse(text);
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Exclusive lock on the folder that holds the file: serialises writers of
// every settings file in it without leaving lock files behind. Writers hold
// it for one small file's write; whoever holds it longer (anyone who can read
// the folder can lock it) makes the write fail after the bound instead of
// hanging the program.
class FolderLock {
public:
    static constexpr auto kBound = std::chrono::milliseconds(250);
    explicit FolderLock(const std::string& folder) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;
        const auto deadline = std::chrono::steady_clock::now() + kBound;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool store(const std::string& path, const Document& doc) {
    const std::string text = ini::format(doc);
    std::string tmp = path + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back(0);
    int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(name.data());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(name.data());
        return false;
    }
    if (::rename(name.data(), path.c_str()) != 0) {
        ::unlink(name.data());
        return false;
    }
    return true;
}

}  // namespace

int32_t profileGetInt(std::string_view section, std::string_view key, int32_t defaultValue, const std::string& path) {
    return ini::getInt(load(path), section, key, defaultValue);
}

std::string profileGetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             const std::string& path) {
    return ini::getString(load(path), section, key, defaultValue);
}

std::vector<std::pair<std::string, std::string>> profileGetSection(std::string_view section, const std::string& path) {
    return ini::getSection(load(path), section);
}

std::vector<std::string> profileSectionNames(const std::string& path) { return ini::sectionNames(load(path)); }

bool profileWriteString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path) {
    // A refused name or value never takes the lock.
    Document probe;
    if (!ini::setString(probe, section, key, value)) return false;
    FolderLock lock(folderOf(path));
    if (!lock.held()) return false;
    auto loaded = loadForWrite(path);
    if (!loaded) return false;
    ini::setString(*loaded, section, key, value);
    return store(path, *loaded);
}

bool profileDeleteKey(std::string_view section, std::string_view key, const std::string& path) {
    FolderLock lock(folderOf(path));
    if (!lock.held()) return false;
    auto loaded = loadForWrite(path);
    if (!loaded) return false;
    if (!ini::deleteKey(*loaded, section, key)) return true;
    return store(path, *loaded);
}

}  // namespace tavik
