// A zeroed byte buffer for work arrays of several megabytes that are walked in both directions:
// from 1 MB on it starts on a 2 MB boundary and asks the kernel for huge pages, so that a pass
// over it needs a few address translations instead of one per 4 KB page. Where huge pages are not
// granted it works the same with ordinary pages; smaller buffers start on a cache line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace lumo {

class LargeBuffer {
public:
    static constexpr size_t kAlign = size_t{2} << 20;  // a huge page
    static constexpr size_t kLine = 64;

    uint8_t* data() { return data_.get(); }
    size_t size() const { return size_; }

    // Makes room for n bytes, all zero (the old contents are not kept); throws std::bad_alloc.
    void resize(size_t n) {
        if (n == 0) {
            release();
            return;
        }
        if (n > SIZE_MAX - kAlign) throw std::bad_alloc();
        // Below half a huge page the rounding would waste more than it saves: cache lines only.
        const bool huge = n >= kAlign / 2;
        const size_t align = huge ? kAlign : kLine;
        const size_t bytes = (n + align - 1) / align * align;
        void* p = std::aligned_alloc(align, bytes);
        if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (huge) madvise(p, bytes, MADV_HUGEPAGE);  // advice only: a refusal leaves ordinary pages
#endif
        std::memset(p, 0, bytes);
        data_.reset(static_cast<uint8_t*>(p));
        size_ = n;
    }
    void release() {
        data_.reset();
        size_ = 0;
    }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> data_;
    size_t size_ = 0;
};

}  // namespace lumo
