#pragma once

#include "renderer/BeamModel.h"
#include "renderer/GlFunctions.h"
#include "renderer/ShaderParams.h"

#include <QString>

#include <cstdint>
#include <memory>

class ScopeTexture;

// The GL half of a frame: the programs "applyDecay", "drawBeam",
// "drawWaveform", "drawGrid", the present programs ("fullscreenVertex" +
// "displayFragment" or "displayGlow") and the glow's, the two sample buffers
// the drawing programs read and their parameter blocks. Each pass sets the state it needs; none waits for
// the GPU. Main thread, with the creating context current.
class ScopePasses {
public:
    static constexpr int64_t kSampleCapacity = 65536;  // floats per sample buffer

    // nullptr when a program fails to build or a buffer cannot be made;
    // *error (if given) then says which.
    static std::unique_ptr<ScopePasses> create(GlFunctions* gl, const QString& shaderRoot,
                                               QString* error = nullptr);
    ~ScopePasses();  // needs the context current
    ScopePasses(const ScopePasses&) = delete;
    ScopePasses& operator=(const ScopePasses&) = delete;

    // Multiplies every texel by decay (bounded to 0 ... 1) by blending:
    // exact for finite light, but infinity and NaN stay. Only the texels in
    // `lit` when given: the rest are known to be black.
    void fade(const ScopeTexture& target, float decay);
    void fade(const ScopeTexture& target, float decay, const beam::PixelRect& lit);
    // Sets the texels in `rect` to black.
    void clear(const ScopeTexture& target, const beam::PixelRect& rect);
    // The same with every texel first capped at beam::kMaxTexel and NaN
    // cleared ("applyDecay"): for when light may have overflowed.
    void fadeCapped(const ScopeTexture& target, float decay);
    // Replaces the first count samples of both sample buffers and, when
    // given, of the brightness buffer (read where the params' useBrightness
    // is set). The old storage is orphaned first, so a draw still queued on
    // the GPU keeps the samples it was given.
    void uploadSamples(const float* left, const float* right, int64_t count, const float* brightness = nullptr);
    // Blend the XY trace / the two waveforms of the uploaded samples into
    // the texture (params.count segments' worth of samples, at least 2).
    void drawBeam(const ScopeTexture& target, const BeamParams& params);
    // A window of two or more samples per pixel column is merged per column
    // first (unless mergeColumns is false): the cost follows the width.
    void drawWaveform(const ScopeTexture& target, const WaveformParams& params, bool mergeColumns = true);
    // Whether a window of count samples is merged when drawn width px wide.
    static bool mergesColumns(int64_t count, int width);
    // Shows the texture in `framebuffer` (width x height, the texture's size).
    void present(const ScopeTexture& source, GLuint framebuffer, int width, int height);
    // The same when only the texels in `lit` can hold light: the rest of
    // the view is cleared to the background, which is how black shows.
    // With a glow (from buildGlow) at glowStrength > 0, its light is added
    // ("displayGlow"); without, the program never reads a glow.
    void present(const ScopeTexture& source, GLuint framebuffer, int width, int height, const beam::PixelRect& lit,
                 const ScopeTexture* glow = nullptr, float glowStrength = 0.0f);

    // The glow's blur reaches this many quarter-size texels either way
    // (glowBlur.frag's weights).
    static constexpr int kGlowReach = 5;
    // How far past the light (picture pixels) a glow built over it can show:
    // the blur's reach in both directions, the rounding out to whole
    // quarter-size texels and the texel the present pass filters with.
    static constexpr int kGlowMargin = 4 * kGlowReach + 5;
    // The glow's light for a picture whose light lies within `lit`: the
    // picture at a quarter of its size in `small`, blurred across into
    // `across`, then along into `glow` (all three a quarter of the picture's
    // size, rounded up). Each pass draws only the texels the light can reach,
    // so outside the region of every earlier call since they were last
    // cleared all three must be black.
    void buildGlow(const ScopeTexture& picture, const ScopeTexture& small, const ScopeTexture& across,
                   const ScopeTexture& glow, const beam::PixelRect& lit);
    // Fills `framebuffer` with the background alone: what present() shows
    // for a black picture.
    void presentBackground(GLuint framebuffer, int width, int height);

    GLuint program(const char* name) const;

private:
    explicit ScopePasses(GlFunctions* gl) : m_gl(gl) {}
    void bindSamples();
    void beginBlending(const ScopeTexture& target);
    void endBlending();
    void uploadParams(GLuint buffer, const void* data, GLsizeiptr size);

    GlFunctions* m_gl;
    GLuint m_decayProgram = 0;
    GLuint m_fadeProgram = 0;
    GLuint m_beamProgram = 0;
    GLuint m_waveformProgram = 0;
    GLuint m_mergeProgram = 0;
    GLuint m_sumProgram = 0;
    GLuint m_strokeProgram = 0;
    GLuint m_gridProgram = 0;
    GLuint m_presentProgram = 0;
    GLuint m_glowPresentProgram = 0;
    GLuint m_glowDownProgram = 0;
    GLuint m_glowBlurProgram = 0;
    GLuint m_vertexArray = 0;
    GLuint m_linearSampler = 0;  // the glow's downsample reads the picture between its texels
    GLuint m_leftGPUBuffer = 0;
    GLuint m_rightGPUBuffer = 0;
    GLuint m_brightnessGPUBuffer = 0;
    GLuint m_beamParams = 0;
    GLuint m_waveformParams = 0;
    GLuint m_strokes = 0;             // what the column merge leaves for the stroke draw
    GLuint m_strokeDraw = 0;          // its draw command and each column's first stroke
    GLsizeiptr m_strokeCapacity = 0;  // strokes m_strokes holds
};
