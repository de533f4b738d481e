#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// One main for every widget test: the offscreen platform unless the caller chose another (Xvfb).
int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
