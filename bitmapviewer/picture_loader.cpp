// Loading picture files for the bitmap viewer (see picture_loader.h).
#include "bitmapviewer/picture_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace bitora {

namespace {

LoadResult failure(LoadProblem::Reason reason, std::string detail = {}) {
    LoadResult r;
    r.problem.reason = reason;
    r.problem.detail = std::move(detail);
    return r;
}

// Closes the descriptor on every way out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool looksLikeBmp(const unsigned char* head, size_t n) {
    if (n >= 2 && head[0] == 'B' && head[1] == 'M') return true;
    if (n < 4) return false;
    // A packed DIB without its file header starts with the header's size.
    const uint32_t size = uint32_t{head[0]} | uint32_t{head[1]} << 8 | uint32_t{head[2]} << 16 |
                          uint32_t{head[3]} << 24;
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

LoadResult loadPicture(const std::string& path, PictureDecoder* decoder) {
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (f.fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR) return failure(LoadProblem::Reason::NotFound);
        return failure(LoadProblem::Reason::NoAccess, std::strerror(e));
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return failure(LoadProblem::Reason::NotAFile);
    unsigned char head[4] = {};
    size_t got = 0;
    while (got < sizeof head) {
        const ssize_t r = ::read(f.fd, head + got, sizeof head - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return failure(LoadProblem::Reason::NoAccess, std::strerror(errno));
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }

    if (looksLikeBmp(head, got)) {
        LoadResult r;
        r.bitmap.reset(lumoLoadBmp(path.c_str(), nullptr));
        if (!r.bitmap) r.problem.reason = LoadProblem::Reason::BadBmp;
        return r;
    }
    if (got == 0) return failure(LoadProblem::Reason::Undecodable, "empty file");
    if (!decoder) return failure(LoadProblem::Reason::Unsupported);
    LoadResult r = decoder->decode(path);
    if (r.bitmap && (r.bitmap->nWidth <= 0 || r.bitmap->nHeight <= 0 || !r.bitmap->lpPixels))
        return failure(LoadProblem::Reason::Undecodable);
    if (!r.bitmap && r.problem.reason == LoadProblem::Reason::None) r.problem.reason = LoadProblem::Reason::Undecodable;
    return r;
}

}  // namespace bitora
