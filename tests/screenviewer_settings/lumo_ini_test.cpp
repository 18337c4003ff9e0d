// Lumo.ini: defaults, hand-edited values out of range, the condition sections
// with "fData" 0, the different save moments and files that cannot be read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "common/ini_store.h"
#include "screenviewer/settings/lumo_settings.h"

using namespace tavik::lumo;
namespace fs = std::filesystem;

namespace {

class LumoIniTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumo_ini_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "Lumo.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeFile(const std::string& text) { std::ofstream(path_) << text; }
    std::string readFile() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int get(const char* section, const char* key, int def = -999) const {
        return tavik::profileGetInt(section, key, def, path_);
    }

    fs::path dir_;
    std::string path_;
};

LumoState changedState() {
    LumoState st;
    st.browse = {1, true, 3, false};
    st.menuLoaded = true;
    st.filters.colorMask = true;
    st.filters.eightDirections = true;
    st.filters.manualThreshold = false;
    st.conditions[1] = ConditionSlot{1, 1, 100, 90, 140, 0, BIN_EQUAL | BIN_RANGE | BIN_RED};
    return st;
}

}  // namespace

TEST_F(LumoIniTest, MissingFileGivesDefaultsAndRoundTripsEverySavedKey) {
    LumoIni ini(path_);
    EXPECT_EQ(ini.readBrowse(), BrowseSettings{});
    EXPECT_EQ(ini.readFilters(true), FunctionFilters{});
    std::array<ConditionSlot, 4> slots{};
    ini.readConditions(slots);
    for (const auto& s : slots) EXPECT_EQ(s.fData, 0);

    const LumoState st = changedState();
    ASSERT_TRUE(ini.saveOnClose(st));
    LumoIni again(path_);
    EXPECT_EQ(again.readBrowse(), st.browse);
    EXPECT_EQ(again.readFilters(true), st.filters);
    std::array<ConditionSlot, 4> back{};
    again.readConditions(back);
    EXPECT_EQ(back, st.conditions);
}

TEST_F(LumoIniTest, ValuesOutOfRangeFallBackOrAreClamped) {
    writeFile(
        "[Browse]\nScanningMode=-1\nRefresh=9\nMouseSync=7\nViewFrame=0\n"
        "[Condition2]\nfData=1\nfAutoThreshfold=5\nbThreshfold=300\nbThreshfoldMin=-4\nbThreshfoldMax=300\n"
        "bBinMode=-1\n"
        "[Condition3]\nfData=1\nbThreshfold=20\nbThreshfoldMin=200\nbThreshfoldMax=10\nbBinMode=2\n"
        "[Connection]\nPort=64\nHardware=9\n");
    LumoIni ini(path_);
    const BrowseSettings b = ini.readBrowse();
    EXPECT_EQ(b.scanningMode, 2);
    EXPECT_EQ(b.refresh, 0);
    EXPECT_EQ(refreshTicks(9), 0);
    EXPECT_TRUE(b.mouseSync);
    EXPECT_FALSE(b.viewFrame);
    std::array<ConditionSlot, 4> slots{};
    ini.readConditions(slots);
    EXPECT_EQ(slots[1].fAutoThreshfold, 1);
    EXPECT_EQ(slots[1].bThreshfold, 255);
    EXPECT_EQ(slots[1].bThreshfoldMin, 0);
    EXPECT_EQ(slots[1].bThreshfoldMax, 255);
    EXPECT_EQ(slots[1].mode, kFreshMode);
    // Bounds given the wrong way round are put in order.
    EXPECT_EQ(slots[2].bThreshfoldMin, 10);
    EXPECT_EQ(slots[2].bThreshfoldMax, 200);
    EXPECT_EQ(slots[2].mode, static_cast<uint32_t>(BIN_EQUAL));
    const ConnectionSettings c = ini.readConnection(3);
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(c.hardware, 0);
}

TEST_F(LumoIniTest, EmptyConditionSectionIsIgnoredAndWrittenBackWithFDataOnly) {
    writeFile("[Condition1]\nfData=0\nbThreshfold=77\nbBinMode=2\n");
    LumoIni ini(path_);
    std::array<ConditionSlot, 4> slots{};
    slots[0].bThreshfold = 5;  // a slot with fData 0 in the file keeps what it held
    ini.readConditions(slots);
    EXPECT_EQ(slots[0].fData, 0);
    EXPECT_EQ(slots[0].bThreshfold, 5);

    LumoState st;
    st.conditions = {};
    ASSERT_TRUE(ini.saveOnExit(st));
    EXPECT_EQ(get("Condition1", "fData"), 0);
    EXPECT_EQ(get("Condition1", "bThreshfold"), 77);  // left as the user wrote it
    EXPECT_EQ(get("Condition1", "bBinMode"), 2);
    EXPECT_EQ(get("Condition2", "fData"), 0);
    EXPECT_EQ(get("Condition2", "bThreshfold"), -999);
}

TEST_F(LumoIniTest, ExitLeavesViewFrameAloneAndClosingWritesIt) {
    writeFile("[Browse]\nViewFrame=1\n");
    LumoIni ini(path_);
    LumoState st = changedState();  // viewFrame false
    ASSERT_TRUE(ini.saveOnExit(st));
    EXPECT_EQ(get("Browse", "ViewFrame"), 1);
    EXPECT_EQ(get("Browse", "ScanningMode"), 1);
    EXPECT_EQ(get("Browse", "Refresh"), 3);
    ASSERT_TRUE(ini.saveOnEndSession(st));
    EXPECT_EQ(get("Browse", "ViewFrame"), 1);
    ASSERT_TRUE(ini.saveOnClose(st));
    EXPECT_EQ(get("Browse", "ViewFrame"), 0);
}

TEST_F(LumoIniTest, FiltersUseBuiltInValuesAndStayUnwrittenWithoutTheMenu) {
    writeFile("[OperationFilter]\nColorMask=0\nOperationLock=1\n8Directions=1\n");
    LumoIni ini(path_);
    const FunctionFilters builtIn = ini.readFilters(false);
    EXPECT_TRUE(builtIn.colorMask);
    EXPECT_FALSE(builtIn.operationLock);
    EXPECT_EQ(builtIn, FunctionFilters::builtIn());
    const FunctionFilters fromFile = ini.readFilters(true);
    EXPECT_FALSE(fromFile.colorMask);
    EXPECT_TRUE(fromFile.operationLock);
    EXPECT_TRUE(fromFile.eightDirections);
    EXPECT_TRUE(fromFile.mouseEmulation);

    LumoState st;
    st.filters = builtIn;
    st.menuLoaded = false;
    ASSERT_TRUE(ini.saveOnClose(st));
    EXPECT_EQ(get("OperationFilter", "ColorMask"), 0);
    EXPECT_EQ(get("OperationFilter", "OperationLock"), 1);
    EXPECT_EQ(get("OperationFilter", "MouseEmulation"), -999);
    st.menuLoaded = true;
    ASSERT_TRUE(ini.saveOnClose(st));
    EXPECT_EQ(get("OperationFilter", "ColorMask"), 1);
    EXPECT_EQ(get("OperationFilter", "OperationLock"), 0);
    EXPECT_EQ(get("OperationFilter", "MouseEmulation"), 1);
}

TEST_F(LumoIniTest, FileThatCannotBeReadIsNeverOverwrittenWithDefaults) {
    // A folder where the file should be cannot be read as a file by anyone (even root).
    fs::create_directory(path_);
    LumoIni ini(path_);
    EXPECT_EQ(ini.readBrowse(), BrowseSettings{});
    EXPECT_FALSE(ini.saveOnClose(LumoState{}));
    EXPECT_TRUE(fs::is_directory(path_));

    // Readable again later in the run: still nothing is written, since what
    // the run holds are defaults, not the file's values.
    fs::remove(path_);
    writeFile("[Browse]\nScanningMode=0\n[Condition4]\nfData=1\nbThreshfold=9\n");
    const std::string before = readFile();
    EXPECT_FALSE(ini.saveOnExit(LumoState{}));
    EXPECT_EQ(readFile(), before);
}

TEST(ConditionSlots, StoreAndRecallCopyTheConditionAndSkipEmptySlots) {
    BinCondition c{};
    c.bMode = BIN_LIGHT | BIN_RANGE | BIN_BLUE | BIN_PRESCANNED;
    c.fAutoThreshfold = 0;
    c.bThreshfold = 70;
    c.bThreshfoldMin = 60;
    c.bThreshfoldMax = 80;
    ConditionSlot slot;
    BinCondition target{};
    target.bThreshfold = 1;
    EXPECT_FALSE(recallCondition(slot, target));
    EXPECT_EQ(target.bThreshfold, 1);

    storeCondition(slot, c);
    EXPECT_EQ(slot.fData, 1);
    EXPECT_EQ(slot.mode, static_cast<uint32_t>(BIN_LIGHT | BIN_RANGE | BIN_BLUE));  // the scan mark is not stored
    target.fAutoThreshfold = 1;
    target.adwHistogram[3] = 42;
    ASSERT_TRUE(recallCondition(slot, target));
    EXPECT_EQ(target.bThreshfold, 70);
    EXPECT_EQ(target.bThreshfoldMin, 60);
    EXPECT_EQ(target.bThreshfoldMax, 80);
    EXPECT_EQ(target.fAutoThreshfold, 0);
    EXPECT_EQ(target.bMode, BIN_LIGHT | BIN_RANGE | BIN_BLUE);
    EXPECT_EQ(target.adwHistogram[3], 42u);  // the histogram is the image's, not the slot's

    slot.mode = 0x10000 | BIN_DARK;  // a slot another process wrote into the shared records
    ASSERT_TRUE(recallCondition(slot, target));
    EXPECT_EQ(target.bMode, kFreshMode);
}

// The folder lock serialises writers; a holder that never lets go (anyone who can read the
// folder can take it) makes a write fail instead of hanging the program's exit.
TEST_F(LumoIniTest, AWriteGivesUpOnAFolderLockHeldByAnotherAndWritesOnceItIsFree) {
    const int held = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto write = std::async(std::launch::async, [&] { return tavik::profileWriteString("Browse", "Refresh", "2", path_); });
    const bool ended = write.wait_for(std::chrono::seconds(10)) == std::future_status::ready;  // hang guard only
    ::close(held);  // lets a hung write finish, so the test ends either way
    ASSERT_TRUE(ended) << "the write waited on the lock without bound";
    EXPECT_FALSE(write.get());
    EXPECT_EQ(get("Browse", "Refresh"), -999);
    EXPECT_TRUE(tavik::profileWriteString("Browse", "Refresh", "2", path_));
    EXPECT_EQ(get("Browse", "Refresh"), 2);
}
