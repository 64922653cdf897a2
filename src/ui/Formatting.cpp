#include "ui/Formatting.h"

#include <cmath>
#include <limits>

namespace {

// Truncation toward zero that stays defined for NaN and out-of-range values.
bool truncates(double value, long long& out)
{
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18)
        return false;
    out = static_cast<long long>(value);
    return true;
}

QString truncated(double value)
{
    long long n = 0;
    return truncates(value, n) ? QString::number(n) : QStringLiteral("–");
}

}  // namespace

QString formatFreq(float hz)
{
    if (hz >= 1000.0f) {
        const float k = hz / 1000.0f;
        if (std::isfinite(k) && k == std::trunc(k))
            return truncated(k) + QStringLiteral("kHz");
        return QString::asprintf("%.1fkHz", static_cast<double>(k));
    }
    return truncated(hz) + QStringLiteral("Hz");
}

QString formatTimeDivision(double milliseconds)
{
    if (milliseconds >= 1000.0)
        return truncated(milliseconds / 1000.0) + QStringLiteral("s");
    return truncated(milliseconds) + QStringLiteral("ms");
}

QString formatPercent(double value)
{
    return truncated(value * 100.0) + QStringLiteral("%");
}

QString formatSliderValue(double value)
{
    return QString::asprintf("%.2f", value);
}

QString formatSampleRate(double hz)
{
    return QStringLiteral("SR: ") + truncated(hz) + QStringLiteral(" Hz");
}

MeterTone rhythmTone(double rate)
{
    if (rate >= 0.7)
        return MeterTone::green;
    if (rate >= 0.4)
        return MeterTone::yellow;
    return MeterTone::red;
}

MeterTone kxTextTone(double value)
{
    if (value >= 0.76)
        return MeterTone::green;
    if (value >= 0.65)
        return MeterTone::greenDimmed;
    if (value >= 0.41)
        return MeterTone::yellowDimmed;
    return MeterTone::red;
}

MeterTone kxBarTone(double value)
{
    if (value >= 0.65)
        return MeterTone::green;
    if (value >= 0.41)
        return MeterTone::yellow;
    return MeterTone::red;
}
