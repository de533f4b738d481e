#include "app/SingleInstance.h"
#include "core/CurrentUser.h"

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
    EXPECT_EQ(holder->takeShowRequests(), 0);                      // nothing waiting: returns at once
    EXPECT_EQ(SingleInstance::askToShow(testName()), ::geteuid()); // the holder is of the same login
    EXPECT_TRUE(SingleInstance::askToShow(testName()));
    EXPECT_EQ(holder->takeShowRequests(), 2);
    EXPECT_EQ(holder->takeShowRequests(), 0);
    EXPECT_FALSE(SingleInstance::askToShow(""));
    holder.reset();
    EXPECT_FALSE(SingleInstance::askToShow(testName()));
}

// A start under another login learns whose server holds the name, and the holder shows nothing for it.
TEST(SingleInstance, AnotherLoginsStartIsToldWhoseServerRuns)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a second user id needs root";
    const std::string name = testName(); // the child's own pid would name another
    auto holder = SingleInstance::claim(name);
    ASSERT_TRUE(holder);
    constexpr uid_t Nobody = 65534;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
            ::_exit(2);
        const auto seen = SingleInstance::askToShow(name);
        ::_exit(seen && *seen == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);        // the other login saw root's server
    EXPECT_EQ(holder->takeShowRequests(), 0); // taken, not shown
    EXPECT_EQ(SingleInstance::askToShow(name), 0u);
    EXPECT_EQ(holder->takeShowRequests(), 1);
}

TEST(SingleInstance, TellsAnotherLoginWhoseServerRuns)
{
    const struct
    {
        std::string login;
        std::string expected;
    } cases[] = {
        {"ivan", "Сервер интернет-салона уже запущен пользователем \"ivan\".\n"
                 "Его окно открыто на рабочем столе этого пользователя."},
        {userName(0), "Сервер интернет-салона уже запущен пользователем \"root\".\n"
                      "Его окно открыто на рабочем столе этого пользователя."},
        {userName(4000000000u), "Сервер интернет-салона уже запущен пользователем \"4000000000\".\n"
                                "Его окно открыто на рабочем столе этого пользователя."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SingleInstance::heldByAnotherUserText(c.login), c.expected);
}

TEST(SingleInstance, RefusesNamesThatCannotBeBound)
{
    EXPECT_FALSE(SingleInstance::claim(""));
    EXPECT_FALSE(SingleInstance::claim(std::string(200, 'x')));
}

} // namespace
} // namespace ostrel
