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

// `owner` starts with descriptor a, `other` with b. After the step, what is open must be as the
// case says; once both owners are gone nothing may be, save what the step released to the caller.
TEST(UniqueFd, ClosesEachDescriptorExactlyOnceWhateverHappensToItsOwner)
{
    struct Case
    {
        const char* what;
        std::function<int(UniqueFd& owner, UniqueFd& other)> step; // returns what it released, or -1
        bool ownerHolds, aOpen, bOpen;
    };
    const Case cases[] = {
        {"kept", [](UniqueFd&, UniqueFd&) { return -1; }, true, true, true},
        {"reset", [](UniqueFd& o, UniqueFd&) { return o.reset(), -1; }, false, false, true},
        {"reset to its own descriptor", [](UniqueFd& o, UniqueFd&) { return o.reset(o.get()), -1; }, true, true, true},
        {"released", [](UniqueFd& o, UniqueFd&) { return o.release(); }, false, true, true},
        {"moved out", [](UniqueFd& o, UniqueFd&) { return UniqueFd(std::move(o)).release(); }, false, true, true},
        {"moved over another", [](UniqueFd& o, UniqueFd& b) { return b = std::move(o), -1; }, false, true, false},
        {"moved onto itself",
         [](UniqueFd& o, UniqueFd&) {
             UniqueFd& same = o;
             return o = std::move(same), -1;
         },
         true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int a = -1, b = -1, released = -1;
        {
            UniqueFd owner(::open("/dev/null", O_RDONLY | O_CLOEXEC)), other(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            a = owner.get();
            b = other.get();
            released = c.step(owner, other);
            EXPECT_EQ(bool(owner), c.ownerHolds);
            EXPECT_TRUE(other);
            EXPECT_EQ(isOpen(a), c.aOpen);
            EXPECT_EQ(isOpen(b), c.bOpen);
        }
        EXPECT_EQ(isOpen(a), a == released);
        EXPECT_FALSE(isOpen(b));
        if (released >= 0)
            ::close(released);
    }
}

} // namespace
} // namespace ostrel
