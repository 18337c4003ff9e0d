// Exported BMP file functions (load, save, properties) and the bitmap constructor/destructor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/bitmap.h"
#include "imaging/bmp_read.h"

namespace {

struct BlockDeleter {
    void operator()(LumoDibBlock* b) const { lumo::freeBlock(b); }
};
using BlockPtr = std::unique_ptr<LumoDibBlock, BlockDeleter>;

// The process umask, read without changing it (umask() would race with other threads).
mode_t currentUmask() {
    std::FILE* f = std::fopen("/proc/self/status", "re");
    if (!f) return 022;
    char line[128];
    unsigned mask = 022;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    std::fclose(f);
    return static_cast<mode_t>(mask & 0777);
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n < 32768 ? n : 32768);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

TAVIK_API LumoHBITMAP lumoCreateBitmap(int32_t width, int32_t height) { return lumo::newBitmap(width, height); }

TAVIK_API void lumoDeleteBitmap(LumoHBITMAP hBitmap) { lumo::deleteBitmap(hBitmap); }

TAVIK_API LumoHBITMAP lumoLoadBmp(const char* path, int32_t* size) {
    lumo::FileSource file(path);
    if (!file.ok()) return nullptr;
    BlockPtr dib(lumo::readPackedDib(file, true));
    if (!dib) return nullptr;
    LumoBitmapInfoHeader h;
    std::memcpy(&h, dib->data.get(), sizeof h);
    if (size) {
        size[0] = h.biWidth;
        size[1] = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    }
    return lumo::decodePackedDib(*dib);
}

// Writes the file beside the target under a fresh name and renames it over the target only once
// every byte is on disk, so a failed write (a full disk, a file-size limit) leaves the old file
// as it was. A symbolic link as target is followed only when it is the caller's own: the file it
// names is replaced. Anyone else's link is never followed; the rename replaces the link itself
// (refused in a sticky folder such as /tmp, where it is not the caller's to replace).
TAVIK_API int32_t lumoSaveBmp(LumoHBITMAP hBitmap, const char* path) {
    if (!hBitmap || !path || !*path) return 0;
    BlockPtr dib(lumo::bitmapToDib24(*hBitmap));
    if (!dib) return 0;
    if (dib->size > UINT32_MAX - 14) return 0;  // bfSize would not hold it
    std::string target = path;
    struct stat st {};
    bool exists = false;
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (st.st_uid == ::geteuid()) {
            std::unique_ptr<char, decltype(&std::free)> real(::realpath(path, nullptr), &std::free);
            if (real) target = real.get();
            exists = ::stat(target.c_str(), &st) == 0;
        }
    } else {
        exists = ::lstat(target.c_str(), &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode)) return 0;
    const size_t slash = target.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".lumo-save-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return 0;
    // The new file keeps the mode of the one it replaces; a new one gets 0644 less the umask.
    const mode_t mode = exists ? (st.st_mode & 07777) : (0644 & ~currentUmask());
    uint8_t header[14] = {'B', 'M'};
    const uint32_t fileSize = static_cast<uint32_t>(dib->size + 14);
    const uint32_t offBits = 54;
    std::memcpy(header + 2, &fileSize, 4);
    std::memcpy(header + 10, &offBits, 4);
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, header, sizeof header) && writeAll(fd, dib->data.get(), dib->size) &&
              ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return 1;
    ::unlink(temp.c_str());
    return 0;
}

TAVIK_API LumoBitmapInfoHeader* lumoGetDibProperties(const char* path, int32_t* estimate) {
    static LumoBitmapInfoHeader properties;  // the documented shared record
    lumo::FileSource file(path);
    if (!file.ok()) return nullptr;
    BlockPtr dib(lumo::readPackedDib(file, false));
    if (!dib) return nullptr;
    LumoBitmapInfoHeader h;
    std::memcpy(&h, dib->data.get(), sizeof h);
    if (estimate) {
        const int64_t absH = h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight;
        const int64_t s = absH * lumo::rowStride(24, h.biWidth);
        const int64_t head = 40;
        const int64_t f = int64_t{h.biSizeImage} + head + int64_t(dib->size - lumo::kInfoHeaderSize);
        const int64_t e = f < s + head ? f + s + head : 2 * f;
        *estimate = e > INT32_MAX ? INT32_MAX : static_cast<int32_t>(e);
    }
    properties = h;
    return &properties;
}
