#pragma once

#include "audio/AudioEngine.h"
#include "audio/FakeAudioBackend.h"
#include "settings/PreferencesStore.h"
#include "settings/ScopeSettings.h"
#include "support/TestSupport.h"
#include "ui/ScopeView.h"

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The window's world: settings on a private store, an engine on a scripted
// sound server that lists a USB microphone (44.1 kHz) besides system audio.
struct UiWorld : ::testing::Test {
    QTemporaryDir config;
    std::shared_ptr<QSettingsStore> store = std::make_shared<QSettingsStore>(config.filePath("Orvalen.conf"));
    std::shared_ptr<FakeAudioBackend> backend = std::make_shared<FakeAudioBackend>();
    AudioEngine engine{backend};
    ScopeSettings settings{store};

    UiWorld()
    {
        backend->sources = {{"usb-mic", "USB Microphone", 1, 44100.0, false}};
        engine.refreshDevices();
    }
    void startMicrophone()
    {
        engine.setSelectedDeviceID(engine.devices().back().id);
        engine.start();
        ASSERT_TRUE(engine.isRunning());
    }
};

// The one way to reach a control, as a user does: the first T under `root`
// whose text, window title or tooltip reads `text`.
template <typename T = QWidget>
T* find(const QObject* root, const QString& text)
{
    for (T* c : root->findChildren<T*>())
        for (const char* property : {"text", "windowTitle", "toolTip"})
            if (c->property(property).toString() == text)
                return c;
    return nullptr;
}

// Shows `window` and waits for its scope's renderer: false without an X or
// Wayland display or an OpenGL 4.3 core context, where the scope area stays
// empty.
template <typename W>
bool showScope(W& window, ScopeView* scope)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    QSignalSpy ready(scope, &ScopeView::rendererReady);
    window.show();
    return ready.wait(5000) && ready.front().front().toBool();
}
