// Opening the viewer's two named sections ("Lumo hook data", "Lumo share
// data") through the platform's shared sections, and their first-creator
// initialisation. The mappings live as long as the returned objects. Both are
// private to the user (see SharedSection::create); `error` tells why one
// could not be had, e.g. its name held by another user.
#pragma once

#include <optional>

#include "platform/shared_section.h"
#include "screenviewer/share_layout.h"

namespace lumo {

class HookSection {
public:
    // Opens the live hook section or creates and initialises it; nullopt on failure.
    static std::optional<HookSection> openOrCreate(tavik::platform::SectionError* error = nullptr);
    HookData& data() const { return *static_cast<HookData*>(section_.data()); }
    bool created() const { return created_; }

private:
    HookSection(tavik::platform::SharedSection s, bool created) : section_(std::move(s)), created_(created) {}
    tavik::platform::SharedSection section_;
    bool created_ = false;
};

class ShareSection {
public:
    static std::optional<ShareSection> openOrCreate(tavik::platform::SectionError* error = nullptr);
    ViewerShare& data() const { return *static_cast<ViewerShare*>(section_.data()); }
    bool created() const { return created_; }

private:
    ShareSection(tavik::platform::SharedSection s, bool created) : section_(std::move(s)), created_(created) {}
    tavik::platform::SharedSection section_;
    bool created_ = false;
};

// The fresh contents of the share section (pins 32 x 24, zoom limit 64).
void initialiseShare(ViewerShare& share);

}  // namespace lumo
