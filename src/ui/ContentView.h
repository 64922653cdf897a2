#pragma once

#include <QSize>
#include <QWidget>

class AudioEngine;
class ControlPanel;
class QPropertyAnimation;
class QShortcut;
class ScopeSettings;
class ScopeView;

// The window's content: the scope picture above the control panel. Hiding the
// scope keeps its place (a native GL child cannot fade, so it is hidden with
// its size retained and the window's own background shows through).
//
// Keys: Space starts and stops capture unless the focused control uses Space
// itself (a button, the checkbox, a pop-up); F11 toggles full screen, Esc
// leaves it; Ctrl+S saves a snapshot; Ctrl+Q closes the window (and the app).
// The panel stays in full screen: it holds the meters and the way out.
class ContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kDefaultSize{1020, 700};

    ContentView(AudioEngine& engine, ScopeSettings& settings, QWidget* parent = nullptr);

    ScopeView* scopeView() const { return m_scopeView; }
    QWidget* scopeContainer() const { return m_scopeContainer; }
    ControlPanel* controlPanel() const { return m_panel; }

    // Returns the top-level window to the default size about its centre, animated.
    void resetWindowSize();
    void toggleFullScreen();
    // Saves what the scope shows to the Pictures folder and says so in the panel.
    void saveSnapshot();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followScopeVisibility();
    void toggleCapture();

    ScopeSettings& m_settings;
    ScopeView* m_scopeView;
    QWidget* m_scopeContainer;
    ControlPanel* m_panel;
    QPropertyAnimation* m_resize = nullptr;
    QShortcut* m_leaveFullScreen;
    bool m_restored = false;
};
