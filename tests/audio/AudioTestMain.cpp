// main() for the audio tests that need an event loop: a QCoreApplication and
// nothing more. No display connection, so no GUI threads (which TSan, not
// knowing Qt's own synchronisation, would report).
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
