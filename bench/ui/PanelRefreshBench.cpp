// What one notification costs the control panel: a meter update (20 a second
// at 120 fps) and a setting change, each delivered through the event loop as
// in the app; the offscreen platform paints nothing, so this is the panel's own work.
#include "audio/AudioEngine.h"
#include "audio/FakeAudioBackend.h"
#include "settings/PreferencesStore.h"
#include "settings/ScopeSettings.h"
#include "ui/ControlPanel.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Counts style changes (a new style sheet repolishes its widget) anywhere.
struct EventCounter : QObject {
    long styles = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        styles += e->type() == QEvent::StyleChange;
        return false;
    }
};

struct Panel {
    QTemporaryDir config;
    std::shared_ptr<FakeAudioBackend> backend = std::make_shared<FakeAudioBackend>();
    AudioEngine engine{backend};
    ScopeSettings settings{std::make_shared<QSettingsStore>(config.filePath("b.conf"))};
    ControlPanel panel{engine, settings};
    Panel()
    {
        panel.resize(1020, 160);
        panel.show();
        deliver();
    }
    static void deliver()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::sendPostedEvents();
    }
};

template <typename Change>
void measure(benchmark::State& state, Change change)
{
    Panel p;
    EventCounter counter;
    qApp->installEventFilter(&counter);
    long n = 0;
    for (auto _ : state) {
        change(p.settings, n++);
        Panel::deliver();
    }
    qApp->removeEventFilter(&counter);
    state.counters["styles"] = benchmark::Counter(double(counter.styles), benchmark::Counter::kAvgIterations);
}

void BM_MeterUpdate(benchmark::State& state)
{
    // The renderer writes the four meter fields after each analysis run.
    measure(state, [](ScopeSettings& s, long n) {
        const float v = 0.3f + 0.01f * float(n % 50);
        s.setRhythmMatchRate(v);
        s.setExpansionPressure(v);
        s.setSignalDensity(0.5f);
        s.setEnvelopeCurvature(v);
    });
}
BENCHMARK(BM_MeterUpdate);

void BM_DecayChange(benchmark::State& state)
{
    measure(state, [](ScopeSettings& s, long n) { s.setDecay(0.6f + 0.001f * float(n % 300)); });
}
BENCHMARK(BM_DecayChange);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::prepareApplication(app);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
