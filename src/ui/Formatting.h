#pragma once

#include <QString>

// Texts of the control panel, kept apart from the widgets so they can be
// checked without a window.

// 20 -> "20Hz", 1000 -> "1kHz", 1500 -> "1.5kHz", 12000 -> "12kHz".
QString formatFreq(float hz);

// Time per division: 10 -> "10ms", 1000 -> "1s".
QString formatTimeDivision(double milliseconds);

// Integer part of value x 100 followed by "%" (0.734 -> "73%"), the product
// taken in 32-bit float as the meters are (0.69f reads 69%, not 68%).
// Non-finite values read "–%" rather than an arbitrary integer.
QString formatPercent(float value);

// The phase correlation, -1 ... +1, with its sign always: "+0.98", "-0.50";
// what rounds to zero reads "+0.00" (no "-0.00" flicker on a centred
// reading), non-finite values "–".
QString formatCorrelation(float value);

// "%.2f", the slider captions.
QString formatSliderValue(double value);

// "SR: 48000 Hz": the rate truncated to an integer.
QString formatSampleRate(double hz);

// Meter colours by value. The dimmed tones are drawn at 75 % opacity.
enum class MeterTone { green, greenDimmed, yellow, yellowDimmed, red };

// RHYTHM text and bar: >= 0.7 green, >= 0.4 yellow, otherwise red.
MeterTone rhythmTone(float rate);
// KX text: >= 0.76 green, >= 0.65 dimmed green, >= 0.41 dimmed yellow, otherwise red.
MeterTone kxTextTone(float value);
// KX bar: >= 0.65 green, >= 0.41 yellow, otherwise red.
MeterTone kxBarTone(float value);
// CORR, by the reading formatCorrelation shows: from +0.50 green, from +0.00
// yellow (wide but mono-safe), otherwise red (out of phase: cancels when
// summed to mono).
MeterTone correlationTone(float value);
