// Named shared-memory sections that live exactly as long as some process holds
// them: every holder keeps a shared flock on the section's descriptor, so a
// section whose holders all died can be told apart from a live one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavik::platform {

class SharedSection {
public:
    enum class Access { ReadOnly, ReadWrite };

    // Opens the live section `name` and maps all of it. Fails (nullopt) when no
    // live process holds it, or when it is smaller than `minSize` (a foreign or
    // truncated object is never mapped short). Never blocks for long: only the
    // guard lock that serialises opening and creating is waited for.
    static std::optional<SharedSection> open(std::string_view name, Access access, std::size_t minSize = 0);

    // Opens the live section `name`, or creates it with `size` zero bytes when it
    // is absent or stale (a stale one is re-initialised). `created` tells which.
    // The new section is readable and writable by every local user. An existing
    // section must be at least `size` bytes, else the call fails.
    static std::optional<SharedSection> create(std::string_view name, std::size_t size, bool* created = nullptr);

    // True when a live section of that name exists.
    static bool exists(std::string_view name);

    SharedSection(SharedSection&& other) noexcept;
    SharedSection& operator=(SharedSection&& other) noexcept;
    SharedSection(const SharedSection&) = delete;
    SharedSection& operator=(const SharedSection&) = delete;
    // Unmaps and drops this holder; the last holder removes the name.
    ~SharedSection();

    void* data() const { return addr_; }
    std::size_t size() const { return size_; }
    const std::string& name() const { return name_; }

private:
    SharedSection(std::string name, int fd, void* addr, std::size_t size);
    void release() noexcept;

    std::string name_;
    int fd_ = -1;
    void* addr_ = nullptr;
    std::size_t size_ = 0;
};

// The object name used for a section: "/" + name, with any "/" in the name
// replaced so that the name stays one path component.
std::string sectionObjectName(std::string_view name);

}  // namespace tavik::platform
