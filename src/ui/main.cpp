// Orvalen: one window with the scope above the control panel. The one
// argument is a sound file to play at once; everything the user sets lives
// in the settings model and the preferences store. With --render it draws a
// file into a video instead, with no window (no display needed).
#include "audio/AudioEngine.h"
#include "settings/ScopeSettings.h"
#include "ui/ContentView.h"
#include "ui/UiStyle.h"
#include "video/RenderCommand.h"

#include <QApplication>

#include <cstdio>

namespace {

// Qt aborts when it cannot reach a display; tell the user why instead.
bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv)
{
    if (rendercommand::requested(argc, argv))
        return rendercommand::run(argc, argv);
    if (!haveDisplay()) {
        std::fprintf(stderr,
                     "Orvalen needs a graphical desktop: no X11 or Wayland display was found "
                     "(DISPLAY and WAYLAND_DISPLAY are not set).\n");
        return 1;
    }

    QApplication app(argc, argv);
    ui::prepareApplication(app);

    AudioEngine engine;
    ScopeSettings settings;
    ContentView window(engine, settings);
    window.resize(ContentView::kDefaultSize);
    window.show();
    const QStringList arguments = app.arguments();
    if (arguments.size() > 1)
        window.openFile(arguments.at(1));
    return app.exec();
}
