// Reading BMP files into packed DIBs: the byte sources (a file or memory) and the reader that
// checks every size and offset before it allocates or indexes anything.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/dib_block.h"

namespace lumo {

// Random-access bytes. readAt returns how many bytes were copied (short at the end); never blocks
// beyond ordinary file I/O.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual size_t readAt(uint64_t offset, std::span<uint8_t> out) = 0;
    virtual uint64_t size() const = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t readAt(uint64_t offset, std::span<uint8_t> out) override;
    uint64_t size() const override { return bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
};

// A regular file opened read-only; ok() is false when it could not be opened or is no regular file.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const char* path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    bool ok() const { return fd_ >= 0; }
    size_t readAt(uint64_t offset, std::span<uint8_t> out) override;
    uint64_t size() const override { return size_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Reads the headers and colour table (and with withPixels the pixel bytes) into a new packed DIB
// block: 40-byte header, [12 bytes of bit-field masks], colour table of 4-byte entries, pixels.
// A short pixel array is no error: the missing bytes stay zero. Null for anything unreadable,
// unsupported or beyond the limits.
LumoDibBlock* readPackedDib(ByteSource& source, bool withPixels, const ImageLimits& limits = {});

// Decodes a packed DIB block of any supported depth into a new 32-bit bitmap; null on failure.
LumoBitmap* decodePackedDib(const LumoDibBlock& block, const ImageLimits& limits = {});

}  // namespace lumo
