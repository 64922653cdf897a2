#include "analysis/RhythmAnalyzer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

// Rates beyond this are nonsense; refusing them keeps every rate product
// convertible to a 64-bit integer (NaN and infinity fail the test too).
constexpr double kMaxSampleRate = 1e12;

bool usableRate(double sampleRate)
{
    return sampleRate > 0.0 && sampleRate <= kMaxSampleRate;
}

// Block size in samples: trunc(rate * seconds), raised to `minimum`.
int64_t blockSize(double sampleRate, double seconds, int64_t minimum)
{
    return std::max(static_cast<int64_t>(sampleRate * seconds), minimum);
}

void grow(std::vector<float>& buffer, int64_t n)
{
    if (static_cast<int64_t>(buffer.size()) < n)
        buffer.assign(static_cast<size_t>(n), 0.0f);
}

// e[b] = sqrt(sum of x^2 over block b / H), each block summed in sample order.
// Blocks are independent, so four run side by side to overlap their serial
// sums; every block still gets exactly the roundings it would get alone.
// (Eight lanes measured slower: the strided streams stop fitting.)
void blockRms(const float* x, int64_t h, int64_t n, float* e)
{
    const float hf = static_cast<float>(h);
    int64_t b = 0;
    for (; b + 4 <= n; b += 4) {
        const float* p0 = x + b * h;
        const float* p1 = p0 + h;
        const float* p2 = p1 + h;
        const float* p3 = p2 + h;
        float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
        for (int64_t j = 0; j < h; ++j) {
            s0 += p0[j] * p0[j];
            s1 += p1[j] * p1[j];
            s2 += p2[j] * p2[j];
            s3 += p3[j] * p3[j];
        }
        e[b] = std::sqrt(s0 / hf);
        e[b + 1] = std::sqrt(s1 / hf);
        e[b + 2] = std::sqrt(s2 / hf);
        e[b + 3] = std::sqrt(s3 / hf);
    }
    for (; b < n; ++b) {
        const float* p = x + b * h;
        float s = 0.0f;
        for (int64_t j = 0; j < h; ++j)
            s += p[j] * p[j];
        e[b] = std::sqrt(s / hf);
    }
}

// Two passes of a three-point moving average over e[1..n-2], each reading the
// values from before the pass; the end entries stay.
void smoothTwice(float* e, int64_t n)
{
    for (int pass = 0; pass < 2; ++pass) {
        if (n < 3)
            return;
        float previous = e[0];
        for (int64_t i = 1; i < n - 1; ++i) {
            const float current = e[i];
            e[i] = (previous + current + e[i + 1]) / 3.0f;
            previous = current;
        }
    }
}

// Normalised autocorrelation of the mean-free envelope at `lag`: the overlap
// product over sqrt(whole energy * tail energy). False when absent.
bool correlation(const float* e, int64_t n, float energy, int64_t lag, float& result)
{
    const int64_t overlap = n - lag;
    if (overlap < 1)
        return false;
    float c = 0.0f;
    float t = 0.0f;
    for (int64_t i = 0; i < overlap; ++i) {
        c += e[i] * e[i + lag];
        t += e[i + lag] * e[i + lag];  // = sum of e[j]^2 for j = lag .. n-1, in order
    }
    const float d = std::sqrt(energy * t);
    if (d <= 1e-10f)
        return false;
    result = c / d;
    return true;
}

// The correlation as the peak search and the consistency use it: absent or
// negative reads as 0.
float positiveCorrelation(const float* e, int64_t n, float energy, int64_t lag)
{
    float r = 0.0f;
    if (!correlation(e, n, energy, lag, r) || r < 0.0f)
        return 0.0f;
    return r;
}

// Envelope of a one-pole low-pass at 100 Hz; the low-passed signal itself
// is squared (no rectification) and its state runs across blocks.
void lowPassEnvelope(const float* x, int64_t h, int64_t n, double sampleRate, float* e)
{
    const float k = static_cast<float>(1.0 - std::exp(-628.3185307179587 / sampleRate));
    const float hf = static_cast<float>(h);
    float y = 0.0f;
    for (int64_t b = 0; b < n; ++b) {
        const float* block = x + b * h;
        float acc = 0.0f;
        for (int64_t j = 0; j < h; ++j) {
            y = y + (block[j] - y) * k;
            acc += y * y;
        }
        e[b] = std::sqrt(acc / hf);
    }
}

// Attack shape: the convex share of the curvature at the rising steps,
// counting fully from 0.3 on; 1 without any curvature.
float attackFactor(const float* e, int64_t n)
{
    float p = 0.0f;
    float a = 0.0f;
    for (int64_t i = 2; i < n; ++i) {
        const float d1 = e[i] - e[i - 1];
        if (d1 > 0.0f) {
            const float d2 = d1 + (e[i - 2] - e[i - 1]);
            if (d2 > 0.0f)
                p += d2;
            a += std::fabs(d2);
        }
    }
    return a <= 1e-10f ? 1.0f : std::min(1.0f, (p / a) / 0.3f);
}

// The envelope's mean, and its swing (max - min) / mean scored in [0, 1]
// (full from 4); the score is 0 when the mean is too small to divide by.
struct Swing {
    float mean;
    float score;
};

Swing envelopeSwing(const float* e, int64_t n)
{
    float maximum = 0.0f;
    float minimum = FLT_MAX;
    float sum = 0.0f;
    for (int64_t i = 0; i < n; ++i) {
        maximum = std::max(maximum, e[i]);
        minimum = std::min(minimum, e[i]);
        sum += e[i];
    }
    const float mean = sum / static_cast<float>(n);
    if (mean <= 1e-10f)
        return {mean, 0.0f};
    const float dynamics = (maximum - minimum) / mean;
    return {mean, dynamics > 4.0f ? 1.0f : dynamics * 0.25f};
}

// Makes the envelope mean-free; returns the energy left.
float removeMean(float* e, int64_t n, float mean)
{
    float energy = 0.0f;
    for (int64_t i = 0; i < n; ++i) {
        e[i] -= mean;
        energy += e[i] * e[i];
    }
    return energy;
}

struct Peak {
    int64_t lag = 0;
    float correlation = 0.0f;
};

// The lag in [minLag, maxLag] with the highest positive correlation; lag 0
// when none is positive.
Peak strongestPeriod(const float* e, int64_t n, float energy, int64_t minLag, int64_t maxLag)
{
    Peak best;
    for (int64_t lag = minLag; lag <= maxLag; ++lag) {
        const float v = positiveCorrelation(e, n, energy, lag);
        if (v > best.correlation)  // strictly: ties keep the shorter lag
            best = {lag, v};
    }
    return best;
}

// Mean of the peak's correlation and the positive ones at a quarter, half
// and twice its lag (those in range).
float harmonicSupport(const float* e, int64_t n, float energy, const Peak& peak, int64_t minLag)
{
    float support = peak.correlation;
    float weight = 1.0f;
    for (int64_t lag : {peak.lag / 4, peak.lag / 2, 2 * peak.lag}) {
        if (lag < minLag || lag > n / 2)
            continue;
        float r = 0.0f;
        if (correlation(e, n, energy, lag, r) && r > 0.0f) {
            support += r;
            weight += 1.0f;
        }
    }
    return support / weight;
}

// Mean correlation at two to four times the peak's lag (those in range)
// relative to the peak's, at most 1; 0 when none is in range.
float periodConsistency(const float* e, int64_t n, float energy, const Peak& peak)
{
    float multiples = 0.0f;
    int counted = 0;
    for (int64_t k = 2; k <= 4; ++k) {
        const int64_t lag = k * peak.lag;
        if (lag > n / 2)
            continue;
        multiples += positiveCorrelation(e, n, energy, lag);
        ++counted;
    }
    if (counted == 0)
        return 0.0f;
    return std::min(1.0f, (multiples / static_cast<float>(counted)) / std::max(peak.correlation, 1e-10f));
}

float logistic(float x, float centre)
{
    return 1.0f / (1.0f + std::exp(-12.0f * (x - centre)));
}

// Non-finite input must not freeze a meter at NaN: it reads as "no structure".
float finiteOrZero(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

// The rhythm value from the peak correlation, the swing score, the harmonic
// support, the consistency and the attack factor.
float rhythmScore(float best, float swing, float harmonic, float consistency, float attack)
{
    const float z = 0.25f * (0.6f * best + 0.4f * swing * best) + 0.35f * harmonic +
                    0.2f * swing * harmonic + 0.2f * consistency * harmonic;
    return finiteOrZero((0.6f + 0.4f * attack) * logistic(z, 0.25f));
}

}  // namespace

float RhythmAnalyzer::analyze(const float* samples, int64_t count, double sampleRate,
                              RhythmTrace* trace)
{
    RhythmTrace local;
    RhythmTrace& tr = trace ? *trace : local;
    tr = RhythmTrace{};

    if (count <= 4000 || !usableRate(sampleRate))
        return 0.0f;
    const int64_t h = blockSize(sampleRate, 0.005, 64);
    const int64_t n = count / h;
    tr.blockSize = h;
    tr.blockCount = n;
    if (n < 61)
        return 0.0f;
    grow(envBuffer, n);
    float* e = envBuffer.data();

    lowPassEnvelope(samples, h, n, sampleRate, e);
    smoothTwice(e, n);
    const float attack = attackFactor(e, n);

    const Swing swing = envelopeSwing(e, n);
    if (swing.mean <= 1e-10f)
        return 0.0f;
    tr.dynamicScore = swing.score;
    const float energy = removeMean(e, n, swing.mean);
    if (energy <= 1e-10f)
        return 0.0f;

    // Periods of 30 ms to 600 ms, at most half the window.
    const int64_t minLag = std::max<int64_t>(static_cast<int64_t>(sampleRate * 0.03) / h, 1);
    const int64_t maxLag = std::min(static_cast<int64_t>(sampleRate * 0.6) / h, n / 2);
    tr.minLag = minLag;
    tr.maxLag = maxLag;
    if (maxLag <= minLag + 5)
        return 0.0f;

    const Peak peak = strongestPeriod(e, n, energy, minLag, maxLag);
    tr.bestLag = peak.lag;
    tr.bestCorrelation = peak.correlation;

    float harmonic = 0.0f;
    float consistency = 0.0f;
    if (peak.lag >= 5 && peak.correlation > 0.08f) {
        harmonic = harmonicSupport(e, n, energy, peak, minLag);
        consistency = periodConsistency(e, n, energy, peak);
    }
    tr.harmonicSupport = harmonic;
    tr.consistency = consistency;
    tr.attackFactor = attack;
    tr.passedGuards = true;
    return rhythmScore(peak.correlation, swing.score, harmonic, consistency, attack);
}

float RhythmAnalyzer::computeRawExpansion(const float* samples, int64_t count, double sampleRate)
{
    if (count <= 2000 || !usableRate(sampleRate))
        return 0.0f;
    const int64_t h = blockSize(sampleRate, 0.002, 32);
    const int64_t n = count / h;
    if (n < 41)
        return 0.0f;
    grow(forceBuffer, n);
    float* e = forceBuffer.data();

    blockRms(samples, h, n, e);
    smoothTwice(e, n);

    float peak = 0.0f;
    for (int64_t i = 0; i < n; ++i)
        peak = std::max(peak, e[i]);
    if (peak <= 1e-10f)
        return 0.0f;

    int64_t activeCount = 0;
    float activeSum = 0.0f;
    float forceSquares = 0.0f;
    float levelSum = 0.0f;
    for (int64_t i = 1; i < n; ++i) {
        const float v = e[i];
        if (v > 0.01f) {  // an absolute level
            ++activeCount;
            activeSum += v;
        }
        const float force = v * std::fabs(v - e[i - 1]);
        forceSquares += force * force;
        levelSum += v;
    }
    const float steps = static_cast<float>(n - 1);
    const float meanLevel = levelSum / steps;
    const float forceRms = std::sqrt(forceSquares / steps);
    const float meanSquared = meanLevel * meanLevel;
    const float ratio = meanSquared > 1e-10f ? forceRms / meanSquared : forceRms / 1e-10f;
    if (ratio <= 0.01f || activeCount < 11)
        return 0.0f;

    const float activeMean = activeSum / static_cast<float>(activeCount);

    m_forces.clear();
    m_forces.reserve(static_cast<size_t>(n / 2));
    for (int64_t i = 1; i < n; ++i)
        if (e[i] >= activeMean)
            m_forces.push_back(e[i] * std::fabs(e[i] - e[i - 1]));
    if (m_forces.size() < 5)
        return 0.0f;

    // Only the t largest are summed, largest first. NaN sorts last so the
    // ordering stays a strict weak order whatever the input.
    const size_t t = std::max<size_t>(2, m_forces.size() / 4);
    std::partial_sort(m_forces.begin(), m_forces.begin() + static_cast<std::ptrdiff_t>(t),
                      m_forces.end(), [](float lhs, float rhs) {
                          return lhs > rhs || (!std::isnan(lhs) && std::isnan(rhs));
                      });
    float top = 0.0f;
    for (size_t i = 0; i < t; ++i)
        top += m_forces[i];
    const float topMean = top / static_cast<float>(t);

    const float x = topMean / std::max(activeMean * activeMean, 1e-10f);
    return finiteOrZero(logistic(x, 0.15f));
}

float RhythmAnalyzer::nextHeldExpansion(float held, float raw)
{
    if (held >= raw) {
        const float c = held > 0.6f ? 0.97f : 0.93f;
        return held * c + raw * (1.0f - c);
    }
    return raw * 0.35f + held * 0.65f;
}

float RhythmAnalyzer::analyzeExpansion(const float* samples, int64_t count, double sampleRate)
{
    heldExpansion = nextHeldExpansion(heldExpansion, computeRawExpansion(samples, count, sampleRate));
    return heldExpansion;
}

float RhythmAnalyzer::analyzeEnvelopeCurvature(const float* samples, int64_t count,
                                               double sampleRate)
{
    if (count <= 2000 || !usableRate(sampleRate))
        return 0.0f;
    const int64_t h = blockSize(sampleRate, 0.0005, 16);
    const int64_t n = count / h;
    if (n < 101)
        return 0.0f;
    grow(curvatureBuffer, n);
    float* e = curvatureBuffer.data();

    blockRms(samples, h, n, e);

    float peak = 0.0f;
    for (int64_t i = 0; i < n; ++i)
        peak = std::max(peak, e[i]);
    if (peak <= 1e-10f)
        return 0.0f;

    const float onThreshold = 0.1f * peak;
    float fractionSum = 0.0f;
    int64_t bursts = 0;
    auto evaluate = [&](int64_t start, int64_t end, float burstPeak) {
        const int64_t length = end - start;
        if (length < 4 || !(burstPeak > 0.2f * peak))
            return;
        const float flat = 0.8f * burstPeak;
        int64_t within = 0;
        for (int64_t j = start; j < end; ++j)
            if (e[j] >= flat)
                ++within;
        fractionSum += static_cast<float>(within) / static_cast<float>(length);
        ++bursts;
    };

    bool inside = false;
    int64_t start = 0;
    float burstPeak = 0.0f;
    for (int64_t i = 0; i < n; ++i) {
        if (!inside) {
            if (e[i] > onThreshold) {
                inside = true;
                start = i;
                burstPeak = e[i];
            }
            continue;
        }
        if (e[i] > burstPeak)
            burstPeak = e[i];
        if (e[i] >= onThreshold)
            continue;
        evaluate(start, i, burstPeak);
        inside = false;
        burstPeak = 0.0f;
    }
    if (inside)
        evaluate(start, n, burstPeak);

    return bursts >= 2 ? fractionSum / static_cast<float>(bursts) : 0.0f;
}
