#pragma once

// Shared pieces of the window tests: a settings model on a private store, an
// engine on the scripted sound server, and ways to let queued work run.

#include "audio/AudioEngine.h"
#include "audio/FakeAudioBackend.h"
#include "settings/PreferencesStore.h"
#include "settings/ScopeSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

// Runs queued calls (the panel and the bridge read the model in queued slots).
inline void settle()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Spins the event loop until `done` or the timeout; returns done().
inline bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(10);
    return done();
}

struct UiWorld {
    QTemporaryDir config;
    std::shared_ptr<QSettingsStore> store =
        std::make_shared<QSettingsStore>(config.filePath(QStringLiteral("Orvalen.conf")));
    std::shared_ptr<FakeAudioBackend> backend = [] {
        auto fake = std::make_shared<FakeAudioBackend>();
        fake->sources = {{"usb-mic", "USB Microphone", 1, 44100.0, false}};
        return fake;
    }();
    AudioEngine engine{backend};
    ScopeSettings settings{store};
};
