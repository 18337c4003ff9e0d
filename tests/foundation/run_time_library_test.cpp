// Where a run-time library is looked for and in which order, that a refused file is closed and
// the next place tried, and that a module that pins itself survives its last dlclose.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/run_time_library.h"

namespace {

using tavik::platform::loadRunTimeLibrary;
using tavik::platform::RunTimeLibrary;

constexpr const char* kProbe = "libtavik_run_time_probe.so";
constexpr const char* kOverride = "TAVIK_TEST_RUN_TIME_LIBRARY";

std::string probeBesideTests() { return tavik::platform::programFolder() + "/" + kProbe; }

// The names (probeName()) or "other" of every handle offered, in order.
struct Recorder {
    std::vector<std::string> offered;
    bool acceptProbe = true;
    bool operator()(void* handle) {
        auto name = reinterpret_cast<const char* (*)()>(::dlsym(handle, "probeName"));
        offered.push_back(name ? name() : "other");
        return name && acceptProbe;
    }
};

TEST(RunTimeLibrary, TheOverrideComesFirstAndARefusedFileGivesWayToTheFolder) {
    // The override names a real library without the entry: offered, refused, then the probe beside us.
    ::setenv(kOverride, "libm.so.6", 1);
    Recorder r;
    void* h = loadRunTimeLibrary({kProbe, nullptr, kOverride, false}, std::ref(r));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(r.offered, (std::vector<std::string>{"other", "probe"}));

    // An override that does not open is passed over silently.
    ::setenv(kOverride, "/nonexistent/libnothing.so", 1);
    Recorder missing;
    EXPECT_EQ(loadRunTimeLibrary({kProbe, nullptr, kOverride, false}, std::ref(missing)), h);
    EXPECT_EQ(missing.offered, (std::vector<std::string>{"probe"}));
    ::unsetenv(kOverride);
}

TEST(RunTimeLibrary, NothingAcceptedMeansNullAndTheSearchPathOnlyWhenAsked) {
    Recorder refuse;
    refuse.acceptProbe = false;
    EXPECT_EQ(loadRunTimeLibrary({kProbe, nullptr, nullptr, false}, std::ref(refuse)), nullptr);
    EXPECT_EQ(refuse.offered.size(), 1u);

    // Not beside this module (the C library's folder) and no search path: nothing is offered.
    Recorder none;
    const void* inLibc = reinterpret_cast<const void*>(&::getenv);
    EXPECT_EQ(loadRunTimeLibrary({kProbe, inLibc, nullptr, false}, std::ref(none)), nullptr);
    EXPECT_TRUE(none.offered.empty());
    // A system library is not beside the tests: found by its bare name only with the search path.
    Recorder notByName;
    EXPECT_EQ(loadRunTimeLibrary({"libm.so.6", nullptr, nullptr, false}, std::ref(notByName)), nullptr);
    EXPECT_TRUE(notByName.offered.empty());
    Recorder byName;
    auto acceptAny = [&byName](void* h) {
        byName(h);
        return true;
    };
    EXPECT_NE(loadRunTimeLibrary({"libm.so.6", nullptr, nullptr, true}, acceptAny), nullptr);
    EXPECT_EQ(byName.offered, (std::vector<std::string>{"other"}));
    EXPECT_EQ(loadRunTimeLibrary({"", nullptr, nullptr, true}, std::ref(none)), nullptr);
}

TEST(RunTimeLibrary, AModuleThatPinsItselfOutlivesItsLastClose) {
    const std::string path = probeBesideTests();
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << ::dlerror();
    auto pin = reinterpret_cast<void (*)()>(::dlsym(h, "probePinSelf"));
    ASSERT_NE(pin, nullptr);
    pin();
    ::dlclose(h);
    void* again = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(again, nullptr);
    if (again) ::dlclose(again);
}

TEST(ModuleFolder, NamesTheFolderOfTheFileWithoutATrailingSlash) {
    const std::string program = tavik::platform::programFolder();
    ASSERT_FALSE(program.empty());
    EXPECT_NE(program.back(), '/');
    EXPECT_EQ(tavik::platform::moduleFolder(reinterpret_cast<const void*>(&probeBesideTests)), program);
    const std::string libc = tavik::platform::moduleFolder(reinterpret_cast<const void*>(&::getenv));
    EXPECT_FALSE(libc.empty());
    EXPECT_NE(libc, program);
}

}  // namespace
