#include "renderer/FramePacer.h"

#include "renderer/BeamModel.h"
#include "renderer/MeterSchedule.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A change of a published meter value below this is taken for settled: the
// slowest meter (the KX hold, 3 % a run) then has less than 3.4e-4 left to
// go, a thirtieth of a displayed percent.
constexpr float kMeterSettled = 1e-5f;

}  // namespace

FramePacer::FramePacer()
{
    m_meters.fill(std::numeric_limits<float>::quiet_NaN());
}

void FramePacer::setFrameRate(long long requested)
{
    m_frameRate = static_cast<int>(std::clamp<long long>(requested, kMinFrameRate, kMaxFrameRate));
}

int64_t FramePacer::waitAfterFrame(int64_t nowNs)
{
    const int64_t period = 1'000'000'000LL / m_frameRate;
    m_nextFrameNs += period;
    if (m_nextFrameNs < nowNs)  // fell behind: do not try to catch up
        m_nextFrameNs = nowNs + period;
    return m_nextFrameNs - nowNs;
}

bool FramePacer::keepGoing(bool capturing, const Picture& picture)
{
    if (capturing) {
        m_stoppedFrames = 0;
        return true;
    }
    // A waveform picture never goes black: redrawn from the same samples, it
    // is steady once any light it held at the stop has faded.
    const bool pictureSteady =
        !picture.shown || picture.black || m_stoppedFrames > beam::framesToFade(picture.decay);
    // A whole analysis run without a visible move: the next runs, on the same
    // samples, would not move them either.
    const bool metersSettled =
        m_meterQuietFrames > MeterSchedule::analysisInterval || m_stoppedFrames > kMeterFrameLimit;
    return !(pictureSteady && metersSettled);
}

void FramePacer::wake()
{
    m_stoppedFrames = 0;
    m_meterQuietFrames = 0;
}

void FramePacer::frameDrawn(bool capturing)
{
    ++m_meterQuietFrames;
    if (!capturing)
        ++m_stoppedFrames;
}

void FramePacer::noteMeter(size_t meter, float value)
{
    if (!(std::abs(value - m_meters[meter]) < kMeterSettled))
        m_meterQuietFrames = 0;
    m_meters[meter] = value;
}
