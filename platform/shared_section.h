// Named shared-memory sections that live exactly as long as some process holds
// them: every holder keeps a shared flock on the section's descriptor, so a
// section whose holders all died can be told apart from a live one. Sections
// are private to the user that created them (0600) unless ports are shared
// across users on purpose (see user_scope.h); sections owned by an untrusted
// user are refused and reported with their owner, and a section shrunk under
// its mapping is contained (see mapping_guard.h) and reads as lost.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tavik::platform {

// Why opening or creating a section failed.
struct SectionError {
    enum class Kind {
        Ok,
        Absent,    // no live section of that name (open only)
        Foreign,   // the name (or the guard lock) belongs to a user this process does not trust
        Busy,      // the guard lock stayed held past its bound
        Unusable,  // too small, not mappable, or a system call failed (see `error`)
    };
    Kind kind = Kind::Ok;
    uid_t owner = 0;  // Foreign: whose object holds the name
    int error = 0;    // Unusable: the errno of the failing call, 0 when none
    std::string object;  // the object's name ("/" + name) that failed
};

// One line for the user: what failed and, for a foreign name, whose it is.
std::string describeSectionError(const SectionError& error);

class SharedSection {
public:
    enum class Access { ReadOnly, ReadWrite };

    // Opens the live section `name` and maps all of it. Fails (nullopt) when no
    // live process holds it, or when it is smaller than `minSize` (a foreign or
    // truncated object is never mapped short), or when an untrusted user owns
    // it. Never blocks for long: only the guard lock that serialises opening
    // and creating is waited for, at most kGuardWaitMs (then the call fails).
    static std::optional<SharedSection> open(std::string_view name, Access access, std::size_t minSize = 0,
                                             SectionError* error = nullptr);

    // Opens the live section `name`, or creates it with `size` zero bytes when it
    // is absent or stale. `created` tells which. `initialise` runs on a new
    // section's bytes before any other process can open it. A new section is
    // a new object (a stale one is removed first, so no descriptor opened
    // before reaches it), readable and writable by this user only, or by every
    // local user while ports are shared. An existing section must be at least
    // `size` bytes and owned by a trusted user, else the call fails; one of
    // this user's own that others may open is narrowed to 0600 when ports are
    // not shared.
    static std::optional<SharedSection> create(std::string_view name, std::size_t size, bool* created = nullptr,
                                               const std::function<void(void*)>& initialise = {},
                                               SectionError* error = nullptr);

    // Takes over `fd`, a descriptor this process inherited across exec from
    // the image it replaced, as its open of the section `name`. Accepted only
    // when it is an open, writable descriptor of that very live section (same
    // object as the name), at least `minSize` bytes, that holds the section's
    // claim; it is then close-on-exec again. A descriptor of the section that
    // fails a check is closed (its holder and any claim go with it); any other
    // descriptor is left untouched. Never blocks.
    static std::optional<SharedSection> adopt(int fd, std::string_view name, std::size_t minSize = 0);

    // True when a live section of that name exists (whoever owns it).
    static bool exists(std::string_view name);

    // The longest wait for the guard lock.
    static constexpr int kGuardWaitMs = 2000;

    // The exclusive claim on the section: a record lock on its first byte,
    // held by this open of it until the section is closed or the process
    // ends, whichever comes first. tryClaim tries once; claimWithin retries
    // every 10 ms up to boundMs. Needs ReadWrite access.
    bool tryClaim();
    bool claimWithin(int boundMs);
    // True when another open of the section (in any process) holds the claim.
    // Only a write lock is a claim: a read lock, which any reader of the
    // section could place, never counts.
    bool claimedElsewhere() const;

    // Makes this open of the section (with its holder lock and any claim)
    // survive exec (`keep` true) or not (false, the default). Returns the
    // descriptor's number when `keep` took effect, else -1. Meant for the
    // moment just before exec; undo it when the exec failed, or every child
    // started later would hold the section and its claim too.
    int keepAcrossExec(bool keep);

    // True once the section shrank under this mapping: the mapping is now
    // private zero memory and no longer reaches the others.
    bool lost() const;

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
    int guard_ = -1;  // mapping_guard handle
};

// The object name used for a section: "/" + name, with any "/" in the name
// replaced so that the name stays one path component.
std::string sectionObjectName(std::string_view name);

}  // namespace tavik::platform
