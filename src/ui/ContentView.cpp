#include "ui/ContentView.h"

#include "settings/ScopeSettings.h"
#include "ui/ControlPanel.h"
#include "ui/ScopeView.h"
#include "ui/UiStyle.h"

#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QVBoxLayout>

ContentView::ContentView(AudioEngine& engine, ScopeSettings& settings, QWidget* parent)
    : QWidget(parent),
      m_settings(settings),
      m_scopeView(new ScopeView(engine, settings)),
      m_scopeContainer(QWidget::createWindowContainer(m_scopeView, this)),
      m_panel(new ControlPanel(engine, settings, this))
{
    setMinimumSize(kDefaultSize);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(30, 30, 30));
    setPalette(palette);

    QSizePolicy keepPlace = m_scopeContainer->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    keepPlace.setVerticalPolicy(QSizePolicy::Expanding);
    m_scopeContainer->setSizePolicy(keepPlace);
    m_scopeContainer->setMinimumHeight(1);

    m_panel->setMinimumHeight(120);
    m_panel->setMaximumHeight(200);
    m_panel->setAutoFillBackground(true);
    QPalette panelPalette = m_panel->palette();
    panelPalette.setColor(QPalette::Window, ui::kPanelBackground);
    m_panel->setPalette(panelPalette);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_scopeContainer, 1);
    column->addWidget(m_panel, 0);

    // The GL window eats its own mouse events; its double clicks are the shell's.
    connect(m_scopeView, &ScopeView::doubleClicked, this, &ContentView::resetWindowSize);
    connect(m_panel, &ControlPanel::backgroundDoubleClicked, this, &ContentView::resetWindowSize);
    connect(&m_settings, &ScopeSettings::willChange, this, &ContentView::followScopeVisibility,
            Qt::QueuedConnection);
    followScopeVisibility();
}

void ContentView::followScopeVisibility()
{
    m_scopeContainer->setVisible(m_settings.scopeVisible());
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_restored)
        return;
    m_restored = true;
    m_settings.loadLastSession();
    m_settings.startAutoSave();
}

void ContentView::mouseDoubleClickEvent(QMouseEvent* event)
{
    resetWindowSize();
    event->accept();
}

void ContentView::resetWindowSize()
{
    QWidget* top = window();
    if (!top || !top->isVisible() || top->isMaximized() || top->isFullScreen())
        return;
    // The frame margins do not change, so keeping the content's centre keeps
    // the outer frame's centre too. The content never goes below its minimum.
    const QRect content = top->geometry();
    QRect goal(QPoint(0, 0), kDefaultSize.expandedTo(top->minimumSize()));
    goal.moveCenter(content.center());

    if (!m_resize) {
        m_resize = new QPropertyAnimation(top, "geometry", this);
        m_resize->setDuration(220);
        m_resize->setEasingCurve(QEasingCurve::OutCubic);
    }
    m_resize->stop();
    m_resize->setStartValue(content);
    m_resize->setEndValue(goal);
    m_resize->start();
}
