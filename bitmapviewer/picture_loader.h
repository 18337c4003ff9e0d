// Loading a picture file into a bitmap of the image library: BMP data (with or
// without its file header) through the image library's own reader, every other
// format through a PictureDecoder the program provides (the Qt program's reads
// what the installed image plug-ins read). Failures come back with a reason.
#pragma once

#include <memory>
#include <string>

#include "imaging/lumoutil.h"

namespace bitora {

struct BitmapFree {
    void operator()(LumoBitmap* b) const { lumoDeleteBitmap(b); }
};
using BitmapPtr = std::unique_ptr<LumoBitmap, BitmapFree>;

// Why a file gave no picture.
struct LoadProblem {
    enum class Reason {
        None,
        NotFound,     // no such file
        NoAccess,     // the file exists but cannot be read
        NotAFile,     // a folder or a device
        BadBmp,       // BMP data the image library's reader refuses
        Unsupported,  // no reader takes the format
        Undecodable,  // a reader took the format but not the data
        TooLarge,     // beyond what the image library holds
    };
    Reason reason = Reason::None;
    std::string detail;  // the reader's own words (English), or ""
};

struct LoadResult {
    BitmapPtr bitmap;     // null on failure
    LoadProblem problem;  // Reason::None on success
};

// Decodes picture files that are not BMP. Blocks on file I/O; called on the
// window's thread. The bitmap has 0x00RRGGBB pixels, rows top-down, with any
// transparency already laid over white.
class PictureDecoder {
public:
    virtual ~PictureDecoder() = default;
    virtual LoadResult decode(const std::string& path) = 0;
};

// True when the first bytes are BMP data: "BM", or the size of a DIB header.
bool looksLikeBmp(const unsigned char* head, size_t n);

// Loads `path`: BMP data through lumoLoadBmp, anything else through `decoder`
// (none: the format is unsupported). Never throws; checks the file before
// handing it to a reader so a missing or unreadable file gets its own reason.
LoadResult loadPicture(const std::string& path, PictureDecoder* decoder);

}  // namespace bitora
