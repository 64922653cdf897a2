#include "ui/ControlPanel.h"

#include "audio/AudioEngine.h"
#include "settings/ScopeSettings.h"
#include "ui/DeviceSelector.h"
#include "ui/Formatting.h"
#include "ui/MeterBar.h"
#include "ui/ParamSlider.h"
#include "ui/SegmentedPicker.h"
#include "ui/UiStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kInset = 16;
constexpr int kSnapshotNoteMs = 4000;

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QLabel* grayLabel(const QString& text, int pixelSize, QFont::Weight weight, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(ui::monoFont(pixelSize, weight));
    label->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kGray)));
    return label;
}

QComboBox* smallPopup(int width, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setFixedWidth(width);
    box->setFont(ui::monoFont(10));
    box->setFocusPolicy(Qt::TabFocus);
    return box;
}

// Index of `value` in a table, or -1: a preset may hold a value the panel
// does not offer, and then no option is shown as selected.
template <typename Table, typename T>
int indexIn(const Table& table, T value)
{
    int i = 0;
    for (const auto& option : table) {
        if (option == value)
            return i;
        ++i;
    }
    return -1;
}

// Trims spaces and tabs (only those) from both ends.
QString trimSpacesAndTabs(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// Sets a label's text colour through its style sheet, only when it changes:
// a new style sheet repolishes the widget.
void setColorStyle(QLabel* label, const QColor& color)
{
    const QString sheet = QStringLiteral("color: %1;").arg(ui::css(color));
    if (label->styleSheet() != sheet)
        label->setStyleSheet(sheet);
}

QPixmap logoPixmap(int height, qreal ratio)
{
    QSvgRenderer svg(QStringLiteral(":/orvalen/logo.svg"));
    const QSizeF natural = svg.defaultSize();
    const int width = qRound(natural.width() * height / natural.height());
    QImage image(QSize(width, height) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    // A template: the shape in white at 30 % opacity.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), QColor(255, 255, 255, 77));
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

}  // namespace

ControlPanel::ControlPanel(AudioEngine& engine, ScopeSettings& settings, QWidget* parent)
    : QWidget(parent), m_engine(engine), m_settings(settings), m_appliedBufferSize(settings.audioBufferSize())
{
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(kInset, 5 + 6, kInset, 5 + 6);
    rows->setSpacing(6);
    rows->addLayout(buildHeaderRow());
    rows->addLayout(buildSliderRow());
    rows->addLayout(buildModeRow());
    rows->addLayout(buildMeterRow());

    // The faint logo hangs from the top of its clear area over the rows below,
    // behind the controls and blind to the mouse.
    m_logo = new QLabel(this);
    m_logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_logo->lower();
    ui::addFocusRing(this);

    connect(&m_settings, &ScopeSettings::willChange, this, &ControlPanel::scheduleRefresh, Qt::QueuedConnection);
    connect(&m_engine, &AudioEngine::willChange, this, &ControlPanel::scheduleRefresh, Qt::QueuedConnection);
    refresh();
}

QLayout* ControlPanel::buildHeaderRow()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);

    QStringList modes;
    for (DisplayMode mode : kAllDisplayModes)
        modes << qs(rawValue(mode));
    m_displayMode = new SegmentedPicker(modes, 110, this);
    m_displayMode->setAccessibleName(QStringLiteral("Display mode"));
    connect(m_displayMode, &SegmentedPicker::activated, this,
            [this](int i) { m_settings.setDisplayMode(kAllDisplayModes[static_cast<size_t>(i)]); });
    row->addWidget(m_displayMode);

    m_visibility = new QToolButton(this);
    m_visibility->setAutoRaise(true);
    m_visibility->setIconSize(QSize(14, 14));
    m_visibility->setFocusPolicy(Qt::TabFocus);
    connect(m_visibility, &QToolButton::clicked, this,
            [this] { m_settings.setScopeVisible(!m_settings.scopeVisible()); });
    row->addWidget(m_visibility);

    m_snapshot = new QToolButton(this);
    m_snapshot->setAutoRaise(true);
    m_snapshot->setIconSize(QSize(14, 14));
    m_snapshot->setFocusPolicy(Qt::TabFocus);
    m_snapshot->setToolTip(QStringLiteral("Save a snapshot of the scope (Ctrl+S)"));
    m_snapshot->setAccessibleName(QStringLiteral("Save snapshot"));
    connect(m_snapshot, &QToolButton::clicked, this, &ControlPanel::snapshotRequested);
    row->addWidget(m_snapshot);

    m_devices = new DeviceSelector(m_engine, this);
    row->addWidget(m_devices);
    row->addStretch(1);

    m_logoArea = new QWidget(this);
    m_logoArea->setFixedWidth(180);
    m_logoArea->installEventFilter(this);
    row->addWidget(m_logoArea);
    row->addStretch(1);

    // The snapshot note keeps its place while hidden, so the logo never moves.
    m_snapshotNote = grayLabel(QString(), 10, QFont::Normal, this);
    m_snapshotNote->setFixedWidth(240);
    m_snapshotNote->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QSizePolicy keepPlace = m_snapshotNote->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_snapshotNote->setSizePolicy(keepPlace);
    m_snapshotNote->hide();
    m_snapshotNoteTimer = new QTimer(this);
    m_snapshotNoteTimer->setSingleShot(true);
    m_snapshotNoteTimer->setInterval(kSnapshotNoteMs);
    connect(m_snapshotNoteTimer, &QTimer::timeout, m_snapshotNote, &QWidget::hide);
    row->addWidget(m_snapshotNote);

    m_sampleRate = grayLabel(QString(), 10, QFont::Normal, this);
    row->addWidget(m_sampleRate);

    m_startStop = new QPushButton(this);
    m_startStop->setFixedWidth(60);
    m_startStop->setFont(ui::monoFont(10));
    m_startStop->setFocusPolicy(Qt::TabFocus);
    m_startStop->setAccessibleName(QStringLiteral("Start or stop capture"));
    connect(m_startStop, &QPushButton::clicked, this, [this] {
        if (m_engine.isRunning())
            m_engine.stop();
        else
            m_engine.start();
    });
    row->addWidget(m_startStop);

    m_error = new QLabel(this);
    m_error->setFont(ui::monoFont(10));
    m_error->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kRed)));
    m_error->setMaximumWidth(260);
    m_error->setTextFormat(Qt::PlainText);
    row->addWidget(m_error);
    return row;
}

QLayout* ControlPanel::buildSliderRow()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    auto add = [&](ParamSlider*& slider, const char* label, float lo, float hi, void (ScopeSettings::*set)(float)) {
        slider = new ParamSlider(QString::fromLatin1(label), lo, hi, this);
        connect(slider, &ParamSlider::valueEdited, this, [this, set](float v) { (m_settings.*set)(v); });
        row->addWidget(slider, 1);
    };
    add(m_decay, "DECAY", 0.5f, 0.99f, &ScopeSettings::setDecay);
    add(m_intensity, "INTENSITY", 0.5f, 10.0f, &ScopeSettings::setIntensity);
    add(m_beamWidth, "BEAM", 0.5f, 5.0f, &ScopeSettings::setBeamWidth);
    add(m_speed, "SPEED", 0.1f, 10.0f, &ScopeSettings::setSpeedSensitivity);
    return row;
}

QLayout* ControlPanel::buildModeRow()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);

    // Two pages of mode controls in a fixed 460-point group.
    m_modeControls = new QStackedWidget(this);
    m_modeControls->setFixedSize(460, 30);

    auto* waveform = new QWidget(m_modeControls);
    auto* w = new QHBoxLayout(waveform);
    w->setContentsMargins(0, 0, 0, 0);
    w->setSpacing(8);
    m_waveformGain = new ParamSlider(QStringLiteral("GAIN"), 0.1f, 10.0f, waveform);
    m_waveformGain->setFixedWidth(120);
    connect(m_waveformGain, &ParamSlider::valueEdited, this, [this](float v) { m_settings.setWaveformGain(v); });
    m_trigger = new QCheckBox(QStringLiteral("TRIG"), waveform);
    m_trigger->setFont(ui::monoFont(9, QFont::Medium));
    m_trigger->setFocusPolicy(Qt::TabFocus);
    m_trigger->setAccessibleName(QStringLiteral("Trigger"));
    QPalette gray = m_trigger->palette();  // the gray of the other labels, through no style sheet
    gray.setColor(QPalette::WindowText, ui::kGray);
    m_trigger->setPalette(gray);
    connect(m_trigger, &QCheckBox::clicked, this, [this](bool on) { m_settings.setTriggerEnabled(on); });
    m_triggerLevel = new ParamSlider(QStringLiteral("LEVEL"), -1.0f, 1.0f, waveform);
    m_triggerLevel->setFixedWidth(100);
    connect(m_triggerLevel, &ParamSlider::valueEdited, this, [this](float v) { m_settings.setTriggerLevel(v); });
    m_time = smallPopup(100, waveform);
    m_time->setAccessibleName(QStringLiteral("Time per division"));
    for (float t : ScopeSettings::timeDivOptions)
        m_time->addItem(formatTimeDivision(t), t);
    connect(m_time, &QComboBox::activated, this,
            [this](int i) { m_settings.setTimePerDivision(m_time->itemData(i).toFloat()); });
    w->addWidget(m_waveformGain);
    w->addWidget(m_trigger);
    w->addWidget(m_triggerLevel);
    w->addWidget(grayLabel(QStringLiteral("TIME:"), 9, QFont::Medium, waveform));
    w->addWidget(m_time);
    w->addStretch(1);

    auto* xy = new QWidget(m_modeControls);
    auto* x = new QHBoxLayout(xy);
    x->setContentsMargins(0, 0, 0, 0);
    x->setSpacing(8);
    m_xyGain = new ParamSlider(QStringLiteral("GAIN"), 0.1f, 10.0f, xy);
    m_xyGain->setFixedWidth(120);
    connect(m_xyGain, &ParamSlider::valueEdited, this, [this](float v) { m_settings.setXyGain(v); });
    QStringList rotations;
    for (XYRotation r : kAllXYRotations)
        rotations << qs(rawValue(r));
    m_rotation = new SegmentedPicker(rotations, 80, xy);
    m_rotation->setAccessibleName(QStringLiteral("XY rotation"));
    connect(m_rotation, &SegmentedPicker::activated, this,
            [this](int i) { m_settings.setXyRotation(kAllXYRotations[static_cast<size_t>(i)]); });
    x->addWidget(m_xyGain);
    x->addWidget(grayLabel(QStringLiteral("ROT:"), 9, QFont::Medium, xy));
    x->addWidget(m_rotation);
    x->addStretch(1);

    m_modeControls->addWidget(xy);        // page 0: DisplayMode::xy
    m_modeControls->addWidget(waveform);  // page 1: DisplayMode::waveform
    row->addWidget(m_modeControls);

    row->addWidget(grayLabel(QStringLiteral("FILTER:"), 9, QFont::Medium, this));
    QStringList filters;
    for (FilterType f : kAllFilterTypes)
        filters << qs(rawValue(f));
    m_filter = new SegmentedPicker(filters, 140, this);
    m_filter->setAccessibleName(QStringLiteral("Display filter"));
    connect(m_filter, &SegmentedPicker::activated, this,
            [this](int i) { m_settings.setDisplayFilterType(kAllFilterTypes[static_cast<size_t>(i)]); });
    row->addWidget(m_filter);
    m_filterFrequency = smallPopup(80, this);
    m_filterFrequency->setAccessibleName(QStringLiteral("Filter frequency"));
    for (float f : ScopeSettings::filterFreqOptions)
        m_filterFrequency->addItem(formatFreq(f), f);
    connect(m_filterFrequency, &QComboBox::activated, this,
            [this](int i) { m_settings.setDisplayFilterFrequency(m_filterFrequency->itemData(i).toFloat()); });
    row->addWidget(m_filterFrequency);
    row->addStretch(1);

    row->addWidget(grayLabel(QStringLiteral("COLOR:"), 9, QFont::Medium, this));
    QStringList colors;
    for (BeamColorMode c : kAllBeamColorModes)
        colors << qs(rawValue(c));
    m_color = new SegmentedPicker(colors, 160, this);
    m_color->setAccessibleName(QStringLiteral("Beam colour"));
    connect(m_color, &SegmentedPicker::activated, this,
            [this](int i) { m_settings.setBeamColorMode(kAllBeamColorModes[static_cast<size_t>(i)]); });
    row->addWidget(m_color);
    return row;
}

QLayout* ControlPanel::buildMeterRow()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->setAlignment(Qt::AlignBottom);

    // Fixed sizes: a new percentage then repaints its label without laying
    // out the whole panel again, 20 times a second.
    row->addWidget(grayLabel(QStringLiteral("RHYTHM:"), 9, QFont::Normal, this), 0, Qt::AlignBottom);
    m_rhythmBar = new MeterBar(this);
    row->addWidget(m_rhythmBar, 0, Qt::AlignBottom);
    m_rhythmText = new QLabel(this);
    m_rhythmText->setFont(ui::monoFont(10));
    m_rhythmText->setFixedSize(36, m_rhythmText->fontMetrics().height());
    row->addWidget(m_rhythmText, 0, Qt::AlignBottom);
    row->addSpacing(10);

    row->addWidget(grayLabel(QStringLiteral("KX:"), 9, QFont::Normal, this), 0, Qt::AlignBottom);
    m_kxBar = new MeterBar(this);
    row->addWidget(m_kxBar, 0, Qt::AlignBottom);
    m_kxText = new QLabel(this);
    m_kxText->setFont(ui::monoFont(10));
    m_kxText->setFixedSize(36, m_kxText->fontMetrics().height());
    row->addWidget(m_kxText, 0, Qt::AlignBottom);

    m_meterReset = new QToolButton(this);
    m_meterReset->setAutoRaise(true);
    m_meterReset->setIconSize(QSize(10, 10));
    m_meterReset->setToolTip(QStringLiteral("Reset RHYTHM / KX meters"));
    m_meterReset->setAccessibleName(QStringLiteral("Reset meters"));
    m_meterReset->setFocusPolicy(Qt::TabFocus);
    connect(m_meterReset, &QToolButton::clicked, this, [this] {
        if (m_settings.onResetAnalysis)
            m_settings.onResetAnalysis();
    });
    row->addWidget(m_meterReset);
    row->addStretch(1);

    m_presetMenu = new QToolButton(this);
    m_presetMenu->setText(QStringLiteral("PRESET"));
    m_presetMenu->setFont(ui::monoFont(9, QFont::Medium));
    m_presetMenu->setIconSize(QSize(7, 7));
    m_presetMenu->setAccessibleName(QStringLiteral("Presets"));
    m_presetMenu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_presetMenu->setLayoutDirection(Qt::RightToLeft);  // chevron after the text
    m_presetMenu->setPopupMode(QToolButton::InstantPopup);
    m_presetMenu->setAutoRaise(true);
    m_presetMenu->setFocusPolicy(Qt::TabFocus);
    m_presetMenu->setStyleSheet(QStringLiteral("QToolButton { color: #d8d8da; }"
                                               "QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* menu = new QMenu(m_presetMenu);
    m_presetMenu->setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, &ControlPanel::rebuildPresetMenu);
    row->addWidget(m_presetMenu);

    m_save = new QToolButton(this);
    m_save->setText(QStringLiteral("SAVE"));
    m_save->setFont(ui::monoFont(9, QFont::Medium));
    m_save->setAutoRaise(true);
    m_save->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kGray)));
    m_save->setToolTip(QStringLiteral("Save current settings as preset"));
    m_save->setAccessibleName(m_save->toolTip());
    m_save->setFocusPolicy(Qt::TabFocus);
    connect(m_save, &QToolButton::clicked, this, &ControlPanel::openSaveDialog);
    row->addWidget(m_save);
    row->addStretch(1);

    row->addWidget(grayLabel(QStringLiteral("SCALE"), 9, QFont::Medium, this));
    QStringList scales;
    for (KXScaleMode m : kAllKXScaleModes)
        scales << qs(rawValue(m));
    m_scale = new SegmentedPicker(scales, 130, this);
    m_scale->setAccessibleName(QStringLiteral("KX scale"));
    connect(m_scale, &SegmentedPicker::activated, this,
            [this](int i) { m_settings.setKxScaleMode(kAllKXScaleModes[static_cast<size_t>(i)]); });
    row->addWidget(m_scale);

    row->addWidget(grayLabel(QStringLiteral("FPS"), 9, QFont::Medium, this));
    QStringList rates;
    for (auto r : ScopeSettings::frameRateOptions)
        rates << QString::number(r);
    m_frameRate = new SegmentedPicker(rates, 100, this);
    m_frameRate->setAccessibleName(QStringLiteral("Frame rate"));
    connect(m_frameRate, &SegmentedPicker::activated, this, [this](int i) {
        m_settings.setFrameRate(ScopeSettings::frameRateOptions[static_cast<size_t>(i)]);
    });
    row->addWidget(m_frameRate);

    row->addWidget(grayLabel(QStringLiteral("BUFFER"), 9, QFont::Medium, this));
    QStringList sizes;
    for (auto s : ScopeSettings::bufferSizeOptions)
        sizes << QString::number(s);
    m_buffer = new SegmentedPicker(sizes, 170, this);
    m_buffer->setAccessibleName(QStringLiteral("Audio buffer size"));
    connect(m_buffer, &SegmentedPicker::activated, this, [this](int i) {
        m_settings.setAudioBufferSize(ScopeSettings::bufferSizeOptions[static_cast<size_t>(i)]);
    });
    row->addWidget(m_buffer);
    row->addSpacing(20);
    return row;
}

void ControlPanel::rebuildPresetMenu()
{
    QMenu* menu = m_presetMenu->menu();
    menu->clear();
    menu->addAction(QStringLiteral("DEFAULT"), this, [this] { m_settings.resetToDefaults(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("FILTER: OFF (Full Band)"), this,
                    [this] { m_settings.setDisplayFilterType(FilterType::off); });
    for (const auto& preset : ScopeSettings::factoryFilterPresets) {
        const FilterType type = preset.type;
        const float frequency = preset.frequency;
        menu->addAction(QStringLiteral("FILTER: ") + qs(preset.label), this, [this, type, frequency] {
            m_settings.setDisplayFilterType(type);
            m_settings.setDisplayFilterFrequency(frequency);
        });
    }
    const auto presets = m_settings.savedPresets();
    if (presets.empty())
        return;
    menu->addSeparator();
    for (const auto& preset : presets)
        menu->addAction(preset.name, this, [this, preset] { m_settings.applyPreset(preset); });
    menu->addSeparator();
    const QIcon trash = ui::templateIcon(QStringLiteral("trash"), ui::kRed, 12, devicePixelRatioF());
    for (const auto& preset : presets) {
        QAction* action = menu->addAction(trash, QStringLiteral("Delete ") + preset.name);
        const QString name = preset.name;
        connect(action, &QAction::triggered, this, [this, name] { confirmDelete(name); });
    }
}

void ControlPanel::openSaveDialog()
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("savePresetDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Save Preset"));
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(QStringLiteral("Enter a name for this preset."), dialog));
    auto* name = new QLineEdit(dialog);
    name->setPlaceholderText(QStringLiteral("Preset name"));
    layout->addWidget(name);
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, name] { saveNamedPreset(name->text()); });
    dialog->open();
}

void ControlPanel::saveNamedPreset(const QString& typed)
{
    const QString name = trimSpacesAndTabs(typed);
    if (name.isEmpty())
        return;
    m_settings.savePreset(name);
    ++m_presetRevision;
}

void ControlPanel::confirmDelete(const QString& name)
{
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("deletePresetDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Delete Preset"));
    box->setText(QStringLiteral("Delete \"%1\"?").arg(name));
    box->setIcon(QMessageBox::Warning);
    QPushButton* remove = box->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    connect(remove, &QPushButton::clicked, this, [this, name] {
        m_settings.deletePreset(name);
        ++m_presetRevision;
    });
    box->open();
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
    const ScopeSettings& s = m_settings;
    const ShownControls now{s.displayMode(), s.scopeVisible(), s.decay(), s.intensity(), s.beamWidth(),
                            s.speedSensitivity(), s.waveformGain(), s.triggerEnabled(), s.triggerLevel(),
                            s.timePerDivision(), s.xyGain(), s.xyRotation(), s.displayFilterType(),
                            s.displayFilterFrequency(), s.beamColorMode(), s.kxScaleMode(), s.frameRate(),
                            s.audioBufferSize()};
    if (now == m_shownControls)
        return;
    const bool eyeChanged = !m_shownControls || m_shownControls->scopeVisible != now.scopeVisible;
    m_shownControls = now;
    ++m_controlUpdates;

    m_displayMode->setCurrentIndex(indexIn(kAllDisplayModes, now.mode));
    if (eyeChanged)
        applyIcons();
    m_decay->setValue(now.decay);
    m_intensity->setValue(now.intensity);
    m_beamWidth->setValue(now.beamWidth);
    m_speed->setValue(now.speed);

    m_modeControls->setCurrentIndex(now.mode == DisplayMode::waveform ? 1 : 0);
    m_waveformGain->setValue(now.waveformGain);
    m_trigger->setChecked(now.trigger);
    m_triggerLevel->setVisible(now.trigger);
    m_triggerLevel->setValue(now.triggerLevel);
    {
        const QSignalBlocker block(m_time);
        m_time->setCurrentIndex(indexIn(ScopeSettings::timeDivOptions, now.timePerDivision));
    }
    m_xyGain->setValue(now.xyGain);
    m_rotation->setCurrentIndex(indexIn(kAllXYRotations, now.rotation));

    m_filter->setCurrentIndex(indexIn(kAllFilterTypes, now.filter));
    m_filterFrequency->setVisible(now.filter != FilterType::off);
    {
        const QSignalBlocker block(m_filterFrequency);
        m_filterFrequency->setCurrentIndex(indexIn(ScopeSettings::filterFreqOptions, now.filterFrequency));
    }
    m_color->setCurrentIndex(indexIn(kAllBeamColorModes, now.color));

    m_scale->setCurrentIndex(indexIn(kAllKXScaleModes, now.scale));
    m_frameRate->setCurrentIndex(indexIn(ScopeSettings::frameRateOptions, now.frameRate));
    m_buffer->setCurrentIndex(indexIn(ScopeSettings::bufferSizeOptions, now.bufferSize));
    followBufferSize();
}

void ControlPanel::refreshEngine()
{
    const ShownEngine now{m_engine.sampleRate(), m_engine.isRunning(), m_engine.lastError()};
    if (now == m_shownEngine)
        return;
    m_shownEngine = now;
    m_sampleRate->setText(formatSampleRate(now.sampleRate));
    m_startStop->setText(now.running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_error->setVisible(!now.error.isEmpty());
    m_error->setText(m_error->fontMetrics().elidedText(now.error, Qt::ElideRight, m_error->maximumWidth()));
    m_error->setToolTip(now.error);
}

void ControlPanel::refreshMeters()
{
    const float rate = m_settings.rhythmMatchRate();
    const float kx = displayValue(m_settings.kxScaleMode(), m_settings.expansionPressure(),
                                   m_settings.signalDensity());
    const ShownMeters now{rate, kx};
    if (now == m_shownMeters)
        return;
    m_shownMeters = now;
    m_rhythmBar->setValue(rate, ui::toneColor(rhythmTone(rate)));
    m_rhythmText->setText(formatPercent(rate));
    setColorStyle(m_rhythmText, ui::toneColor(rhythmTone(rate)));
    m_kxBar->setValue(kx, ui::toneColor(kxBarTone(kx)));
    m_kxText->setText(formatPercent(kx));
    setColorStyle(m_kxText, ui::toneColor(kxTextTone(kx)));
}

void ControlPanel::applyIcons()
{
    // Drawn for the panel's device pixel ratio, again when a new screen gives another.
    const qreal ratio = devicePixelRatioF();
    m_iconRatio = ratio;
    const bool visible = m_settings.scopeVisible();
    m_visibility->setIcon(ui::templateIcon(visible ? QStringLiteral("eye") : QStringLiteral("eye.slash"),
                                           visible ? ui::kGray : ui::kOrange, 12, ratio));
    m_visibility->setToolTip(visible ? QStringLiteral("Hide scope") : QStringLiteral("Show scope"));
    m_visibility->setAccessibleName(m_visibility->toolTip());
    m_snapshot->setIcon(ui::templateIcon(QStringLiteral("camera"), ui::kGray, 12, ratio));
    m_meterReset->setIcon(ui::templateIcon(QStringLiteral("arrow.counterclockwise"), ui::kGray, 10, ratio));
    m_presetMenu->setIcon(ui::templateIcon(QStringLiteral("chevron.down"), QColor(216, 216, 218), 7, ratio));
    m_logo->setPixmap(logoPixmap(90, ratio));
    m_logo->adjustSize();
    placeLogo();
}

void ControlPanel::showSnapshotResult(const std::optional<QString>& path)
{
    const QString text = path ? QStringLiteral("Saved ") + QFileInfo(*path).fileName()
                              : QStringLiteral("Snapshot could not be saved");
    m_snapshotNote->setText(
        m_snapshotNote->fontMetrics().elidedText(text, Qt::ElideMiddle, m_snapshotNote->width()));
    m_snapshotNote->setToolTip(path ? *path
                                    : QStringLiteral("No picture to take (no OpenGL), or the Pictures folder "
                                                     "is not writable."));
    m_snapshotNote->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(path ? ui::kGray : ui::kRed)));
    m_snapshotNote->show();
    m_snapshotNoteTimer->start();
}

void ControlPanel::followBufferSize()
{
    // The engine takes a new size at its next start: restart it once when
    // capture runs, otherwise only store the size.
    const long long size = m_settings.audioBufferSize();
    if (size == m_appliedBufferSize)
        return;
    m_appliedBufferSize = size;
    m_engine.setBufferSize(static_cast<int>(size));
    if (m_engine.isRunning()) {
        m_engine.stop();
        m_engine.start();
    }
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

bool ControlPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The logo follows its clear area whenever the layout moves it.
    if (watched == m_logoArea && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeLogo();
    return QWidget::eventFilter(watched, event);
}

void ControlPanel::placeLogo()
{
    if (!m_logo || !m_logoArea)
        return;
    const QRect area = m_logoArea->geometry();
    m_logo->move(area.center().x() - m_logo->width() / 2, area.top() - 2);
}

ParamSlider* ControlPanel::slider(const QString& label) const
{
    for (ParamSlider* s : {m_decay, m_intensity, m_beamWidth, m_speed})
        if (s->label() == label)
            return s;
    if (label == QStringLiteral("LEVEL"))
        return m_triggerLevel;
    if (label == QStringLiteral("GAIN"))
        return m_settings.displayMode() == DisplayMode::waveform ? m_waveformGain : m_xyGain;
    return nullptr;
}
