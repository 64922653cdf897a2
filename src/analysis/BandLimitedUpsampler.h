#pragma once

#include <array>
#include <cstdint>

// Reconstructs the band-limited signal between samples, as a DAC would, so the
// beam follows the curve instead of straight lines between samples. Lanczos
// kernel with a = 3 (6 taps) as a polyphase FIR; the coefficients are computed
// at compile time, so the same input gives the same output bits everywhere.
//
// Each output is centre + sum(w_k * (x_k - centre)) over the 5 other taps,
// where `centre` is the sample at or just before the output position. That is
// the normalised kernel (the centre weight being 1 - sum(w_k)) written so that
// a constant input comes out exactly constant whatever the rounding, and
// output at an integer position is a copy of its sample.
//
// A NaN or infinite sample makes the fractional outputs whose kernel reaches it
// (within 3 samples either side) NaN or infinite; outputs at integer positions
// stay copies of their own samples. The renderer skips NaN samples.
//
// Upsampling factors are 1, 2, 4 and 8; any other request is held to the
// nearest of those in octaves (<= 1 gives 1, 3 gives 4, 5 gives 4, 6 gives 8).

// Streams up to three channels (left, right, Z) that arrive block by block;
// the output is continuous across blocks. Not synchronised: one thread at a time.
class BandLimitedUpsampler {
public:
    static constexpr int kTaps = 6;         // Lanczos a = 3
    static constexpr int kLatency = 3;      // input samples the kernel needs after a point
    static constexpr int kMaxChannels = 3;
    static constexpr int kMaxFactor = 8;

    // Starts at factor 1. The channel count is held to 1..3.
    explicit BandLimitedUpsampler(int channels = 2);

    // Forgets the history only when the (held) factor differs from the current one.
    void setFactor(int factor);
    int factor() const { return m_factor; }
    int channels() const { return m_channels; }
    // Input samples between a sample arriving and its copy leaving: kLatency,
    // or 0 at factor 1, which passes the input straight through.
    int latency() const { return m_factor == 1 ? 0 : kLatency; }

    // Forgets the history (a new source, a seek). The next first sample is
    // taken as having been there forever, so the stream starts without a jump.
    void reset() { m_primed = false; }

    // Reads in[c][0..count) for each channel and writes count * factor()
    // outputs to out[c] (room for them provided by the caller): output k is
    // at input position k / factor() - latency(), counted from this block's
    // first sample. Returns the outputs written per channel. No allocation.
    int64_t process(const float* const* in, int64_t count, float* const* out);

    static int heldFactor(int factor);

private:
    static constexpr int kHistory = kTaps - 1;

    int m_channels;
    int m_factor = 1;
    bool m_primed = false;
    std::array<std::array<float, kHistory>, kMaxChannels> m_history{};  // the last 5 inputs, oldest first
};

// Upsamples a whole window with no latency: out[i * factor + p] is at input
// position i + p / factor for i in [0, count). The kernel reads x[-before..-1]
// and x[count..count + after) where they exist; beyond them the first and last
// readable samples stand in, repeated. The factor is held as above.
void upsampleWindow(const float* x, int64_t count, int64_t before, int64_t after, int factor, float* out);
