// INI parsing and atomic, lock-protected rewriting.
#include "common/ini_store.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavik {
namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// One parsed line: a section header, a key line, or anything else (kept).
struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;  // section or key name
    std::string value;
    std::string raw;
};

struct Document {
    std::vector<Line> lines;
    bool crlf = false;
};

Document parse(const std::string& text) {
    Document doc;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            doc.crlf = true;
        }
        Line line;
        line.raw = raw;
        std::string_view t = trim(raw);
        if (!t.empty() && t.front() == '[') {
            auto close = t.find(']');
            if (close != std::string_view::npos) {
                line.kind = Line::Section;
                line.name = std::string(trim(t.substr(1, close - 1)));
            }
        } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
            auto eq = t.find('=');
            if (eq != std::string_view::npos) {
                line.kind = Line::Key;
                line.name = std::string(trim(t.substr(0, eq)));
                line.value = std::string(trim(t.substr(eq + 1)));
            }
        }
        doc.lines.push_back(std::move(line));
        start = end + 1;
    }
    return doc;
}

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
    return parse(text);
}

// For a writer: the document, or nothing when the file exists but could not
// be read whole.
std::optional<Document> loadForWrite(const std::string& path) {
    std::string text;
    if (readFile(path, text) == ReadResult::Failed) return std::nullopt;
    return parse(text);
}

// Index of the key line inside `section`, or -1; `sectionEnd` receives the
// index after the section's last key line (or -1 when the section is absent).
long findKey(const Document& doc, std::string_view section, std::string_view key, long* sectionEnd) {
    bool inSection = false;
    long found = -1, end = -1;
    for (long i = 0; i < static_cast<long>(doc.lines.size()); ++i) {
        const Line& l = doc.lines[static_cast<size_t>(i)];
        if (l.kind == Line::Section) {
            inSection = equalNoCase(l.name, section);
            if (inSection && end < 0) end = i + 1;
            continue;
        }
        if (inSection) {
            if (l.kind == Line::Key) {
                end = i + 1;
                if (found < 0 && equalNoCase(l.name, key)) found = i;
            }
        }
    }
    if (sectionEnd) *sectionEnd = end;
    return found;
}

std::string unquote(std::string_view v) {
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Exclusive lock on the folder that holds the file: serialises writers of
// every settings file in it without leaving lock files behind.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
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
    std::string text;
    const char* eol = doc.crlf ? "\r\n" : "\n";
    for (const Line& l : doc.lines) {
        text += l.raw;
        text += eol;
    }
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

bool validName(std::string_view s) {
    return !trim(s).empty() && s.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

int32_t profileGetInt(std::string_view section, std::string_view key, int32_t defaultValue, const std::string& path) {
    Document doc = load(path);
    long i = findKey(doc, section, key, nullptr);
    if (i < 0) return defaultValue;
    std::string v = unquote(doc.lines[static_cast<size_t>(i)].value);
    const char* p = v.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<long long>(INT32_MAX) + 1) value = static_cast<long long>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return static_cast<int32_t>(value);
}

std::string profileGetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             const std::string& path) {
    Document doc = load(path);
    long i = findKey(doc, section, key, nullptr);
    if (i < 0) return std::string(defaultValue);
    return unquote(doc.lines[static_cast<size_t>(i)].value);
}

std::vector<std::pair<std::string, std::string>> profileGetSection(std::string_view section, const std::string& path) {
    std::vector<std::pair<std::string, std::string>> out;
    Document doc = load(path);
    bool inSection = false;
    for (const Line& l : doc.lines) {
        if (l.kind == Line::Section) inSection = equalNoCase(l.name, section);
        else if (inSection && l.kind == Line::Key) out.emplace_back(l.name, unquote(l.value));
    }
    return out;
}

std::vector<std::string> profileSectionNames(const std::string& path) {
    std::vector<std::string> out;
    for (const Line& l : load(path).lines)
        if (l.kind == Line::Section) out.push_back(l.name);
    return out;
}

bool profileWriteString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path) {
    if (!validName(section) || !validName(key) || key.find('=') != std::string_view::npos ||
        value.find_first_of("\r\n") != std::string_view::npos)
        return false;
    FolderLock lock(folderOf(path));
    if (!lock.held()) return false;
    auto loaded = loadForWrite(path);
    if (!loaded) return false;
    Document& doc = *loaded;
    long sectionEnd = -1;
    long i = findKey(doc, section, key, &sectionEnd);
    Line line;
    line.kind = Line::Key;
    line.name = std::string(trim(key));
    line.value = std::string(value);
    line.raw = line.name + "=" + line.value;
    if (i >= 0) {
        doc.lines[static_cast<size_t>(i)] = line;
    } else if (sectionEnd >= 0) {
        doc.lines.insert(doc.lines.begin() + sectionEnd, line);
    } else {
        Line head;
        head.kind = Line::Section;
        head.name = std::string(trim(section));
        head.raw = "[" + head.name + "]";
        doc.lines.push_back(head);
        doc.lines.push_back(line);
    }
    return store(path, doc);
}

bool profileDeleteKey(std::string_view section, std::string_view key, const std::string& path) {
    FolderLock lock(folderOf(path));
    if (!lock.held()) return false;
    auto loaded = loadForWrite(path);
    if (!loaded) return false;
    Document& doc = *loaded;
    long i = findKey(doc, section, key, nullptr);
    if (i < 0) return true;
    doc.lines.erase(doc.lines.begin() + i);
    return store(path, doc);
}

}  // namespace tavik
