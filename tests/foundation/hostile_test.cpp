// Shared sections and queues against hostile or dying local processes: a
// section shrunk under its mappings, a guard lock held for ever, a squatted
// block name, sections and datagrams of another user, the controller claim
// of a port, and creation racing with entries.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/data_maps.h"
#include "common/messages.h"
#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/shared_section.h"
#include "platform/thread_queue.h"
#include "tests/support/child.h"

using namespace tavik;
using platform::SharedSection;
using platform::sectionObjectName;
using test::Child;
using test::Signal;

namespace {

std::string uniqueName(const char* tag) { return std::string("tavik-hostile-") + tag + "-" + std::to_string(::getpid()); }

uid_t nobodyUid() {
    const passwd* pw = ::getpwnam("nobody");
    return pw ? pw->pw_uid : 65534;
}

}  // namespace

// Another process shrinks a mapped section to nothing: every access would
// raise SIGBUS. The process lives on and the section reads as lost.
TEST(HostileSections, ShrunkSectionIsLostNotFatal) {
    const std::string name = uniqueName("shrink");
    Child victim([&] {
        auto s = SharedSection::create(name, 3 * 4096);
        if (!s) return 2;
        auto* words = static_cast<volatile int32_t*>(s->data());
        words[1000] = 7;
        if (s->lost()) return 3;
        // What a hostile process does with the section's name.
        int fd = ::shm_open(sectionObjectName(name).c_str(), O_RDWR, 0);
        if (fd < 0 || ::ftruncate(fd, 0) != 0) return 4;
        ::close(fd);
        words[2000] = 9;           // a write past the new end
        const int32_t r = words[1000];  // a read past it
        if (!s->lost()) return 5;
        return r == 0 ? 0 : 6;
    });
    EXPECT_EQ(victim.waitExit(), 0) << "negative: killed by that signal";
}

// A SIGBUS outside any section still ends the process as before.
TEST(HostileSections, ForeignSigbusIsNotSwallowed) {
#if defined(__SANITIZE_THREAD__)
    // The thread checker takes a deadly signal over: it writes a report of its
    // own and ends with its own status. The normal and ASan runs check this.
    GTEST_SKIP() << "a deadly signal under the thread checker ends in its report";
#endif
    Child child([&] {
        auto s = SharedSection::create(uniqueName("other"), 4096);  // installs the handler
        char path[] = "/tmp/tavik-bus-XXXXXX";
        int fd = ::mkstemp(path);
        ::unlink(path);
        if (fd < 0 || ::ftruncate(fd, 4096) != 0) return 2;
        auto* p = static_cast<volatile char*>(::mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
        return static_cast<int>(p[4096 + 1]) + 3;  // past the end of the file
    });
    // Ends as without our handler: by the signal, or by a sanitizer's report
    // of it; never by going on.
    const int status = child.waitExit().value_or(999);  // 999: still running
    EXPECT_TRUE(status == -SIGBUS || status == 1) << status;
}

// Someone holds the guard lock for ever: opens fail after a bounded wait.
TEST(HostileSections, HeldGuardLockBoundsEveryOpen) {
    const std::string name = uniqueName("guard");
    auto s = SharedSection::create(name, 4096);
    ASSERT_TRUE(s);
    Signal held, done;
    Child squatter([&] {
        const std::string guard = "/tavik-section-guard-" + std::to_string(::geteuid());
        int fd = ::shm_open(guard.c_str(), O_RDWR, 0);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return 2;
        held.post();
        done.wait();
        return 0;
    });
    ASSERT_TRUE(held.wait());
    EXPECT_FALSE(SharedSection::open(name, SharedSection::Access::ReadWrite));
    EXPECT_FALSE(SharedSection::create(uniqueName("guard2"), 4096));
    done.post();
    EXPECT_EQ(squatter.waitExit(), 0);
    EXPECT_TRUE(SharedSection::open(name, SharedSection::Access::ReadWrite));
}

// A section another user owns is never used: not opened, not re-created.
TEST(HostileSections, AnotherUsersSectionIsRefused) {
    const std::string name = uniqueName("owner");
    const std::string obj = sectionObjectName(name);
    int fd = ::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    ASSERT_EQ(::fchown(fd, nobodyUid(), nobodyUid()), 0);
    // Held by a live "process" of that user: a live, foreign section.
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    EXPECT_FALSE(SharedSection::open(name, SharedSection::Access::ReadWrite));
    EXPECT_FALSE(SharedSection::create(name, 4096));
    EXPECT_TRUE(SharedSection::exists(name));
    ::close(fd);
    ::shm_unlink(obj.c_str());
}

// A new section is this user's alone, and a stale one is replaced by a new
// object: a descriptor opened on the old one (by whoever could open it then)
// never reaches the section that takes its name.
TEST(HostileSections, NewSectionIsPrivateAndNoOldDescriptorReachesIt) {
    const std::string name = uniqueName("private");
    const std::string obj = sectionObjectName(name);
    // Left behind open to everyone by processes that died; someone kept a descriptor.
    int old = ::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(old, 0);
    ASSERT_EQ(::fchmod(old, 0666), 0);
    ASSERT_EQ(::ftruncate(old, 4096), 0);
    bool fresh = false;
    auto s = SharedSection::create(name, 4096, &fresh);
    ASSERT_TRUE(s);
    EXPECT_TRUE(fresh);
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/shm" + obj).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    static_cast<char*>(s->data())[10] = 'x';
    char seen = 0;
    EXPECT_EQ(::pread(old, &seen, 1, 10), 1);
    EXPECT_EQ(seen, 0) << "the old descriptor reads the new section";
    ::close(old);
}

// A name held by another user's object is refused and reported with its owner.
TEST(HostileSections, SquattedNameIsReportedWithItsOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give an object to another user";
    const std::string name = uniqueName("squat");
    const std::string obj = sectionObjectName(name);
    int fd = ::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchown(fd, nobodyUid(), nobodyUid()), 0);
    platform::SectionError error;
    EXPECT_FALSE(SharedSection::create(name, 4096, nullptr, {}, &error));
    EXPECT_EQ(error.kind, platform::SectionError::Kind::Foreign);
    EXPECT_EQ(error.owner, nobodyUid());
    EXPECT_NE(platform::describeSectionError(error).find("uid " + std::to_string(nobodyUid())), std::string::npos)
        << platform::describeSectionError(error);
    error = {};
    EXPECT_FALSE(SharedSection::open(name, SharedSection::Access::ReadOnly, 0, &error));
    EXPECT_EQ(error.kind, platform::SectionError::Kind::Foreign);
    ::close(fd);
    ::shm_unlink(obj.c_str());
}

// A block name taken by something that is no section of ours is skipped.
TEST(HostileSections, SquattedBlockNameIsSkipped) {
    // Blocks are numbered from 0 for the whole machine; a directory where the
    // object would be stands for a name nobody of ours can use.
    const std::string squat = "/dev/shm" + sectionObjectName(sharedBlockName(0));
    std::error_code ec;
    std::filesystem::create_directory(squat, ec);
    auto b = SharedBlock::create(8);
    std::filesystem::remove(squat, ec);
    ASSERT_TRUE(b) << "one squatted name disabled every block";
    EXPECT_NE(b->number(), 0);
    auto other = SharedBlock::open(b->number());
    ASSERT_TRUE(other);
    EXPECT_EQ(other->payloadSize(), 8);
}

// The controller claim: one holder at a time, visible to every other open of
// the map, and gone with the process that held it.
TEST(ControllerClaim, UniqueAndEndsWithItsProcess) {
    const int32_t port = 40 + ::getpid() % 20;
    auto own = PortMap::open(port);
    ASSERT_TRUE(own);
    EXPECT_FALSE(own->controllerClaimed());
    Signal claimed, release;
    Child controller([&] {
        auto m = PortMap::open(port);
        if (!m || !m->claimController(0)) return 2;
        claimed.post();
        release.wait();
        return 0;
    });
    ASSERT_TRUE(claimed.wait());
    EXPECT_TRUE(own->controllerClaimed());
    auto second = PortMap::open(port);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->claimController(50)) << "two controllers for one port";
    controller.kill(SIGKILL);
    controller.waitExit();
    EXPECT_FALSE(own->controllerClaimed()) << "the claim outlived its process";
    EXPECT_TRUE(second->claimController(0));
}

// A read lock on the claim's byte, which any reader of the map could place,
// neither makes the port look served nor passes for a controller.
TEST(ControllerClaim, ReadersLockIsNoClaim) {
    const int32_t port = 40 + (::getpid() + 7) % 20;
    auto own = PortMap::open(port);
    ASSERT_TRUE(own);
    Signal locked, release;
    Child reader([&] {
        int fd = ::shm_open(sectionObjectName(portMapName(port)).c_str(), O_RDONLY, 0);
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_len = 1;
        if (fd < 0 || ::fcntl(fd, F_OFD_SETLK, &fl) != 0) return 2;
        locked.post();
        release.wait();
        return 0;
    });
    ASSERT_TRUE(locked.wait());
    EXPECT_FALSE(own->controllerClaimed()) << "a reader's lock reads as a live controller";
    release.post();
    EXPECT_EQ(reader.waitExit(), 0);
}

// Entries made while the map is being created are never wiped by its
// creator's clearing: every one of them counts.
TEST(PortMapCreation, NoEntryIsLostToTheNewMapsClear) {
    const int32_t port = 20 + ::getpid() % 20;
    constexpr int kThreads = 4;
    constexpr int kRounds = 100;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::optional<PortMap>> maps(kThreads);
        std::atomic<int> go{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                go.fetch_add(1);
                while (go.load() < kThreads) {
                }
                maps[t] = PortMap::open(port);
                if (maps[t]) platform::addWord(maps[t]->map().entryCount, 1);
            });
        for (auto& th : threads) th.join();
        int opened = 0;
        for (auto& m : maps) opened += m.has_value();
        ASSERT_EQ(opened, kThreads);
        if (maps[0]->map().entryCount != kThreads) ++lost;
    }
    EXPECT_EQ(lost, 0) << "rounds in which an entry was cleared away";
}

// A datagram from another user never reaches a queue; the own user's does.
TEST(QueueCredentials, ForgedDatagramFromAnotherUserIsDropped) {
    auto queue = platform::ThreadQueue::createForCurrentThread();
    ASSERT_TRUE(queue);
    const int32_t tid = queue->threadId();
    MessageNumbers msgs;
    registerMessages(msgs);
    Child forger([&] {
        if (::setgid(nobodyUid()) != 0 || ::setuid(nobodyUid()) != 0) return 2;
        return platform::postThreadMessage(tid, msgs.notify, 4, 0x000104, 0) ? 0 : 3;
    });
    ASSERT_EQ(forger.waitExit(), 0) << "the forged datagram was not even sent";
    Child friendly([&] { return platform::postThreadMessage(tid, msgs.notify, 5, 77, 0) ? 0 : 3; });
    ASSERT_EQ(friendly.waitExit(), 0);
    platform::ThreadMessage m;
    ASSERT_TRUE(queue->wait(m, 5000));
    EXPECT_EQ(m.wParam, 5u) << "a datagram of another user was taken";
    EXPECT_EQ(m.lParam, 77);
    EXPECT_FALSE(queue->peek(m));
}
