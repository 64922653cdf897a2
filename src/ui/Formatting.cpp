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

QString formatPercent(float value)
{
    const float percent = value * 100.0f;
    return truncated(percent) + QStringLiteral("%");
}

QString formatCorrelation(float value)
{
    if (!std::isfinite(value))
        return QStringLiteral("–");
    const QString text = QString::asprintf("%+.2f", static_cast<double>(value));
    return text == QStringLiteral("-0.00") ? QStringLiteral("+0.00") : text;
}

QString formatSliderValue(double value)
{
    return QString::asprintf("%.2f", value);
}

QString formatSampleRate(double hz)
{
    return QStringLiteral("SR: ") + truncated(hz) + QStringLiteral(" Hz");
}

MeterTone rhythmTone(float rate)
{
    if (rate >= 0.7f)
        return MeterTone::green;
    if (rate >= 0.4f)
        return MeterTone::yellow;
    return MeterTone::red;
}

MeterTone kxTextTone(float value)
{
    if (value >= 0.76f)
        return MeterTone::green;
    if (value >= 0.65f)
        return MeterTone::greenDimmed;
    if (value >= 0.41f)
        return MeterTone::yellowDimmed;
    return MeterTone::red;
}

MeterTone kxBarTone(float value)
{
    if (value >= 0.65f)
        return MeterTone::green;
    if (value >= 0.41f)
        return MeterTone::yellow;
    return MeterTone::red;
}

MeterTone correlationTone(float value)
{
    // In the hundredths the reading shows: -0.001 reads "+0.00" and must not
    // be red. Ties to even, as "%.2f" rounds 0.125 to 0.12; the product is
    // exact enough that no float lands on the other side of a tie.
    const double shown = std::rint(static_cast<double>(value) * 100.0);
    if (shown >= 50.0)
        return MeterTone::green;
    if (shown >= 0.0)
        return MeterTone::yellow;
    return MeterTone::red;
}
