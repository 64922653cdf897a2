#include "renderer/ScopeFrameCore.h"

#include "audio/RingBuffer.h"
#include "renderer/BeamModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

std::unique_ptr<float[]> zeroed(int64_t count)
{
    return std::unique_ptr<float[]>(new float[static_cast<size_t>(count)]());
}

}  // namespace

ScopeFrameCore::ScopeFrameCore()
    : m_scratchLeft(zeroed(scratchSize)),
      m_scratchRight(zeroed(scratchSize)),
      m_scratchZ(zeroed(scratchSize)),
      m_filteredLeft(zeroed(scratchSize)),
      m_filteredRight(zeroed(scratchSize)),
      m_waveformLeft(zeroed(maxGPUSamples)),
      m_waveformRight(zeroed(maxGPUSamples)),
      m_waveformZ(zeroed(maxGPUSamples))
{
}

ScopeFrameCore::~ScopeFrameCore() = default;

int64_t ScopeFrameCore::drainAndTick()
{
    const int64_t n = drain();
    m_meters.tick(m_history, triggerChannel, sampleRate, kxScaleMode);
    return n;
}

int64_t ScopeFrameCore::drain()
{
    if (!ringBuffer)
        return 0;
    const int64_t n = std::clamp<int64_t>(
        ringBuffer->read(m_scratchLeft.get(), m_scratchRight.get(), scratchSize, m_scratchZ.get()), 0, scratchSize);
    m_history.append(m_scratchLeft.get(), m_scratchRight.get(), n, m_scratchZ.get());
    m_meters.feed(m_scratchLeft.get(), m_scratchRight.get(), n, sampleRate);
    return n;
}

FilterType ScopeFrameCore::currentFilterType() const
{
    if (displayFilterType <= 0)
        return FilterType::off;
    return kAllFilterTypes[static_cast<size_t>(std::min<int64_t>(displayFilterType, 3))];
}

int64_t ScopeFrameCore::paceXY(int64_t drained)
{
    const XYPacer::Due due = paced ? m_xyPacer.pace(drained) : XYPacer::Due{drained, drained};
    const int64_t from = m_history.startOfNewest(due.age);
    SampleHistory::copy(m_history.channel(0), from, due.count, m_scratchLeft.get());
    SampleHistory::copy(m_history.channel(1), from, due.count, m_scratchRight.get());
    SampleHistory::copy(m_history.zChannel(), from, due.count, m_scratchZ.get());
    return due.count;
}

void ScopeFrameCore::applyDisplayFilterXY(int64_t count)
{
    count = std::clamp<int64_t>(count, 0, scratchSize);
    std::memcpy(m_filteredLeft.get(), m_scratchLeft.get(), static_cast<size_t>(count) * sizeof(float));
    std::memcpy(m_filteredRight.get(), m_scratchRight.get(), static_cast<size_t>(count) * sizeof(float));
    const FilterType type = currentFilterType();
    if (type == FilterType::off)
        return;
    m_displayFilter.updateCoefficients(type, displayFilterFrequency, sampleRate);
    m_displayFilter.process(m_filteredLeft.get(), m_filteredRight.get(), count);
    m_displayFilter.restartIfPoisoned();
}

int64_t ScopeFrameCore::reconstructXY(int64_t count)
{
    count = std::clamp<int64_t>(count, 0, scratchSize);
    m_upsampler.setFactor(static_cast<int>(std::clamp<int64_t>(upsampling, 1, BandLimitedUpsampler::kMaxFactor)));
    const int factor = m_upsampler.factor();
    const bool z = zInput == 1 || zInput == 2;
    int64_t points = count;
    if (factor == 1) {
        m_xyLeft = m_filteredLeft.get();
        m_xyRight = m_filteredRight.get();
        m_xyBrightness = m_scratchZ.get();
    } else {
        const size_t room = static_cast<size_t>(scratchSize * BandLimitedUpsampler::kMaxFactor);
        if (m_upsampledLeft.size() < room) {
            m_upsampledLeft.resize(room);
            m_upsampledRight.resize(room);
            m_upsampledZ.resize(room);
        }
        // Z goes along even when off, so that turning it on finds its history.
        const float* in[] = {m_filteredLeft.get(), m_filteredRight.get(), m_scratchZ.get()};
        float* out[] = {m_upsampledLeft.data(), m_upsampledRight.data(), m_upsampledZ.data()};
        m_xyLeft = out[0];
        m_xyRight = out[1];
        m_xyBrightness = out[2];
        points = m_upsampler.process(in, count, out);
    }
    if (!z) {
        m_xyBrightness = nullptr;
        return points;
    }
    // Brightness from Z after the reconstruction: its overshoot is clamped.
    beam::applyZBrightness(m_xyBrightness, points, zInput);
    return points;
}

namespace {

// Distance of point p from the segment a-b.
float distanceToSegment(float px, float py, float ax, float ay, float bx, float by)
{
    const float dx = bx - ax, dy = by - ay;
    const float length2 = dx * dx + dy * dy;
    float t = length2 > 0.0f ? ((px - ax) * dx + (py - ay) * dy) / length2 : 0.0f;
    t = std::clamp(t, 0.0f, 1.0f);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

}  // namespace

const std::vector<ScopeFrameCore::XYRun>& ScopeFrameCore::xyRuns(int64_t points, float tolerance, float reach)
{
    m_runs.clear();
    const int f = m_upsampler.factor();
    const int64_t steps = f > 1 ? (points - 1) / f : 0;
    if (f == 1 || !(tolerance > 0.0f) || steps < 1) {
        m_runs.push_back({m_xyLeft, m_xyRight, m_xyBrightness, points, f});
        return m_runs;
    }
    const float* x = m_xyLeft;
    const float* y = m_xyRight;
    const float* b = m_xyBrightness;
    constexpr float kBrightnessTolerance = 1.0f / 64.0f;
    m_stepParts.resize(static_cast<size_t>(steps));
    for (int64_t s = 0; s < steps; ++s) {
        const int64_t base = s * f;
        int level = 0;
        for (int parts = 1; parts < f; parts *= 2, ++level) {
            const int stride = f / parts;
            bool close = true;
            for (int j = 1; j < f && close; ++j) {
                if (j % stride == 0)
                    continue;
                const int64_t a = base + j / stride * stride, e = a + stride, p = base + j;
                close = distanceToSegment(x[p], y[p], x[a], y[a], x[e], y[e]) <= tolerance;
                if (close && b) {
                    const float t = float(p - a) / float(stride);
                    close = std::fabs(b[p] - (b[a] + t * (b[e] - b[a]))) <= kBrightnessTolerance;
                }
            }
            if (close)
                break;
        }
        m_stepParts[static_cast<size_t>(s)] = static_cast<uint8_t>(level);
    }
    // The area each cap on the parts would cover, against straight steps.
    if (reach > 0.0f && std::isfinite(reach)) {
        int levels = 0;
        while ((2 << levels) <= f)
            ++levels;
        std::array<double, 4> area{};  // levels <= 3: factors up to 8
        for (int64_t s = 0; s < steps; ++s) {
            const int64_t base = s * f;
            const int need = m_stepParts[static_cast<size_t>(s)];
            for (int cap = 0; cap <= levels; ++cap) {
                const int parts = 1 << std::min(need, cap), stride = f / parts;
                double length = 0.0;
                for (int k = 0; k < parts; ++k) {
                    const int64_t a = base + k * stride, e = a + stride;
                    length += std::hypot(x[e] - x[a], y[e] - y[a]);
                }
                if (std::isfinite(length))
                    area[static_cast<size_t>(cap)] += length + 2.0 * reach * parts;
            }
        }
        int cap = levels;
        while (cap > 0 && area[static_cast<size_t>(cap)] > kMaxAreaGrowth * area[0])
            --cap;
        for (uint8_t& level : m_stepParts)
            level = static_cast<uint8_t>(std::min<int>(level, cap));
    }
    // Each count's steps in one run; the tail after the last whole step
    // (the way to the next frame's first sample) goes with the full count.
    const size_t room = static_cast<size_t>(2 * points + 8);
    if (m_runLeft.size() < room) {
        m_runLeft.resize(room);
        m_runRight.resize(room);
        m_runBrightness.resize(room);
    }
    size_t used = 0;
    const auto put = [&](int64_t p) {
        m_runLeft[used] = x[p];
        m_runRight[used] = y[p];
        m_runBrightness[used] = b ? b[p] : 1.0f;
        ++used;
    };
    const auto gap = [&] {
        m_runLeft[used] = m_runRight[used] = std::numeric_limits<float>::quiet_NaN();
        m_runBrightness[used] = 0.0f;
        ++used;
    };
    for (int level = 0; (1 << level) <= f; ++level) {
        const int parts = 1 << level, stride = f / parts;
        const size_t first = used;
        int64_t end = -1;  // the point the run has reached
        for (int64_t s = 0; s < steps; ++s) {
            if (m_stepParts[static_cast<size_t>(s)] != level)
                continue;
            const int64_t base = s * f;
            if (base != end) {
                if (used > first)
                    gap();
                put(base);
            }
            for (int k = 1; k <= parts; ++k)
                put(base + k * stride);
            end = base + f;
        }
        if (parts == f && steps * f < points - 1) {
            if (steps * f != end) {
                if (used > first)
                    gap();
                put(steps * f);
            }
            for (int64_t p = steps * f + 1; p < points; ++p)
                put(p);
        }
        if (used - first >= 2)
            m_runs.push_back({m_runLeft.data() + first, m_runRight.data() + first,
                              b ? m_runBrightness.data() + first : nullptr, int64_t(used - first), parts});
    }
    return m_runs;
}

void ScopeFrameCore::applyDisplayFilterWaveform(float* left, float* right, int64_t count, int64_t startIdx)
{
    const FilterType type = currentFilterType();
    if (type == FilterType::off)
        return;
    m_displayFilter.restart();
    m_displayFilter.updateCoefficients(type, displayFilterFrequency, sampleRate);

    // The samples just before the window settle the filter, so the window
    // does not start with the step response of a filter at rest.
    const int64_t warmUp = std::min(m_history.count() - count, warmUpLength);
    if (warmUp > 0) {
        const int64_t from = SampleHistory::wrap(startIdx - warmUp);
        SampleHistory::copy(m_history.channel(0), from, warmUp, m_filteredLeft.get());
        SampleHistory::copy(m_history.channel(1), from, warmUp, m_filteredRight.get());
        m_displayFilter.process(m_filteredLeft.get(), m_filteredRight.get(), warmUp);
    }
    m_displayFilter.process(left, right, count);
}

std::optional<int64_t> ScopeFrameCore::findTriggerPoint(int64_t m) const
{
    if (!triggerEnabled)
        return std::nullopt;
    return m_history.findRisingEdge(m_history.channel(triggerChannel), triggerLevel, m);
}

int64_t ScopeFrameCore::prepareWaveformData()
{
    const int64_t m = std::min({displaySampleCount, maxGPUSamples, m_history.count()});
    if (m < 1)
        return 0;
    const int64_t start = findTriggerPoint(m).value_or(m_history.startOfNewest(m));
    SampleHistory::copy(m_history.channel(0), start, m, m_waveformLeft.get());
    SampleHistory::copy(m_history.channel(1), start, m, m_waveformRight.get());
    const bool z = zInput == 1 || zInput == 2;
    if (z)
        SampleHistory::copy(m_history.zChannel(), start, m, m_waveformZ.get());
    applyDisplayFilterWaveform(m_waveformLeft.get(), m_waveformRight.get(), m, start);
    m_waveOutLeft = m_waveformLeft.get();
    m_waveOutRight = m_waveformRight.get();
    m_waveBrightness = z ? m_waveformZ.get() : nullptr;
    // Upsampled, the window spans the same screen: f points per sample step
    // and the last sample last. The factor halves where that would not fit
    // the GPU's buffers.
    int factor = BandLimitedUpsampler::heldFactor(static_cast<int>(std::clamp<int64_t>(upsampling, 1, 8)));
    while (factor > 1 && factor * (m - 1) + 1 > maxGPUSamples)
        factor /= 2;
    if (factor == 1 || m < 2) {
        if (z)
            beam::applyZBrightness(m_waveformZ.get(), m, zInput);
        return m;
    }
    const size_t room = static_cast<size_t>(maxGPUSamples + BandLimitedUpsampler::kMaxFactor);
    if (m_waveUpLeft.size() < room) {
        m_waveUpLeft.resize(room);
        m_waveUpRight.resize(room);
        m_waveUpZ.resize(room);
    }
    upsampleWindow(m_waveformLeft.get(), m, 0, 0, factor, m_waveUpLeft.data());
    upsampleWindow(m_waveformRight.get(), m, 0, 0, factor, m_waveUpRight.data());
    m_waveOutLeft = m_waveUpLeft.data();
    m_waveOutRight = m_waveUpRight.data();
    const int64_t points = factor * (m - 1) + 1;
    if (z) {
        upsampleWindow(m_waveformZ.get(), m, 0, 0, factor, m_waveUpZ.data());
        beam::applyZBrightness(m_waveUpZ.data(), points, zInput);
        m_waveBrightness = m_waveUpZ.data();
    }
    return points;
}
