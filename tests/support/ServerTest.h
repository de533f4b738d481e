#pragma once

#include "support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel::proctest {

// A test that starts the real server; skipped where its announcement could leave the host. A
// fixture deriving from it calls this SetUp first and returns when IsSkipped().
class ServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!onlyLoopbackIsUp(&why))
            GTEST_SKIP() << "the server's start-up announcement would leave this host: " << why;
    }
};

} // namespace ostrel::proctest
