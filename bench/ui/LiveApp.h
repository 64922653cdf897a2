#pragma once

// The whole app on live system audio, for the whole-app benchmarks: the same
// window, objects and theme as the program, on a private preferences folder.

#include "audio/AudioEngine.h"
#include "settings/ScopeSettings.h"
#include "ui/ContentView.h"
#include "ui/ControlPanel.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>

// Runs the event loop (sleeping when idle, as the app does) for `ms`.
inline void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A field of /proc/self/status in MiB ("VmRSS", "VmHWM", "RssAnon").
inline double statusMiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').front().toDouble() / 1024.0;
    return -1;
}

struct LiveApp {
    LiveApp(int& argc, char** argv) : app(argc, argv) {}

    // Shows the window, presses Start at `fps` (or plays `file`, looping)
    // and lets it warm up; false (with the reason on stderr) when capture did
    // not start.
    bool start(int64_t fps, const QString& file = {})
    {
        window.resize(ContentView::kDefaultSize);
        window.show();
        spin(500);
        settings.setFrameRate(fps);
        if (file.isEmpty()) {
            startStop()->click();
        } else {
            engine.setFileLooping(true);
            window.openFile(file);
        }
        spin(3000);
        if (!engine.isRunning())
            std::fprintf(stderr, "capture did not start: %s\n", qPrintable(engine.lastError()));
        return engine.isRunning();
    }
    QPushButton* startStop() const { return window.controlPanel()->startStopButton(); }

    QTemporaryDir config;  // before the application: never the user's preferences
    bool configured = qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app;
    bool themed = (ui::prepareApplication(app), true);
    AudioEngine engine;
    ScopeSettings settings;
    ContentView window{engine, settings};
};
