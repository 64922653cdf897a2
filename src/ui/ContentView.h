#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QSize>
#include <QWidget>

class AudioEngine;
class ControlPanel;
class QPropertyAnimation;
class QShortcut;
class RecentFiles;
class ScopeSettings;
class ScopeView;
class VideoRenderTask;
struct VideoRenderJob;

// The window's content: the scope picture above the control panel. Hiding the
// scope keeps its place (a native GL child cannot fade, so it is hidden with
// its size retained and the window's own background shows through).
//
// Keys: Space starts and stops capture unless the focused control uses Space
// itself (a button, the checkbox, a pop-up); F11 toggles full screen, Esc
// leaves it; Ctrl+S saves a snapshot; Ctrl+O opens a sound file (so does
// dropping one on the window); with a file playing and the scope focused,
// Left and Right seek 5 s; Ctrl+R renders a file to video; Ctrl+Q closes
// the window (and the app).
// The panel stays in full screen: it holds the meters and the way out.
class ContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kDefaultSize{1020, 700};
    static constexpr double kSeekStepSeconds = 5.0;

    ContentView(AudioEngine& engine, ScopeSettings& settings, QWidget* parent = nullptr);

    ScopeView* scopeView() const { return m_scopeView; }
    QWidget* scopeContainer() const { return m_scopeContainer; }
    ControlPanel* controlPanel() const { return m_panel; }

    // Returns the top-level window to the default size about its centre, animated.
    void resetWindowSize();
    void toggleFullScreen();
    // Saves what the scope shows to the Pictures folder and says so in the panel.
    void saveSnapshot();
    // Plays the sound file at `path` (and lists it as recent), or shows why not.
    void openFile(const QString& path);
    // The file dialog, then openFile.
    void openFileDialog();
    RecentFiles* recentFiles() const { return m_recent; }
    // "Render Video…" for the file playing (or one picked there), then startRender.
    void openRenderDialog();
    // Renders in the background with the panel showing how far; when done
    // the panel says where the video is. False while another render runs.
    bool startRender(const VideoRenderJob& job);
    bool isRendering() const { return m_render != nullptr; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Accepts a drag that carries a local file, and opens it on the drop.
    bool takeDrop(QDropEvent* event, QEvent::Type type);
    void followScopeVisibility();
    void toggleCapture();

    void seekBy(double seconds);

    AudioEngine& m_engine;
    ScopeSettings& m_settings;
    RecentFiles* m_recent;
    ScopeView* m_scopeView;
    QWidget* m_scopeContainer;
    ControlPanel* m_panel;
    QPropertyAnimation* m_resize = nullptr;
    QShortcut* m_leaveFullScreen;
    VideoRenderTask* m_render = nullptr;
    QElapsedTimer m_renderClock;
    bool m_restored = false;
};
