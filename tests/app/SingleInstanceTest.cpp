#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace ostrel {
namespace {

// Never the server's own name: a developer's running server must not fail the tests.
std::string testName()
{
    return "Ostrel_CHECKEXIST_test_" + std::to_string(::getpid());
}

TEST(SingleInstance, OnlyOneHolderAtATime)
{
    auto first = SingleInstance::claim(testName());
    ASSERT_TRUE(first);
    EXPECT_FALSE(SingleInstance::claim(testName()));

    auto moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(SingleInstance::claim(testName())); // the moved-to guard still holds the name
}

TEST(SingleInstance, ReleasedWhenTheHolderEndsHoweverItEnds)
{
    const std::string name = testName(); // the child has another pid
    {
        auto guard = SingleInstance::claim(name);
    }
    EXPECT_TRUE(SingleInstance::claim(name));

    // A holder killed outright frees the name as well: the kernel drops it with the process.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto guard = SingleInstance::claim(name);
        const char answer = guard ? 'y' : 'n';
        static_cast<void>(::write(ready[1], &answer, 1));
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(answer, 'y');
    EXPECT_FALSE(SingleInstance::claim(name));
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_TRUE(SingleInstance::claim(name));
}

TEST(SingleInstance, ALaterStartAsksTheHolderToShowItself)
{
    EXPECT_FALSE(SingleInstance::askToShow(testName())); // nobody to ask
    auto holder = SingleInstance::claim(testName());
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->takeShowRequests(), 0); // nothing waiting: returns at once
    EXPECT_TRUE(SingleInstance::askToShow(testName()));
    EXPECT_TRUE(SingleInstance::askToShow(testName()));
    EXPECT_EQ(holder->takeShowRequests(), 2);
    EXPECT_EQ(holder->takeShowRequests(), 0);
    EXPECT_FALSE(SingleInstance::askToShow(""));
    holder.reset();
    EXPECT_FALSE(SingleInstance::askToShow(testName()));
}

TEST(SingleInstance, RefusesNamesThatCannotBeBound)
{
    EXPECT_FALSE(SingleInstance::claim(""));
    EXPECT_FALSE(SingleInstance::claim(std::string(200, 'x')));
}

} // namespace
} // namespace ostrel
