#pragma once

#include <QSize>
#include <QWidget>

class AudioEngine;
class ControlPanel;
class QPropertyAnimation;
class ScopeSettings;
class ScopeView;

// The window's content: the scope picture above the control panel. Hiding the
// scope keeps its place (a native GL child cannot fade, so it is hidden with
// its size retained and the window's own background shows through).
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

protected:
    void showEvent(QShowEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void followScopeVisibility();

    ScopeSettings& m_settings;
    ScopeView* m_scopeView;
    QWidget* m_scopeContainer;
    ControlPanel* m_panel;
    QPropertyAnimation* m_resize = nullptr;
    bool m_restored = false;
};
