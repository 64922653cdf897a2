// main() for the settings tests: Qt Core only. An event loop for the timers,
// and a private config folder so that QSettings never touches the user's.
// No GUI platform: its event thread in uninstrumented Qt upsets ThreadSanitizer.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
