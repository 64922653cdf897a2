#pragma once

// Helpers every suite may use. The Qt part is compiled only where the binary
// links Qt Test.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#ifdef QT_TESTLIB_LIB
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
#endif

namespace test {

inline constexpr double kPi = std::numbers::pi;

// start, start + 1, start + 2, ...
inline std::vector<float> ramp(int64_t count, float start = 0.0f)
{
    std::vector<float> v(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        v[static_cast<size_t>(i)] = start + static_cast<float>(i);
    return v;
}

// samples[i] = f(i / rate), computed in double.
inline std::vector<float> generate(int64_t count, double rate, const std::function<double(double)>& f)
{
    std::vector<float> out(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        out[static_cast<size_t>(i)] = static_cast<float>(f(static_cast<double>(i) / rate));
    return out;
}

inline std::vector<float> sine(int64_t count, double rate, double hz, double amplitude = 1.0, double phase = 0.0)
{
    return generate(count, rate, [=](double t) { return amplitude * std::sin(2 * kPi * hz * t + phase); });
}

// Uniform in [-amplitude, amplitude], the same for a seed on every machine.
inline std::vector<float> noise(int64_t count, double amplitude, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::vector<float> out(static_cast<size_t>(count));
    for (auto& x : out)  // not uniform_real_distribution: its output is library-specific
        x = static_cast<float>(amplitude * (2.0 * (static_cast<double>(rng()) / 4294967295.0) - 1.0));
    return out;
}

// Left and right into one interleaved stereo buffer.
inline std::vector<float> interleave(const std::vector<float>& left, const std::vector<float>& right)
{
    std::vector<float> out(2 * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    return out;
}

inline uint32_t bitsOf(float x)
{
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Equal bit for bit (NaN equals the same NaN, 0 differs from -0).
inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

#ifdef QT_TESTLIB_LIB
// Runs the queued calls already posted (views read their models in queued slots).
inline void settle()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Spins the event loop until `done` or the timeout; returns done().
inline bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(10);
    return done();
}
#endif

}  // namespace test
