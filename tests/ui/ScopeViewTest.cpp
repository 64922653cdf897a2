#include "UiTestSupport.h"
#include "audio/StereoConversion.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeRenderer.h"
#include "ui/Snapshot.h"

#include <QGuiApplication>
#include <QEventLoop>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int kDark = qRound(beam::kBackground * 255);

int litPixels(const QImage& rgb32)
{
    int lit = 0;
    for (int y = 0; y < rgb32.height(); ++y)
        for (int x = 0; x < rgb32.width(); ++x)
            lit += rgb32.pixel(x, y) != qRgb(kDark, kDark, kDark);
    return lit;
}

// What the display server shows: the window on X11; on Wayland the whole
// output, through weston's screenshooter (weston runs with --debug).
QImage screenContent(QWidget& window)
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    QTemporaryDir dir;
    QProcess shooter;
    shooter.setWorkingDirectory(dir.path());
    shooter.start(QStringLiteral("weston-screenshooter"), {});
    shooter.waitForFinished(10000);
    const QStringList shot = QDir(dir.path()).entryList({QStringLiteral("*.png")});
    return QImage(dir.filePath(shot.value(0))).convertToFormat(QImage::Format_RGB32);
}

}  // namespace

// The scope as the window has it: a native GL window in a container widget
// (on Wayland a subsurface of the window's surface).
struct ScopeViewTest : UiWorld {
    QWidget window;
    ScopeView* view = new ScopeView(engine, settings);  // the container owns it

    void SetUp() override
    {
        (new QVBoxLayout(&window))->addWidget(QWidget::createWindowContainer(view));
        window.layout()->setContentsMargins(0, 0, 0, 0);
        window.resize(400, 300);
        if (!showScope(window, view))
            GTEST_SKIP() << "no display or no OpenGL 4.3 core context";
    }
    // Capture is stopped: these samples are all there is.
    void playHeldTone()
    {
        const auto tone = test::sine(96000, 48000.0, 380.0, 0.5);
        StereoBlockWriter().write(AudioBlock{tone.data(), 96000, 2, false}, *engine.ringBuffer());
    }
    // Spins the event loop as the app does (test::waitFor sleeps through
    // frames) until the frames stop.
    bool waitForRest()
    {
        QEventLoop loop;
        QTimer poll;
        poll.callOnTimeout([&] {
            if (!view->isAnimating())
                loop.quit();
        });
        poll.start(20);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        return !view->isAnimating();
    }
};

TEST_F(ScopeViewTest, SettingsReachTheRendererInItsUnitsAndTheFrameRateAtOnce)
{
    startMicrophone();
    settings.setTimePerDivision(10.0f);
    settings.setXyRotation(XYRotation::deg0);
    settings.setDisplayMode(DisplayMode::waveform);
    settings.setDisplayFilterType(FilterType::bandpass);
    settings.setKxScaleMode(KXScaleMode::mix);
    settings.setBeamColorMode(BeamColorMode::blue);
    settings.setTriggerChannel(1);
    settings.setDecay(0.8f);
    test::settle();
    const ScopeRenderer& r = *view->renderer();
    const ScopeFrameCore& c = r.core();
    EXPECT_EQ(c.ringBuffer, engine.ringBuffer());
    EXPECT_EQ(std::tuple(c.sampleRate, c.displaySampleCount), std::tuple(44100.0, 4410));  // ten divisions
    EXPECT_EQ(std::tuple(r.displayMode, c.displayFilterType, c.kxScaleMode, c.triggerChannel), std::tuple(1, 3, 2, 1));
    EXPECT_EQ(std::tuple(r.xyRotationAngle, r.decay, r.beamColor),
              std::tuple(0.7853981f, 0.8f, std::array{0.3f, 0.6f, 1.0f}));
    settings.setXyRotation(XYRotation::deg45);
    test::settle();
    EXPECT_EQ(r.xyRotationAngle, 0.0f);
    settings.setFrameRate(60);
    EXPECT_EQ(view->frameRate(), 60);  // at once, not through a queued update
}

TEST_F(ScopeViewTest, AnalysisResultsArriveQueuedAndHooksOutliveTheView)
{
    settings.setRhythmMatchRate(0.5f);
    settings.setExpansionPressure(0.6f);
    settings.setSignalDensity(0.7f);
    settings.setEnvelopeCurvature(0.8f);
    settings.onResetAnalysis();  // the renderer reports zeros at once; the settings hear of them later
    EXPECT_EQ(settings.rhythmMatchRate(), 0.5f);
    test::settle();
    EXPECT_EQ(std::tuple(settings.rhythmMatchRate(), settings.expansionPressure(), settings.signalDensity(),
                         settings.envelopeCurvature()), std::tuple(0, 0, 0, 0));
    const auto onRhythm = view->renderer()->core().meters().onRhythmAnalysis;
    delete view;  // the hooks it left in the settings now do nothing
    settings.onResetAnalysis();
    settings.setFrameRate(30);
    onRhythm(0.25f);  // the settings still exist: the write still lands
    test::settle();
    EXPECT_EQ(settings.rhythmMatchRate(), 0.25f);
}

TEST_F(ScopeViewTest, FramesRunWhileAnythingOnScreenCanChangeAndWakeForAMeterReset)
{
    int runs = 0;  // analysis runs, one every sixth frame
    auto& analysed = view->renderer()->core().meters().onRhythmAnalysis;
    analysed = [&, publish = analysed](float v) { ++runs, publish(v); };
    // XY with the slowest fade goes black; a waveform, redrawn from the held samples, stays.
    for (const auto& [mode, decay, blackAtRest] : {std::tuple{DisplayMode::xy, 0.99f, true},
                                                   {DisplayMode::waveform, 0.5f, false}}) {
        SCOPED_TRACE(decay);
        settings.setDisplayMode(mode);
        settings.setDecay(decay);
        settings.setIntensity(10.0f);
        settings.setFrameRate(240);
        playHeldTone();
        ASSERT_TRUE(test::waitFor([&] { return litPixels(view->grabPicture()) > 0; }, 3000));
        ASSERT_TRUE(waitForRest());
        EXPECT_EQ(litPixels(view->grabPicture()) == 0, blackAtRest);

        // The meters run again from 0 on the held samples until they settle.
        const float density = settings.signalDensity();
        ASSERT_GT(density, 0.0f);
        settings.onResetAnalysis();
        EXPECT_TRUE(view->isAnimating());
        EXPECT_TRUE(waitForRest());
        test::settle();
        EXPECT_NEAR(settings.signalDensity(), density, 1e-4f);
        for (bool visible : {false, blackAtRest}) {  // hidden, or shown again black: no wait for the slowest fade
            runs = 0, settings.setScopeVisible(visible), settings.setDecay(0.99f);
            EXPECT_TRUE(waitForRest() && runs < 10) << visible << " " << runs;
        }
    }
}

TEST_F(ScopeViewTest, TheScreenAndASnapshotShowTheFigureAsDrawn)
{
    settings.setDisplayMode(DisplayMode::waveform);  // redrawn from the held samples: a steady picture
    settings.setDecay(0.5f);
    playHeldTone();
    ASSERT_TRUE(test::waitFor([&] { return litPixels(view->grabPicture()) > 0; }, 3000));
    ASSERT_TRUE(waitForRest());
    const QImage picture = view->grabPicture();
    EXPECT_EQ(picture.size(), view->size() * view->devicePixelRatio());

    // The same pixels on screen, wherever the window is: the first place
    // where both corners are dark, as in the picture.
    const QImage screen = screenContent(window);
    const auto dark = [&](QPoint p) { return screen.valid(p) && screen.pixel(p) == qRgb(kDark, kDark, kDark); };
    int at = 0;
    const QPoint corner(picture.width() - 1, picture.height() - 1);
    for (; at < screen.width() * screen.height(); ++at)
        if (const QPoint p(at % screen.width(), at / screen.width()); dark(p) && dark(p + corner))
            break;
    ASSERT_LT(at, screen.width() * screen.height()) << qPrintable(QGuiApplication::platformName());
    EXPECT_EQ(screen.copy(QRect(QPoint(at % screen.width(), at / screen.width()), picture.size())), picture)
        << qPrintable(QGuiApplication::platformName());

    QTemporaryDir home;
    const QString name = home.filePath(QStringLiteral("Pictures/Orvalen 2026-03-04 05-06-07"));
    const QByteArray oldHome = qgetenv("HOME");
    for (const auto& [folder, expected] : {std::pair{home.path(), name + ".png"},
                                           {home.path(), name + " 2.png"},  // never over an earlier one
                                           {QStringLiteral("/proc/orvalen"), QString()}}) {  // nothing can be made
        SCOPED_TRACE(qPrintable(expected));
        qputenv("HOME", folder.toUtf8());
        EXPECT_EQ(ui::saveSnapshot(picture, QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))).value_or(QString()), expected);
        EXPECT_EQ(QImage(expected, "PNG"), expected.isEmpty() ? QImage() : picture);
    }
    qputenv("HOME", oldHome);
}
