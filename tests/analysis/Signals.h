#pragma once

// One-channel test signals, samples[i] = f(i / rate) in double; standard library only (benchmarks use it too).

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace signals {

inline std::vector<float> generate(int64_t count, double rate, const std::function<double(double)>& f)
{
    std::vector<float> out(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        out[static_cast<size_t>(i)] = static_cast<float>(f(static_cast<double>(i) / rate));
    return out;
}

inline std::vector<float> sine(int64_t count, double rate, double hz, double amplitude = 1.0)
{
    return generate(count, rate, [=](double t) { return amplitude * std::sin(2 * std::numbers::pi * hz * t); });
}

// A kick-like thump (decaying 50 Hz) every `period` seconds.
inline std::vector<float> clickTrain(int64_t count, double rate, double period)
{
    return generate(count, rate, [=](double t) {
        const double since = std::fmod(t, period);
        return since < 0.1 ? std::sin(2 * std::numbers::pi * 50 * since) * std::exp(-since / 0.03) : 0.0;
    });
}

inline std::vector<float> noise(int64_t count, double amplitude, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    return generate(count, 1.0, [&](double) { return dist(rng); });
}

}  // namespace signals
