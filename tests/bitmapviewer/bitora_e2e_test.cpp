// Bitora end to end: the real program with a file, "/Com" and "/Hardware="
// on the virtual display through the controller and the serial plug-in; the
// pins show the stored view, device keys scroll it, and the view-condition
// file holds the new view once the program has ended. One picture as BMP, PNG
// and JPEG raises the same pins; a file no reader takes is reported by name.
#include <gtest/gtest.h>

#include <QImage>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"

using namespace tavik::test;

namespace {

std::string sourceDir() {
    const char* s = std::getenv("TAVIK_SOURCE_DIR");
    return s ? s : ".";
}

class BitoraEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string bin = binDir();
        for (const char* f : {"TAVIK", "Padrik.so", "padsim", "Bitora"})
            if (!std::filesystem::exists(bin + "/" + f)) GTEST_SKIP() << f << " not built";
        tmp_.emplace("bitora-e2e");
        dir_ = tmp_->path();
        port_ = 20 + (::getpid() % 40);
        pad_ = std::make_unique<Padsim>(dir_);
        writePortMap(dir_, port_, pad_->link());
        writeFile(dir_ + "/fg", "0\n");
        std::filesystem::copy_file(sourceDir() + "/resources/samples/sample.bmp", dir_ + "/pic.bmp");
    }
    void TearDown() override {
        if (app_) {
            app_->kill(SIGKILL);
            app_.reset();
        }
        if (pad_) {
            waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); });
            pad_.reset();
        }
    }

    // Starts Bitora on `file`; its standard error joins its output.
    void startBitora(const std::string& file = "pic.bmp", const std::vector<std::string>& extra = {}) {
        const std::string bin = binDir();
        std::vector<std::string> args{"-c", "exec \"$0\" \"$@\" 2>&1", bin + "/Bitora", dir_ + "/" + file,
                                      "/Com" + std::to_string(port_ + 1), "/Hardware=QX-64X48"};
        args.insert(args.end(), extra.begin(), extra.end());
        app_ = std::make_unique<Child>("/bin/sh", args,
                                       suiteEnv(dir_, {"DISPLAY=", "QT_QPA_PLATFORM=offscreen", "LANG=C"}));
        writeFile(dir_ + "/fg", std::to_string(app_->pid()) + "\n");  // Bitora is the application in front
    }

    // Waits until plane 1 satisfies `pred` (64 x 48 rows of '#' and '.').
    bool waitPins(const std::function<bool(const std::vector<std::string>&)>& pred) {
        return pad_->waitState([&](const std::string& st) {
            const auto rows = Padsim::grid(st, "plane1");
            return rows.size() == 48 && rows[0].size() == 64 && pred(rows);
        });
    }

    std::optional<TempDir> tmp_;  // goes last: the processes above end first
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<Padsim> pad_;
    std::unique_ptr<Child> app_;
};

TEST_F(BitoraEndToEnd, ShowsTheFileScrollsByDeviceKeysAndStoresTheViewOnExit) {
    // A stored view beyond the image opens at base 0; the stored threshold is used.
    writeFile(dir_ + "/pic.LMC",
              "nBaseX=400\r\nnBaseY=0\r\nnDivX=1\r\nnDivY=1\r\nfOverview=0\r\n"
              "fAutoThreshfold=0\r\nbThreshfold=128\r\nbMode=4\r\n");
    startBitora();
    // The picture's 4-pixel black frame and the blue block from (24, 30), one pixel per pin.
    ASSERT_TRUE(waitPins([](const std::vector<std::string>& r) {
        return r[0] == std::string(64, '#') && r[20].substr(0, 5) == "####." &&
               r[30].substr(20) == "...." + std::string(40, '#');
    })) << pad_->state();

    // Down and Right by a scroll step each (half the display): base (32, 24).
    pad_->command("key 4 2 0");
    ASSERT_TRUE(waitPins([](const std::vector<std::string>& r) { return r[0] != std::string(64, '#'); }))
        << pad_->state();
    pad_->command("key 4 4 0");
    ASSERT_TRUE(waitPins([](const std::vector<std::string>& r) {
        return r[0] == std::string(64, '.') && r[6] == std::string(64, '#');
    })) << pad_->state();

    // Ending the program (as closing its window does) writes the view-condition file.
    app_->kill(SIGTERM);
    ASSERT_TRUE(app_->waitExit());
    app_.reset();
    const std::string lmc = readFile(dir_ + "/pic.LMC");
    EXPECT_EQ(lmc.substr(0, lmc.find("fOverview")), "nBaseX=32\r\nnBaseY=24\r\nnDivX=1\r\nnDivY=1\r\n");
    EXPECT_NE(lmc.find("\r\nfAutoThreshfold=0\r\nbThreshfold=128\r\nbThreshfoldMin=128\r\nbThreshfoldMax=128\r\n"
                       "bMode=4\r\n"),
              std::string::npos)
        << lmc;
    EXPECT_NE(lmc.find("Condition4=0\r\n"), std::string::npos) << lmc;
    // The controller ends with its last client.
    EXPECT_TRUE(waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); }));
}

// 8 x 8 blocks of black, white, grey 60 and grey 200 over the whole 64 x 48
// display: levels 68 and more from the threshold, which JPEG's loss does not
// cross. '#' marks the dark pixels, the pins the "dark" condition raises.
QImage greyBlocks(std::vector<std::string>& expected) {
    static const int kLevels[] = {0, 255, 60, 200};
    QImage img(64, 48, QImage::Format_RGB32);
    expected.assign(48, std::string(64, '.'));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const int v = kLevels[(x / 8 + 3 * (y / 8) + (y / 16)) % 4];
            img.setPixel(x, y, qRgb(v, v, v));
            if (v < 128) expected[y][x] = '#';
        }
    return img;
}

TEST_F(BitoraEndToEnd, PngAndJpegRaiseTheSamePinsAsTheSamePictureAsBmp) {
    std::vector<std::string> expected;
    const QImage img = greyBlocks(expected);
    const std::string lmc =
        "nBaseX=0\r\nnBaseY=0\r\nnDivX=1\r\nnDivY=1\r\nfOverview=0\r\nfAutoThreshfold=0\r\nbThreshfold=128\r\nbMode=4\r\n";
    const std::pair<std::string, const char*> files[] = {{"bmp", "BMP"}, {"png", "PNG"}, {"jpg", "JPEG"}};
    for (const auto& [ext, format] : files) {
        ASSERT_TRUE(img.save(QString::fromStdString(dir_ + "/grey_" + ext + "." + ext), format, 90)) << ext;
        // A bitmap's condition file replaces the extension, another picture's adds to it.
        writeFile(dir_ + "/grey_" + ext + (ext == "bmp" ? "" : "." + ext) + ".LMC", lmc);
    }
    int run = 0;
    for (const auto& [ext, format] : files) {
        // Each file on a display of its own, so no pins are left from the file before.
        if (run++ > 0) {
            const std::string padDir = dir_ + "/pad" + std::to_string(run);
            std::filesystem::create_directories(padDir);
            waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); });
            pad_ = std::make_unique<Padsim>(padDir);
            writePortMap(dir_, port_, pad_->link());
        }
        startBitora("grey_" + ext + "." + ext);
        EXPECT_TRUE(waitPins([&](const std::vector<std::string>& r) { return r == expected; }))
            << ext << "\n" << pad_->state();
        app_->kill(SIGTERM);
        ASSERT_TRUE(app_->waitExit()) << ext;
        app_.reset();
    }
}

TEST_F(BitoraEndToEnd, SvgIsRenderedAtTheSizeTheCommandLineGives) {
    // Black on the left half: at 64 pixels on the long side the picture is the display.
    writeFile(dir_ + "/half.svg",
              "<svg xmlns='http://www.w3.org/2000/svg' width='640' height='480' viewBox='0 0 640 480'>"
              "<rect x='0' y='0' width='320' height='480' fill='#000'/></svg>");
    writeFile(dir_ + "/half.svg.LMC", "nBaseX=0\r\nnBaseY=0\r\nnDivX=1\r\nnDivY=1\r\nfOverview=0\r\n"
                                      "fAutoThreshfold=0\r\nbThreshfold=128\r\nbMode=4\r\n");
    startBitora("half.svg", {"--svg-size", "64"});
    EXPECT_TRUE(waitPins([](const std::vector<std::string>& r) {
        for (const std::string& row : r)
            if (row != std::string(32, '#') + std::string(32, '.')) return false;
        return true;
    })) << pad_->state();
}

TEST_F(BitoraEndToEnd, AFileNoReaderTakesIsReportedByNameAndNothingCrashes) {
    writeFile(dir_ + "/bad.png", std::string("\x89PNG\r\n\x1a\n but nothing of a picture follows"));
    startBitora("bad.png");
    const auto line = app_->expect("Bitora: File " + dir_ + "/bad.png couldn't be loaded.");
    ASSERT_TRUE(line.has_value());
    // The reason follows on the message's next line.
    EXPECT_TRUE(app_->expect("The picture data could not be read.").has_value());
    // The program is still there, its window waiting for the user.
    int status = 0;
    EXPECT_EQ(::waitpid(app_->pid(), &status, WNOHANG), 0);
}

TEST_F(BitoraEndToEnd, VersionNeedsNoDisplay) {
    const std::string bin = binDir();
    app_ = std::make_unique<Child>(bin + "/Bitora", std::vector<std::string>{"--version"});
    const auto line = app_->expect("Bitora ");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, "Bitora " TAVIK_VERSION_STRING);
    ASSERT_TRUE(app_->waitExit());
    app_.reset();
}

TEST_F(BitoraEndToEnd, HelpNeedsNoDisplay) {
    const std::string bin = binDir();
    app_ = std::make_unique<Child>(bin + "/Bitora", std::vector<std::string>{"--help"});
    ASSERT_TRUE(app_->expect("Usage: Bitora").has_value());
    EXPECT_TRUE(app_->expect("Formats read here: ").has_value());
    EXPECT_TRUE(app_->waitExit());
    app_.reset();
}

}  // namespace
