#include "renderer/MeterSchedule.h"

#include "renderer/MeterMath.h"
#include "renderer/SampleHistory.h"

#include <optional>

namespace {

void call(const std::function<void(float)>& callback, float value)
{
    if (callback)
        callback(value);
}

}  // namespace

// Density blocks are at least 64 samples.
MeterSchedule::MeterSchedule() : m_densityBlocks(new float[SampleHistory::capacity / 64]()) {}

MeterSchedule::~MeterSchedule() = default;

void MeterSchedule::tick(const SampleHistory& history, int64_t channel, double sampleRate, int64_t kxScaleMode)
{
    if (++m_frameCounter >= analysisInterval) {
        m_frameCounter = 0;
        run(history, channel, sampleRate, kxScaleMode);
        call(onCorrelationAnalysis, m_correlation.value());
    }
}

void MeterSchedule::feed(const float* left, const float* right, int64_t count, double sampleRate)
{
    m_correlation.setSampleRate(sampleRate);
    m_correlation.process(left, right, count);
}

void MeterSchedule::run(const SampleHistory& history, int64_t channel, double sampleRate, int64_t kxScaleMode)
{
    const int64_t n = meter::analysisWindowLength(sampleRate, history.count());
    if (n < minWindowLength)
        return;
    if (m_windowSize < n) {
        m_window.reset(new float[static_cast<size_t>(n)]);
        m_windowSize = n;
    }
    float* window = m_window.get();
    SampleHistory::copy(history.channel(channel), history.startOfNewest(n), n, window);

    m_rate = meter::smooth(m_rate, m_analyzer.analyze(window, n, sampleRate));
    call(onRhythmAnalysis, m_rate);

    m_pressure = meter::smooth(m_pressure, m_analyzer.analyzeExpansion(window, n, sampleRate));
    const float rhythmAdj = meter::rhythmAdjustment(m_rate, kxScaleMode);

    float curvatureAdj = 0.0f;
    if (kxScaleMode == meter::kMixMode) {
        m_curvature = meter::smooth(m_curvature, m_analyzer.analyzeEnvelopeCurvature(window, n, sampleRate));
        call(onCurvatureAnalysis, m_curvature);
        curvatureAdj = meter::curvatureAdjustment(m_curvature);
    }
    call(onPressureAnalysis, meter::publishedPressure(m_pressure, rhythmAdj, curvatureAdj));

    const std::optional<float> density = meter::signalDensity(window, n, sampleRate, m_densityBlocks.get());
    if (!density)
        return;
    m_density = meter::smooth(m_density, *density);
    call(onDensityAnalysis, m_density);
}

void MeterSchedule::resetAnalysis()
{
    m_rate = m_pressure = m_density = m_curvature = 0.0f;
    m_analyzer.heldExpansion = 0.0f;
    m_correlation.reset();
    call(onRhythmAnalysis, 0.0f);
    call(onPressureAnalysis, 0.0f);
    call(onDensityAnalysis, 0.0f);
    call(onCurvatureAnalysis, 0.0f);
    call(onCorrelationAnalysis, 0.0f);
}
