// The one main() of every test binary, compiled into each with that binary's
// Qt modules: widgets get a QApplication (offscreen without an X display; GL
// tests then skip), Qt Core alone a QCoreApplication (no GUI thread for
// ThreadSanitizer to trip on), the standard-library suites no Qt at all.
// Qt binaries get a private config folder: QSettings never touches the user's.
#include <gtest/gtest.h>

#if defined(QT_WIDGETS_LIB)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(QT_CORE_LIB)
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#ifdef QT_CORE_LIB
#include <QTemporaryDir>
#endif

int main(int argc, char** argv)
{
#ifdef QT_CORE_LIB
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
#ifdef QT_WIDGETS_LIB
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
