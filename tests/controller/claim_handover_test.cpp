// Handing the port's claim to the image that replaces the controller by exec:
// only a descriptor of the same map that holds the claim is taken over; it is
// close-on-exec again afterwards, and foreign descriptors are left alone.
#include "common/data_maps.h"
#include "platform/shared_section.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using tavik::PortMap;

namespace {

int portFor(int offset) { return 20 + (::getpid() + offset) % 40; }

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
bool closeOnExec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

// Another open of the live map, the way a client sees it.
bool claimedSeenFromOutside(int port) {
    auto probe = PortMap::openExisting(port, true);
    return probe && probe->controllerClaimed();
}

int openMapDescriptor(int port, int flags) {
    return ::shm_open(tavik::platform::sectionObjectName(tavik::portMapName(port)).c_str(), flags | O_CLOEXEC, 0);
}

}  // namespace

TEST(ClaimHandover, TheClaimingDescriptorIsTakenOverAndOutlivesTheOldOpen) {
    const int port = portFor(0);
    auto old = PortMap::open(port);
    ASSERT_TRUE(old);
    ASSERT_TRUE(old->claimController(0));
    const int fd = old->keepClaimAcrossExec(true);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(closeOnExec(fd));
    // What survives an exec: the same open file description under another number.
    const int passed = ::dup(fd);
    ASSERT_GE(passed, 0);
    old->keepClaimAcrossExec(false);
    EXPECT_TRUE(closeOnExec(fd));
    // A client keeps the map alive while the old image's open goes.
    auto client = PortMap::openExisting(port, true);
    ASSERT_TRUE(client);
    old.reset();
    ASSERT_TRUE(claimedSeenFromOutside(port));

    auto adopted = PortMap::adopt(passed, port);
    ASSERT_TRUE(adopted);
    EXPECT_TRUE(closeOnExec(passed)) << "an adopted claim would leak into every child";
    EXPECT_EQ(adopted->portIndex(), port);
    EXPECT_TRUE(adopted->claimController(0));
    EXPECT_TRUE(claimedSeenFromOutside(port));
    // A second controller cannot claim the port.
    auto rival = PortMap::open(port);
    ASSERT_TRUE(rival);
    EXPECT_FALSE(rival->claimController(0));
    adopted.reset();
    EXPECT_TRUE(rival->claimController(0)) << "the claim did not go with the adopted map";
}

TEST(ClaimHandover, DescriptorsThatDoNotHoldThisPortsClaimAreRefused) {
    const int port = portFor(1);
    const int other = portFor(2);
    ASSERT_NE(port, other);
    auto holder = PortMap::open(port);
    auto otherHolder = PortMap::open(other);
    ASSERT_TRUE(holder && otherHolder);

    // The map of the port, nobody claiming it: refused and closed.
    int fd = openMapDescriptor(port, O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(PortMap::adopt(fd, port));
    EXPECT_FALSE(isOpen(fd));

    // Claimed, but through another open than this descriptor.
    ASSERT_TRUE(holder->claimController(0));
    fd = openMapDescriptor(port, O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(PortMap::adopt(fd, port));
    EXPECT_FALSE(isOpen(fd));
    EXPECT_TRUE(claimedSeenFromOutside(port)) << "a refused descriptor took the claim";

    // The claiming descriptor of another port's map: not this port's, left open.
    ASSERT_TRUE(otherHolder->claimController(0));
    const int otherFd = otherHolder->keepClaimAcrossExec(true);
    ASSERT_GE(otherFd, 0);
    EXPECT_FALSE(PortMap::adopt(otherFd, port));
    EXPECT_TRUE(isOpen(otherFd));
    otherHolder->keepClaimAcrossExec(false);

    // No shared-memory object at all, and a number nothing is open under.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    EXPECT_FALSE(PortMap::adopt(pipeFds[0], port));
    EXPECT_TRUE(isOpen(pipeFds[0]));
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_FALSE(PortMap::adopt(pipeFds[0], port));
    EXPECT_FALSE(PortMap::adopt(-1, port));
    EXPECT_TRUE(claimedSeenFromOutside(port));
}
