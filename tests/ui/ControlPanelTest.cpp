#include "ui/ControlPanel.h"

#include "UiTestSupport.h"
#include "ui/DeviceSelector.h"
#include "ui/MeterBar.h"
#include "ui/ParamSlider.h"
#include "ui/SegmentedPicker.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

struct ControlPanelTest : ::testing::Test {
    UiWorld world;
    ScopeSettings& settings = world.settings;
    AudioEngine& engine = world.engine;
    ControlPanel panel{world.engine, world.settings};

    void SetUp() override
    {
        panel.resize(1020, 200);
        panel.show();
        settle();
    }

    void click(SegmentedPicker* picker, int index) { QTest::mouseClick(picker->button(index), Qt::LeftButton); }

    // Drags a parameter slider to the fraction `t` of its range.
    void drag(ParamSlider* slider, double t)
    {
        auto* knob = slider->findChild<QSlider*>();
        knob->setValue(static_cast<int>(t * knob->maximum()));
    }

    QAction* menuAction(const QString& text)
    {
        QMenu* menu = panel.presetButton()->menu();
        emit menu->aboutToShow();
        for (QAction* action : menu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    QStringList menuTexts()
    {
        QMenu* menu = panel.presetButton()->menu();
        emit menu->aboutToShow();
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("---") : action->text());
        return texts;
    }

    QStringList presetNames() const
    {
        QStringList names;
        for (const auto& p : settings.savedPresets())
            names << p.name;
        return names;
    }

    // Starts the engine on the fake input device and lets its stream start.
    void startEngine()
    {
        engine.setSelectedDeviceID(engine.devices().back().id);
        engine.start();
        settle();
        ASSERT_TRUE(world.backend->lastStream());
        world.backend->lastStream()->start(44100.0);
        ASSERT_TRUE(waitFor([&] { return engine.isRunning(); }, 2000));
    }
};

}  // namespace

TEST_F(ControlPanelTest, ControlsWriteTheModelAndFollowItBack)
{
    click(panel.displayModePicker(), 1);
    EXPECT_EQ(settings.displayMode(), DisplayMode::waveform);
    settings.setDisplayMode(DisplayMode::xy);
    settle();
    EXPECT_EQ(panel.displayModePicker()->currentIndex(), 0);

    drag(panel.slider(QStringLiteral("DECAY")), 1.0);
    EXPECT_FLOAT_EQ(settings.decay(), 0.99f);
    settings.setDecay(0.75f);
    settle();
    EXPECT_FLOAT_EQ(panel.slider(QStringLiteral("DECAY"))->value(), 0.75f);
    EXPECT_EQ(panel.slider(QStringLiteral("DECAY"))->findChildren<QLabel*>().back()->text(), "0.75");

    drag(panel.slider(QStringLiteral("INTENSITY")), 0.0);
    EXPECT_FLOAT_EQ(settings.intensity(), 0.5f);
    drag(panel.slider(QStringLiteral("SPEED")), 0.5);
    EXPECT_NEAR(settings.speedSensitivity(), 5.05f, 1e-4f);

    click(panel.colorPicker(), 1);
    EXPECT_EQ(settings.beamColorMode(), BeamColorMode::amber);
    click(panel.scalePicker(), 2);
    EXPECT_EQ(settings.kxScaleMode(), KXScaleMode::mix);
    click(panel.frameRatePicker(), 1);
    EXPECT_EQ(settings.frameRate(), 60);
    click(panel.rotationPicker(), 0);
    EXPECT_EQ(settings.xyRotation(), XYRotation::deg0);

    // A value no option offers (from a hand-edited preset) selects nothing.
    settings.setFrameRate(75);
    settle();
    EXPECT_EQ(panel.frameRatePicker()->currentIndex(), -1);

    // Scope visibility: the eye toggles and its tooltip follows.
    QTest::mouseClick(panel.visibilityButton(), Qt::LeftButton);
    EXPECT_FALSE(settings.scopeVisible());
    settle();
    EXPECT_EQ(panel.visibilityButton()->toolTip(), "Show scope");
}

TEST_F(ControlPanelTest, ModeAndTriggerSwapTheirControls)
{
    EXPECT_EQ(panel.modeControls()->currentIndex(), 0);  // XY: GAIN + ROT
    settings.setDisplayMode(DisplayMode::waveform);
    settle();
    EXPECT_EQ(panel.modeControls()->currentIndex(), 1);  // Scope: GAIN, TRIG, LEVEL, TIME
    EXPECT_FALSE(panel.slider(QStringLiteral("LEVEL"))->isHidden());

    QTest::mouseClick(panel.triggerCheck(), Qt::LeftButton);
    EXPECT_FALSE(settings.triggerEnabled());
    settle();
    EXPECT_TRUE(panel.slider(QStringLiteral("LEVEL"))->isHidden());

    QComboBox* time = panel.timePicker();
    ASSERT_EQ(time->count(), 9);
    EXPECT_EQ(time->itemText(0), "1ms");
    EXPECT_EQ(time->itemText(8), "500ms");
    emit time->activated(3);
    EXPECT_FLOAT_EQ(settings.timePerDivision(), 10.0f);

    drag(panel.slider(QStringLiteral("GAIN")), 1.0);
    EXPECT_FLOAT_EQ(settings.waveformGain(), 10.0f);
    EXPECT_FLOAT_EQ(settings.xyGain(), 1.0f);
}

TEST_F(ControlPanelTest, FilterPickerAndShortcuts)
{
    EXPECT_TRUE(panel.filterFrequencyPicker()->isHidden());  // OFF by default

    EXPECT_EQ(menuTexts(), (QStringList{"DEFAULT", "---", "FILTER: OFF (Full Band)",
                                        "FILTER: Sub Bass (< 100Hz)", "FILTER: Bass (< 300Hz)",
                                        "FILTER: Low-Mid (< 1kHz)", "FILTER: Hi-Mid (> 1kHz)",
                                        "FILTER: Treble (> 5kHz)", "FILTER: Air (> 12kHz)"}));

    menuAction(QStringLiteral("FILTER: Air (> 12kHz)"))->trigger();
    EXPECT_EQ(settings.displayFilterType(), FilterType::highpass);
    EXPECT_FLOAT_EQ(settings.displayFilterFrequency(), 12000.0f);
    settle();
    EXPECT_FALSE(panel.filterFrequencyPicker()->isHidden());
    EXPECT_EQ(panel.filterFrequencyPicker()->currentText(), "12kHz");

    click(panel.filterPicker(), 0);  // OFF hides the picker but keeps the frequency
    settle();
    EXPECT_EQ(settings.displayFilterType(), FilterType::off);
    EXPECT_TRUE(panel.filterFrequencyPicker()->isHidden());
    EXPECT_FLOAT_EQ(settings.displayFilterFrequency(), 12000.0f);

    click(panel.filterPicker(), 3);
    emit panel.filterFrequencyPicker()->activated(0);
    EXPECT_EQ(settings.displayFilterType(), FilterType::bandpass);
    EXPECT_FLOAT_EQ(settings.displayFilterFrequency(), 20.0f);

    settings.setDecay(0.9f);
    menuAction(QStringLiteral("DEFAULT"))->trigger();
    EXPECT_FLOAT_EQ(settings.decay(), 0.52f);
    EXPECT_EQ(settings.displayFilterType(), FilterType::off);
}

TEST_F(ControlPanelTest, SavingTrimsTheNameAndIgnoresBlanks)
{
    panel.openSaveDialog();
    auto* dialog = panel.findChild<QDialog*>(QStringLiteral("savePresetDialog"));
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), "Save Preset");
    auto* field = dialog->findChild<QLineEdit*>();
    EXPECT_EQ(field->placeholderText(), "Preset name");
    field->setText(QStringLiteral(" \tMy Preset  "));
    QAbstractButton* save = nullptr;
    for (auto* b : dialog->findChild<QDialogButtonBox*>()->buttons())
        if (b->text() == "Save")
            save = b;
    ASSERT_TRUE(save);
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(presetNames(), QStringList{"My Preset"});
    EXPECT_EQ(panel.presetRevision(), 1);

    panel.saveNamedPreset(QStringLiteral("  \t  "));
    EXPECT_EQ(presetNames(), QStringList{"My Preset"});
    EXPECT_EQ(panel.presetRevision(), 1);

    // The saved preset appears in the menu and applies.
    settings.setDecay(0.61f);
    menuAction(QStringLiteral("My Preset"))->trigger();
    EXPECT_FLOAT_EQ(settings.decay(), 0.52f);
    EXPECT_TRUE(menuAction(QStringLiteral("Delete My Preset")));
}

TEST_F(ControlPanelTest, DeletingRemovesEveryPresetOfThatName)
{
    auto twin = settings.snapshot(QStringLiteral("Twin"));
    auto other = settings.snapshot(QStringLiteral("Other"));
    settings.setSavedPresets({twin, other, twin});

    menuAction(QStringLiteral("Delete Twin"))->trigger();
    auto* box = panel.findChild<QMessageBox*>(QStringLiteral("deletePresetDialog"));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->windowTitle(), "Delete Preset");
    EXPECT_EQ(box->text(), "Delete \"Twin\"?");
    QAbstractButton* remove = nullptr;
    for (auto* b : box->buttons())
        if (b->text() == "Delete")
            remove = b;
    ASSERT_TRUE(remove);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(presetNames(), QStringList{"Other"});
    EXPECT_EQ(panel.presetRevision(), 1);
}

TEST_F(ControlPanelTest, BufferSizeRestartsARunningEngineOnce)
{
    click(panel.bufferPicker(), 4);  // stopped: only stored
    settle();
    EXPECT_EQ(engine.bufferSize(), 1024);
    EXPECT_TRUE(world.backend->streams.empty());

    startEngine();
    const size_t opened = world.backend->streams.size();
    click(panel.bufferPicker(), 1);
    settle();
    EXPECT_EQ(engine.bufferSize(), 128);
    EXPECT_EQ(world.backend->streams.size(), opened + 1);  // exactly one restart
    EXPECT_TRUE(world.backend->streams[opened - 1]->isClosed());
    EXPECT_EQ(world.backend->lastStream()->fragmentFrames, 128);

    // Unrelated changes do not restart it.
    settings.setDecay(0.8f);
    settle();
    EXPECT_EQ(world.backend->streams.size(), opened + 1);
}

TEST_F(ControlPanelTest, StartStopSampleRateAndError)
{
    EXPECT_EQ(panel.startStopButton()->text(), "Start");
    EXPECT_EQ(panel.sampleRateLabel()->text(), "SR: 48000 Hz");
    EXPECT_TRUE(panel.errorLabel()->isHidden());
    startEngine();
    settle();
    EXPECT_EQ(panel.startStopButton()->text(), "Stop");
    EXPECT_EQ(panel.sampleRateLabel()->text(), "SR: 44100 Hz");
    QTest::mouseClick(panel.startStopButton(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(panel.startStopButton()->text(), "Start");

    // A lost server shows its error in the panel.
    world.backend->reachable = false;
    engine.setSelectedDeviceID(0xFFFFFFFFu);
    engine.start();
    settle();
    EXPECT_FALSE(panel.errorLabel()->isHidden());
    EXPECT_EQ(panel.errorLabel()->toolTip(), engine.lastError());
}

TEST_F(ControlPanelTest, MetersShowPercentAndColour)
{
    settings.setRhythmMatchRate(0.69f);
    settings.setExpansionPressure(0.70f);
    settle();
    EXPECT_EQ(panel.rhythmText()->text(), "69%");
    EXPECT_EQ(panel.rhythmBar()->fillColor(), QColor(255, 214, 10));  // yellow
    EXPECT_EQ(panel.kxText()->text(), "70%");
    EXPECT_TRUE(panel.kxText()->styleSheet().contains("rgba(48, 209, 88, 0.750)"));  // green at 75 %
    EXPECT_EQ(panel.kxBar()->fillColor(), QColor(48, 209, 88));

    settings.setExpansionPressure(0.40f);
    settle();
    EXPECT_EQ(panel.kxText()->text(), "40%");
    EXPECT_TRUE(panel.kxText()->styleSheet().contains("rgba(255, 69, 58, 1.000)"));
    EXPECT_EQ(panel.kxBar()->fillColor(), QColor(255, 69, 58));

    // MIX weighs the pressure by the density: 0.8 at density 0.45 shows 52%.
    settings.setKxScaleMode(KXScaleMode::mix);
    settings.setExpansionPressure(0.8f);
    settings.setSignalDensity(0.45f);
    settle();
    EXPECT_EQ(panel.kxText()->text(), "52%");

    // The reset button reaches the hook.
    int resets = 0;
    settings.onResetAnalysis = [&] { ++resets; };
    QTest::mouseClick(panel.meterResetButton(), Qt::LeftButton);
    EXPECT_EQ(resets, 1);
}

TEST_F(ControlPanelTest, DeviceSelectorOnlyChangesTheSelection)
{
    QComboBox* picker = panel.deviceSelector()->picker();
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(0), "System Audio");
    EXPECT_EQ(picker->itemText(1), "USB Microphone");
    EXPECT_EQ(picker->currentIndex(), 0);

    startEngine();
    const size_t opened = world.backend->streams.size();
    emit picker->activated(0);
    settle();
    EXPECT_EQ(engine.selectedDeviceID(), 0xFFFFFFFFu);
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(world.backend->streams.size(), opened);
    EXPECT_EQ(picker->currentIndex(), 0);

    // Unplugged and refreshed: the list and the selection follow the engine.
    world.backend->sources.clear();
    QTest::mouseClick(panel.deviceSelector()->refreshButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(picker->count(), 1);
}
