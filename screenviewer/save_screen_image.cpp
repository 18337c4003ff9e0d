// Saving the screen image and opening it in the bitmap viewer (see save_screen_image.h).
#include "screenviewer/save_screen_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/process.h"
#include "screenviewer/keys/screen_image.h"

namespace lumo {

bitora::ViewConditions viewConditionsFor(const ViewRecord& r, bool whole,
                                         const std::array<tavik::lumo::ConditionSlot, 4>& conditions) {
    bitora::ViewConditions v;
    const BinCondition& c = r.condition;
    v.bThreshfold = c.bThreshfold;
    v.bThreshfoldMin = c.bThreshfoldMin;
    v.bThreshfoldMax = c.bThreshfoldMax;
    v.bMode = c.bMode;
    if (whole) return v;  // base 0, one pixel per pin, no overview, threshold lines, no stored conditions
    v.fAutoThreshfold = c.fAutoThreshfold ? 1 : 0;
    v.nBaseX = std::max(r.baseX, 0);
    v.nBaseY = std::max(r.baseY, 0);
    v.nDivX = saneCell(r.cellWidth);
    v.nDivY = saneCell(r.cellHeight);
    v.fOverview = r.overview ? 1 : 0;
    if (r.overview) {
        v.fViewScope = r.viewScope ? 1 : 0;
        v.nViewBaseX = std::max(r.scopeX, 0);
        v.nViewBaseY = std::max(r.scopeY, 0);
        v.nViewDivX = saneCell(r.scopeCellWidth);
        v.nViewDivY = saneCell(r.scopeCellHeight);
    }
    for (size_t i = 0; i < 4; ++i) {
        const auto& s = conditions[i];
        auto& d = v.stored[i];
        d.flag = s.fData ? 1 : 0;
        d.fAutoThreshfold = s.fAutoThreshfold ? 1 : 0;
        d.bThreshfold = s.bThreshfold;
        d.bThreshfoldMin = s.bThreshfoldMin;
        d.bThreshfoldMax = s.bThreshfoldMax;
        d.bMode = int32_t(s.mode & tavik::lumo::kStorableModeBits);
    }
    return v;
}

std::string conditionFileText(const ViewRecord& r, bool whole,
                              const std::array<tavik::lumo::ConditionSlot, 4>& conditions) {
    const std::string text = bitora::formatConditions(viewConditionsFor(r, whole, conditions));
    if (!whole) return text;
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view line(text.data() + at, end - at);
        if (!line.starts_with("Condition")) out.append(line);
        at = end;
    }
    return out;
}

namespace {

bool ownFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid();
}

}  // namespace

std::string screenImageFolder(const std::string& documents) {
    if (ownFolder(documents)) return documents;
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') base = data;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/') base = std::string(home) + "/.local/share";
    else return {};
    const std::string vendor = base + "/Orvane";
    const std::string folder = vendor + "/TAVIK200_J";
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    for (const std::string& d : {vendor, folder})
        if (::mkdir(d.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return ownFolder(folder) ? folder : std::string();
}

bool replaceFile(const std::string& path, std::string_view text) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // a new file of its own, 0600
    if (fd < 0) return false;
    struct stat old {};
    bool ok = true;
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid())
        ok = ::fchmod(fd, old.st_mode & 0777) == 0;  // a file of ours being replaced keeps its mode
    for (std::string_view rest = text; ok && !rest.empty();) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else rest.remove_prefix(size_t(n));
    }
    ok = ok && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

std::string findBitora() {
    const std::string beside = tavik::platform::programFolder() + "/Bitora";
    std::error_code ec;
    if (std::filesystem::is_regular_file(beside, ec)) return beside;
    return tavik::platform::findOnPath("Bitora");
}

ScreenImageResult saveScreenImage(Viewer& viewer, const ScreenImageRequest& q, std::chrono::milliseconds frameWait) {
    ScreenImageResult out;
    const std::string folder =
        screenImageFolder(q.folder.empty() ? tavik::lumo::documentsFolderFromEnvironment() : q.folder);
    if (folder.empty()) {
        std::fputs("Lumo: no documents or data folder of yours to save the screen image in.\n", stderr);
        return out;
    }
    out.imagePath = tavik::lumo::windowImagePath(folder, q.japanese);

    const ViewRecord r = viewer.currentView();  // a private copy: other processes write the map
    const bool frame = viewer.frameEnabled();
    if (frame) {
        viewer.hideViewFrame();
        std::this_thread::sleep_for(frameWait);
    }
    // The whole target window, without margins.
    CaptureArea a{};
    a.hWnd = LumoHWND(viewer.targetWindow());
    a.cx = r.imageWidth;
    a.cy = r.imageHeight;
    a.nFitX = a.nFitY = 1;
    bool saved = false;
    if (a.cx > 0 && a.cy > 0 && lumoAreaCheck(&a)) {
        if (LumoHBITMAP bmp = lumoGetBmp(&a)) {
            saved = lumoSaveBmp(bmp, out.imagePath.c_str()) != 0;
            lumoDeleteBitmap(bmp);
        }
    }
    if (frame) viewer.viewChanged();  // the frame is placed again
    if (!saved) {
        std::fprintf(stderr, "Lumo: the screen image could not be saved to \"%s\".\n", out.imagePath.c_str());
        return out;
    }
    bool written = false;
    if (!q.whole) {
        written = bitora::writeConditionFile(out.imagePath, viewConditionsFor(r, false, q.conditions));
    } else if (const auto lmc = bitora::conditionFilePath(out.imagePath)) {
        written = replaceFile(*lmc, conditionFileText(r, true, q.conditions));
    }
    if (!written) {
        std::fprintf(stderr, "Lumo: the view conditions could not be written beside \"%s\".\n", out.imagePath.c_str());
        return out;
    }
    out.saved = true;
    if (!q.startViewer) return out;
    const std::string bitora = findBitora();
    if (bitora.empty()) {
        std::fputs("Lumo: the bitmap viewer Bitora was found neither beside Lumo nor on PATH.\n", stderr);
        return out;
    }
    const auto args = tavik::lumo::bitoraArguments(out.imagePath, q.portIndex, q.modelName);
    out.viewerProcess = tavik::platform::startProgram(bitora, {args.begin(), args.end()});
    return out;
}

}  // namespace lumo
