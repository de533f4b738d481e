#include "core/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <functional>

namespace ostrel {
namespace {

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

// Each case starts from `owner` of a fresh descriptor a and `other` of b, acts, and says what is
// still open; once both owners are gone, nothing may be, and what was released is the caller's.
TEST(UniqueFd, ClosesEachDescriptorExactlyOnceWhateverHappensToItsOwner)
{
    struct Case
    {
        const char* what;
        std::function<int(UniqueFd& owner, UniqueFd& other)> act; // the descriptor the test closes itself, or -1
        bool ownerHolds;                                          // `owner` holds a descriptor afterwards
        bool aOpen;
        bool bOpen;
    };
    const Case cases[] = {
        {"kept", [](UniqueFd&, UniqueFd&) { return -1; }, true, true, true},
        {"reset",
         [](UniqueFd& o, UniqueFd&) {
             o.reset();
             return -1;
         },
         false, false, true},
        {"reset to its own descriptor",
         [](UniqueFd& o, UniqueFd&) {
             o.reset(o.get());
             return -1;
         },
         true, true, true},
        {"released", [](UniqueFd& o, UniqueFd&) { return o.release(); }, false, true, true},
        {"moved out, then released",
         [](UniqueFd& o, UniqueFd&) {
             UniqueFd taken(std::move(o));
             return taken.release();
         },
         false, true, true},
        {"moved over another",
         [](UniqueFd& o, UniqueFd& b) {
             b = std::move(o);
             return -1;
         },
         false, true, false},
        {"moved onto itself",
         [](UniqueFd& o, UniqueFd&) {
             UniqueFd& same = o;
             o = std::move(same);
             return -1;
         },
         true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int a = -1;
        int b = -1;
        int closedByTest = -1;
        {
            UniqueFd owner(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            UniqueFd other(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            a = owner.get();
            b = other.get();
            ASSERT_TRUE(owner && other);
            closedByTest = c.act(owner, other);
            EXPECT_EQ(bool(owner), c.ownerHolds);
            EXPECT_TRUE(other);
            EXPECT_EQ(isOpen(a), c.aOpen);
            EXPECT_EQ(isOpen(b), c.bOpen);
        }
        if (closedByTest >= 0) {
            EXPECT_TRUE(isOpen(closedByTest));
            ::close(closedByTest);
        }
        EXPECT_FALSE(isOpen(a));
        EXPECT_FALSE(isOpen(b));
    }
}

} // namespace
} // namespace ostrel
