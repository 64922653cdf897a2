#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// Display-filter kind. The order is the order of every picker and the integer
// index the renderer stores; the raw value is the persisted and shown text.
enum class FilterType : int { off = 0, lowpass = 1, highpass = 2, bandpass = 3 };

inline constexpr std::array<FilterType, 4> kAllFilterTypes = {
    FilterType::off, FilterType::lowpass, FilterType::highpass, FilterType::bandpass};

constexpr std::string_view rawValue(FilterType type)
{
    switch (type) {
    case FilterType::off: return "OFF";
    case FilterType::lowpass: return "LP";
    case FilterType::highpass: return "HP";
    case FilterType::bandpass: return "BP";
    }
    return "OFF";
}

// Exact, case-sensitive match of a raw value; anything else has no value.
constexpr std::optional<FilterType> filterTypeFromRawValue(std::string_view raw)
{
    for (FilterType type : kAllFilterTypes)
        if (rawValue(type) == raw)
            return type;
    return std::nullopt;
}

// One channel of a second-order IIR section (audio-EQ-cookbook forms) in
// transposed direct form II, all in 32-bit float. A new filter is the
// identity of type off. Not synchronised: main thread only.
class BiquadFilter {
public:
    // Recomputes the coefficients only when type, frequency or rate differ
    // (exactly) from the last request. The state z1/z2 is kept.
    void updateCoefficients(FilterType type, float frequency, double sampleRate);

    // Filters in place; leaves buffer and state untouched while of type off.
    void process(float* samples, int64_t count);

    // State, cleared directly by the owner to restart the filter from rest.
    float z1 = 0.0f;
    float z2 = 0.0f;

    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;

    FilterType cachedType = FilterType::off;
    float cachedFreq = 0.0f;
    double cachedSampleRate = 0.0;
};

// The display filter's two channels, designed alike. process() runs both
// recursions in one loop: they are independent, so the CPU overlaps them
// instead of running one serial chain after the other (about twice as fast
// on a 65536-sample window). Per channel the arithmetic is
// BiquadFilter::process's, operation for operation, so samples and state
// come out bit-identical to filtering each channel on its own.
class StereoBiquadFilter {
public:
    // Both channels get the same design; their states are kept.
    void updateCoefficients(FilterType type, float frequency, double sampleRate);
    // Filters left[0..count) with `left` and right[0..count) with `right`.
    void process(float* leftSamples, float* rightSamples, int64_t count);
    // Both channels start from rest.
    void restart();
    // A NaN or infinite sample (or a filter made unstable by an absurd
    // frequency) would otherwise stay in the state of a filter that runs on
    // from block to block: a channel whose state is not finite starts from rest.
    void restartIfPoisoned();

    BiquadFilter left;
    BiquadFilter right;
};
