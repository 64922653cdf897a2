#include "ui/ControlPanel.h"

#include "audio/AudioEngine.h"
#include "settings/ScopeSettings.h"
#include "ui/UiStyle.h"
#include "ui/panel/HeaderRow.h"
#include "ui/panel/MeterRow.h"
#include "ui/panel/ModeRow.h"
#include "ui/panel/PresetControls.h"
#include "ui/panel/SliderRow.h"
#include "ui/panel/RenderStatus.h"
#include "ui/panel/TransportBar.h"

#include <QMouseEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

constexpr int kInset = 16;

}  // namespace

ControlPanel::ControlPanel(AudioEngine& engine, ScopeSettings& settings, QWidget* parent)
    : QWidget(parent),
      m_engine(engine),
      m_settings(settings),
      m_header(new HeaderRow(engine, settings, this)),
      m_transport(new TransportBar(engine, this)),
      m_renderStatus(new RenderStatus(this)),
      m_sliders(new SliderRow(settings, this)),
      m_mode(new ModeRow(settings, this)),
      m_meters(new MeterRow(settings, this))
{
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(kInset, 5 + 6, kInset, 5 + 6);
    rows->setSpacing(6);
    for (QWidget* row :
         std::initializer_list<QWidget*>{m_header, m_transport, m_renderStatus, m_sliders, m_mode, m_meters})
        rows->addWidget(row);
    m_transport->hide();
    m_renderStatus->hide();
    ui::addFocusRing(this);

    connect(m_header, &HeaderRow::snapshotRequested, this, &ControlPanel::snapshotRequested);
    for (auto changed : {&ScopeSettings::displayChanged, &ScopeSettings::metersChanged})
        connect(&m_settings, changed, this, &ControlPanel::scheduleRefresh, Qt::QueuedConnection);
    connect(&m_engine, &AudioEngine::willChange, this, &ControlPanel::scheduleRefresh, Qt::QueuedConnection);
    applyIcons();
    refresh();
}

void ControlPanel::scheduleRefresh()
{
    m_refreshCall.request();
}

void ControlPanel::refresh()
{
    refreshControls();
    refreshEngine();
    refreshMeters();
}

void ControlPanel::refreshControls()
{
    const ShownControls now{m_settings.values(), m_settings.scopeVisible()};
    if (now == m_shownControls)
        return;
    m_shownControls = now;
    ++m_controlUpdates;
    m_header->showSettings(now.values, now.scopeVisible);
    m_sliders->showSettings(now.values);
    m_mode->showSettings(now.values);
    m_meters->showSettings(now.values);
    followBufferSize();
}

void ControlPanel::refreshEngine()
{
    const bool file = m_engine.selectedDeviceID() == AudioDeviceInfo::kFileID;
    const ShownEngine now{m_engine.sampleRate(), m_engine.isRunning(), m_engine.lastError(), file,
                          m_engine.filePath(), m_engine.fileLooping(), m_engine.fileMuted()};
    if (now == m_shownEngine)
        return;
    m_shownEngine = now;
    m_header->showEngine(now.sampleRate, now.running, now.error, file);
    m_transport->setVisible(file);
    if (file)
        m_transport->showEngine();
}

void ControlPanel::refreshMeters()
{
    const float rate = m_settings.rhythmMatchRate();
    const float kx = displayValue(m_settings.kxScaleMode(), m_settings.expansionPressure(),
                                   m_settings.signalDensity());
    const ShownMeters now{rate, kx, m_settings.phaseCorrelation()};
    if (now == m_shownMeters)
        return;
    m_shownMeters = now;
    m_meters->showMeters(rate, kx);
    m_header->showCorrelation(now.correlation);
}

void ControlPanel::followBufferSize()
{
    // The engine takes a new size at its next start: restart it once when
    // capture runs, otherwise only hand it the size. A size beyond the int
    // range (a hand-edited preset) is held to it, so it compares equal the
    // next time instead of restarting capture on every refresh.
    const int size = static_cast<int>(std::clamp<int64_t>(m_settings.audioBufferSize(), INT_MIN, INT_MAX));
    if (size == m_engine.bufferSize())
        return;
    m_engine.setBufferSize(size);
    if (m_engine.isRunning()) {
        m_engine.stop();
        m_engine.start();
    }
}

void ControlPanel::applyIcons()
{
    // Drawn for the panel's device pixel ratio, again when a new screen gives another.
    m_iconRatio = devicePixelRatioF();
    m_header->applyIcons(m_iconRatio);
    m_meters->applyIcons(m_iconRatio);
}

bool ControlPanel::event(QEvent* event)
{
    if (ui::isPixelRatioChange(event) && devicePixelRatioF() != m_iconRatio)
        applyIcons();
    return QWidget::event(event);
}

void ControlPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit backgroundDoubleClicked();
    event->accept();
}

void ControlPanel::showSnapshotResult(const std::optional<QString>& path) { m_header->showSnapshotResult(path); }

void ControlPanel::showNote(const QString& text, const QString& tip, bool ok) { m_header->showNote(text, tip, ok); }
void ControlPanel::openSaveDialog() { m_meters->presets()->openSaveDialog(); }
void ControlPanel::confirmDelete(const QString& name) { m_meters->presets()->confirmDelete(name); }
void ControlPanel::saveNamedPreset(const QString& typed) { m_meters->presets()->saveNamedPreset(typed); }
int ControlPanel::presetRevision() const { return m_meters->presets()->revision(); }

SegmentedPicker* ControlPanel::displayModePicker() const { return m_header->displayModePicker(); }
QToolButton* ControlPanel::visibilityButton() const { return m_header->visibilityButton(); }
QToolButton* ControlPanel::snapshotButton() const { return m_header->snapshotButton(); }
QLabel* ControlPanel::snapshotNote() const { return m_header->snapshotNote(); }
DeviceSelector* ControlPanel::deviceSelector() const { return m_header->deviceSelector(); }
QLabel* ControlPanel::logo() const { return m_header->logo(); }
QLabel* ControlPanel::sampleRateLabel() const { return m_header->sampleRateLabel(); }
QPushButton* ControlPanel::startStopButton() const { return m_header->startStopButton(); }
QLabel* ControlPanel::errorLabel() const { return m_header->errorLabel(); }
QStackedWidget* ControlPanel::modeControls() const { return m_mode->modeControls(); }
QCheckBox* ControlPanel::triggerCheck() const { return m_mode->triggerCheck(); }
QComboBox* ControlPanel::timePicker() const { return m_mode->timePicker(); }
SegmentedPicker* ControlPanel::rotationPicker() const { return m_mode->rotationPicker(); }
SegmentedPicker* ControlPanel::filterPicker() const { return m_mode->filterPicker(); }
QComboBox* ControlPanel::upsamplingPicker() const { return m_sliders->upsamplingPopup(); }
QComboBox* ControlPanel::zInputPicker() const { return m_sliders->zInputPopup(); }
QComboBox* ControlPanel::filterFrequencyPicker() const { return m_mode->filterFrequencyPicker(); }
SegmentedPicker* ControlPanel::colorPicker() const { return m_mode->colorPicker(); }
MeterBar* ControlPanel::rhythmBar() const { return m_meters->rhythmBar(); }
QLabel* ControlPanel::rhythmText() const { return m_meters->rhythmText(); }
MeterBar* ControlPanel::kxBar() const { return m_meters->kxBar(); }
QLabel* ControlPanel::kxText() const { return m_meters->kxText(); }
QToolButton* ControlPanel::meterResetButton() const { return m_meters->meterResetButton(); }
QToolButton* ControlPanel::presetButton() const { return m_meters->presets()->presetButton(); }
QToolButton* ControlPanel::saveButton() const { return m_meters->presets()->saveButton(); }
SegmentedPicker* ControlPanel::scalePicker() const { return m_meters->scalePicker(); }
SegmentedPicker* ControlPanel::frameRatePicker() const { return m_meters->frameRatePicker(); }
SegmentedPicker* ControlPanel::bufferPicker() const { return m_meters->bufferPicker(); }

ParamSlider* ControlPanel::slider(const QString& label) const
{
    if (ParamSlider* s = m_sliders->slider(label))
        return s;
    return m_mode->slider(label, m_settings.displayMode());
}
