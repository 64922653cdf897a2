#include "ui/ControlPanel.h"

#include "UiTestSupport.h"
#include "ui/DeviceSelector.h"
#include "ui/MeterBar.h"
#include "ui/ParamSlider.h"
#include "ui/SegmentedPicker.h"
#include "ui/UiStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

struct ControlPanelTest : UiWorld {
    ControlPanel panel{engine, settings};

    void SetUp() override { panel.show(); }
    void click(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }
    void click(const QString& control) { click(find<QAbstractButton>(&panel, control)); }
    bool shown(const QString& control) { return find(&panel, control) && find(&panel, control)->isVisible(); }
    void choose(const QString& item)  // from the preset menu, rebuilt as it opens
    {
        emit panel.findChild<QMenu*>()->aboutToShow();
        find<QAction>(&panel, item)->trigger();
    }
    QJsonValue stored(const char* field) { return presetToJson(settings.snapshot("now"))->value(field); }
};

TEST_F(ControlPanelTest, EveryControlWritesItsSettingAndFollowsTheModel)
{
    const std::pair<SegmentedPicker*, const char*> pickers[] = {  // the XY page's rotation before the mode
        {panel.rotationPicker(), "xyRotation"}, {panel.filterPicker(), "displayFilterType"},
        {panel.colorPicker(), "beamColorMode"}, {panel.scalePicker(), "kxScaleMode"},
        {panel.frameRatePicker(), "frameRate"}, {panel.bufferPicker(), "audioBufferSize"},
        {panel.displayModePicker(), "displayMode"}};
    for (const auto& [picker, field] : pickers)
        for (int i = 0; i < picker->count(); ++i) {
            click(picker->button(i));
            EXPECT_EQ(stored(field).toVariant().toString(), picker->label(i)) << field;
        }
    using enum DisplayMode;  // which GAIN is shown
    const std::tuple<DisplayMode, QString, const char*, double, double> sliders[] = {
        {xy, "DECAY", "decay", 0.5, 0.99}, {xy, "INTENSITY", "intensity", 0.5, 10}, {xy, "BEAM", "beamWidth", 0.5, 5},
        {xy, "SPEED", "speedSensitivity", 0.1, 10}, {xy, "GAIN", "xyGain", 0.1, 10},
        {waveform, "GAIN", "waveformGain", 0.1, 10}, {waveform, "LEVEL", "triggerLevel", -1, 1}};
    for (const auto& [mode, label, field, low, high] : sliders) {
        settings.setDisplayMode(mode);
        panel.slider(label)->findChild<QSlider*>()->setValue(2500);  // a quarter along
        EXPECT_NEAR(stored(field).toDouble(), low + (high - low) / 4, 1e-5) << field;
    }
    test::settle();
    click("TRIG");
    click("Hide scope");
    emit panel.timePicker()->activated(3);
    EXPECT_TRUE(!settings.triggerEnabled() && !settings.scopeVisible() && settings.timePerDivision() == 10.0f);

    settings.resetToDefaults();  // and every control follows the model back
    test::settle();
    for (const auto& [picker, field] : pickers)
        EXPECT_EQ(picker->label(picker->currentIndex()), stored(field).toVariant().toString()) << field;
    for (const auto& [mode, label, field, low, high] : sliders)
        EXPECT_NEAR(panel.slider(label)->value(), stored(field).toDouble(), 1e-6) << field;
    EXPECT_TRUE(find(&panel, "Show scope") && find(panel.slider("DECAY"), "0.52"));
    EXPECT_EQ(panel.timePicker()->currentText(), "2ms");
    settings.setFrameRate(75);  // no option offers it (a hand-edited preset): none is selected
    test::settle();
    EXPECT_EQ(panel.frameRatePicker()->currentIndex(), -1);
}

TEST_F(ControlPanelTest, OnlyTheControlsThatApplyAreShown)
{
    EXPECT_TRUE(shown("ROT:") && !shown("TRIG") && !panel.filterFrequencyPicker()->isVisible());
    settings.setDisplayMode(DisplayMode::waveform);
    choose("FILTER: Air (> 12kHz)");
    test::settle();
    EXPECT_EQ(panel.findChild<QMenu*>()->actions().size(), 9);  // DEFAULT, a line, OFF, six shortcuts
    EXPECT_TRUE(!shown("ROT:") && shown("TRIG") && shown("LEVEL") && panel.filterFrequencyPicker()->isVisible());
    EXPECT_EQ(panel.filterFrequencyPicker()->currentText(), "12kHz");
    EXPECT_EQ(settings.displayFilterType(), FilterType::highpass);
    settings.setTriggerEnabled(false);
    choose("FILTER: OFF (Full Band)");  // keeps the frequency for later
    test::settle();
    EXPECT_TRUE(!shown("LEVEL") && !panel.filterFrequencyPicker()->isVisible());
    EXPECT_EQ(settings.displayFilterFrequency(), 12000.0f);
    emit panel.filterFrequencyPicker()->activated(0);
    EXPECT_EQ(settings.displayFilterFrequency(), 20.0f);
}

TEST_F(ControlPanelTest, PresetsAreSavedTrimmedAppliedAndDeleted)
{
    settings.setDecay(0.7f);
    click("SAVE");
    find(&panel, "Save Preset")->findChild<QLineEdit*>()->setText(" \tMine  ");
    click("Save");
    panel.saveNamedPreset("  \t  ");
    ASSERT_EQ(settings.savedPresets().size(), 1);
    EXPECT_EQ(settings.savedPresets()[0].name, "Mine");
    choose("DEFAULT");
    EXPECT_EQ(settings.decay(), 0.52f);
    choose("Mine");
    EXPECT_EQ(settings.decay(), 0.7f);
    choose("Delete Mine");
    EXPECT_TRUE(find(find(&panel, "Delete Preset"), "Delete \"Mine\"?"));
    click("Delete");
    EXPECT_TRUE(settings.savedPresets().empty());
    EXPECT_EQ(panel.presetRevision(), 2);  // one for each change of the list
}

TEST_F(ControlPanelTest, EngineControlsStartStopRestartOnceAndOnlySelect)
{
    QComboBox* sources = panel.deviceSelector()->picker();
    // The devices, a line, no recent file, and the way to open one.
    EXPECT_TRUE(sources->count() == 4 && sources->currentIndex() == 0 && sources->itemText(1) == "USB Microphone" &&
                sources->itemText(3) == QStringLiteral("Open File\u2026"));
    click(panel.bufferPicker()->button(4));                               // stopped: only stored
    test::settle();
    startMicrophone();
    test::settle();
    EXPECT_TRUE(sources->currentIndex() == 1 && shown("Stop") && shown("SR: 44100 Hz"));
    click(panel.bufferPicker()->button(1));
    test::settle();
    settings.setDecay(0.8f);  // neither this nor a new source restarts it
    emit sources->activated(0);
    test::settle();
    ASSERT_EQ(backend->streams.size(), 2u);
    const auto& [first, second] = std::pair(backend->streams[0], backend->streams[1]);  // stored, then restarted
    EXPECT_TRUE(first->isClosed() && first->fragmentFrames == 1024);
    EXPECT_TRUE(!second->isClosed() && second->fragmentFrames == 128);
    EXPECT_TRUE(engine.selectedDeviceID() == AudioDeviceInfo::kSystemAudioID && sources->currentIndex() == 0);
    click("Stop");
    test::settle();
    click("Start");  // now System Audio
    test::settle();
    backend->lastStream()->start(48000);
    test::settle();
    AudioBlock ahead{std::vector<float>{0, 0}.data(), 2, 2};  // the output plays it in 180 ms
    ahead.timed = true;
    ahead.heardInNs = 180'000'000;
    backend->lastStream()->deliver(ahead);
    EXPECT_TRUE(panel.deviceSelector()->sourceTip().contains("180 ms")) << panel.deviceSelector()->sourceTip().toStdString();

    click("Stop");
    backend->sources.clear();  // unplugged
    click("Refresh device list");
    backend->reachable = false;
    test::settle();
    click("Start");
    test::settle();
    EXPECT_TRUE(sources->count() == 3 && panel.errorLabel()->isVisible());
    EXPECT_EQ(panel.errorLabel()->toolTip(), engine.lastError());
}

TEST_F(ControlPanelTest, TabReachesEveryControlInReadingOrderEachWithAnAccessibleName)
{
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    auto slider = [&](const char* label) -> QWidget* { return panel.slider(label)->findChild<QSlider*>(); };
    for (DisplayMode mode : {DisplayMode::xy, DisplayMode::waveform}) {  // the filter is on in the second
        settings.setDisplayMode(mode);
        settings.setDisplayFilterType(mode == DisplayMode::xy ? FilterType::off : FilterType::lowpass);
        test::settle();
        std::vector<QWidget*> expected{panel.displayModePicker(), panel.visibilityButton(), panel.snapshotButton(),
            panel.deviceSelector()->picker(), panel.deviceSelector()->refreshButton(), panel.startStopButton(),
            slider("DECAY"), slider("INTENSITY"), slider("BEAM"), slider("SPEED"), slider("GLOW"),
            panel.upsamplingPicker(), panel.zInputPicker(),
            slider("GAIN")};
        if (mode == DisplayMode::xy)
            expected.insert(expected.end(), {panel.rotationPicker(), panel.filterPicker()});
        else
            expected.insert(expected.end(), {panel.triggerCheck(), slider("LEVEL"), panel.timePicker(),
                                             panel.filterPicker(), panel.filterFrequencyPicker()});
        expected.insert(expected.end(), {panel.colorPicker(), panel.meterResetButton(), panel.presetButton(),
            panel.saveButton(), panel.scalePicker(), panel.frameRatePicker(), panel.bufferPicker()});
        expected.front()->setFocus();
        std::vector<QWidget*> walked{QApplication::focusWidget()};
        while (walked.size() <= expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == walked.front())
                break;
            walked.push_back(QApplication::focusWidget());
        }
        EXPECT_EQ(walked, expected) << int(mode);
        for (QWidget* control : walked)
            EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
    }
}

TEST_F(ControlPanelTest, MetersShowTheirValuesInTheirTonesAndTouchNothingElse)
{
    const qint64 eye = find<QAbstractButton>(&panel, "Hide scope")->icon().cacheKey();
    settings.setKxScaleMode(KXScaleMode::mix);  // weighs 0.8 by the density 0.45
    test::settle();
    const int controlUpdates = panel.controlUpdates();
    settings.setRhythmMatchRate(0.69f);
    settings.setExpansionPressure(0.8f);
    settings.setSignalDensity(0.45f);
    settings.setPhaseCorrelation(-0.5f);
    test::settle();
    ASSERT_TRUE(find(&panel, "69%") && find(&panel, "52%") && find(&panel, "-0.50"));
    EXPECT_EQ(panel.controlUpdates(), controlUpdates);  // 20 a second: the meters alone
    EXPECT_TRUE(find(&panel, "52%")->styleSheet().contains("rgba(255, 214, 10, 0.750)"));
    EXPECT_TRUE(find(&panel, "-0.50")->styleSheet().contains("rgba(255, 69, 58, 1.000)"));
    EXPECT_EQ(std::pair(panel.rhythmBar()->fillColor(), panel.kxBar()->fillColor()),
              std::pair(QColor(255, 214, 10), QColor(255, 214, 10)));
    // A new icon on every meter update (or menu opening) leaves a new pixmap in Qt's cache each time.
    EXPECT_EQ(find<QAbstractButton>(&panel, "Hide scope")->icon().cacheKey(), eye);
    // Made once per look, and every part of the look tells icons apart: name, colour with alpha, size, pixel ratio.
    QSet<qint64> icons;
    const QColor red(Qt::red), faint(255, 0, 0, 128);
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& [name, color, size, ratio] : {std::tuple{"trash", red, 12, 1.0}, {"eye", red, 12, 1.0},
                 {"trash", faint, 12, 1.0}, {"trash", red, 16, 1.0}, {"trash", red, 12, 1.5}, {"trash", red, 12, 2.0}})
            icons.insert(ui::templateIcon(name, color, size, ratio).cacheKey());
    EXPECT_EQ(icons.size(), 6);
    EXPECT_TRUE(ui::templateIcon("trash", Qt::red, 12, 1.5).availableSizes().contains(QSize(18, 18)));  // not scaled
    int resets = 0;
    settings.onResetAnalysis = [&] { ++resets; };
    click("Reset RHYTHM / KX meters");
    EXPECT_EQ(resets, 1);
}
