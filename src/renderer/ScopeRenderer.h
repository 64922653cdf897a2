#pragma once

#include "renderer/BeamModel.h"
#include "renderer/GlFunctions.h"
#include "renderer/ScopeFrameCore.h"
#include "renderer/ScopeTexture.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class RingBuffer;
class ScopePasses;

// The scope picture: once per display frame, draw() has its ScopeFrameCore
// drain the ring buffer into the history and run the meter schedule, then
// fades the persistent RGBA16F picture by `decay`, blends the new XY trace or
// the triggered waveform window into it and shows it in the given framebuffer.
//
// The view creates it in initializeGL with its 4.3 core context current,
// calls resize() from resizeGL and draw() from paintGL, writes the public
// display fields (the picture's here, the samples' on core()) whenever the
// settings change, and destroys it with the context current (the destructor
// frees the GL objects). Main thread only.
class ScopeRenderer {
public:
    // nullptr when there is no current OpenGL 4.3+ context, a program fails
    // to compile or link, or a buffer cannot be made. ring may be null.
    static std::unique_ptr<ScopeRenderer> create(std::shared_ptr<RingBuffer> ring);
    // The same with the shader files read from another folder (tests).
    static std::unique_ptr<ScopeRenderer> create(std::shared_ptr<RingBuffer> ring, const QString& shaderRoot,
                                                 QString* error = nullptr);
    // The same in a context Qt does not know (a headless one), through its
    // functions; nullptr, with the reason in *error, as above.
    static std::unique_ptr<ScopeRenderer> create(std::unique_ptr<GlFunctions> gl, std::shared_ptr<RingBuffer> ring,
                                                 QString* error = nullptr);
    ~ScopeRenderer();
    ScopeRenderer(const ScopeRenderer&) = delete;
    ScopeRenderer& operator=(const ScopeRenderer&) = delete;

    // The frame function: draws into targetFramebuffer, whose drawable is
    // width x height pixels, and leaves that framebuffer bound (blending off,
    // viewport the drawable). Returns without drawing while scopeVisible is
    // false or a side is below 1. While the picture rests (nothing new and
    // all light faded below what the display shows) and when no texture can
    // be made for the size, it only clears the target to the background.
    void draw(GLuint targetFramebuffer, int width, int height);
    // Shows the picture as the last frame left it, without running a frame
    // (nothing drained, faded or drawn): for a snapshot into a framebuffer of
    // the drawable's size. A picture of another size shows as background.
    void presentPicture(GLuint targetFramebuffer, int width, int height);
    // The drawable changed size: a new black picture of that size.
    void resize(int width, int height);

    // Source, trigger, window, display filter and meters.
    ScopeFrameCore& core() { return m_core; }
    const ScopeFrameCore& core() const { return m_core; }

    // Display fields, written by the view.
    //
    // XY picture: left steers x, right y (up), turned counter-clockwise by
    // xyRotationAngle about the centre; an amplitude of 1 at gain 1 reaches
    // 0.45 of the smaller side from the centre. Waveform picture: left in the
    // upper half, right in the lower half, each around its centre line (3/4
    // and 1/4 of the height) with an amplitude of 1 at gain 1 spanning 0.225
    // of the height either way; the window's first sample at the left edge.
    float decay = 0.92f;                 // per-frame fade factor, 0 ... 1
    float intensity = 3.0f;              // light per segment
    float beamWidth = 1.5f;              // the spot's sigma is beamWidth / 2 px (at least 0.5 px)
    float speedSensitivity = 3.0f;       // 10: constant energy per segment (fast = dim); lower: less dimming
    float xyRotationAngle = 0.7853981f;  // radians, counter-clockwise
    std::array<float, 3> beamColor = {0.2f, 1.0f, 0.3f};  // display (sRGB) values
    int64_t displayMode = 0;             // 0 XY, anything else waveform
    float xyGain = 1.0f;
    float waveformGain = 1.0f;
    int64_t upsampling = 1;              // points per sample: 1 (straight segments), 2, 4 or 8
    float glow = 0.0f;                   // a soft halo around the light, 0 (none) ... 1
    int64_t zInput = 0;                  // a third channel's brightness: 0 off, 1 as 0 ... 1, 2 as -1 ... 1
    float timePerDivision = 10.0f;       // kept for the view; the window length is core().displaySampleCount
    bool scopeVisible = true;            // false: frames only drain and tick the meters

    // For tests and benchmarks: the picture (no texture: nullptr). And
    // whether the last drawn frame found nothing to show and skipped the
    // fade and the drawing: every pixel it showed was the background, to
    // an 8-bit display, and so will the next be unless new samples come.
    const ScopeTexture* scopeTexture() const { return m_texture.valid() ? &m_texture : nullptr; }
    bool resting() const { return m_resting; }

private:
    static std::unique_ptr<ScopeRenderer> make(std::unique_ptr<GlFunctions> gl, std::shared_ptr<RingBuffer> ring,
                                               const QString& shaderRoot, QString* error);
    ScopeRenderer(std::unique_ptr<GlFunctions> gl, std::unique_ptr<ScopePasses> passes);
    void applyTextureSize(int width, int height);
    // The glow's strength as drawn (0 ... 1, NaN 0), once its textures exist.
    float glowToDraw();
    // The lit rectangle, widened by the glow's reach when it glows.
    beam::PixelRect presentedRect(float glowStrength) const;
    // `rect` widened by `margin` on every side, within the picture.
    beam::PixelRect presentedRect(const beam::PixelRect& rect, int margin) const;

    ScopeFrameCore m_core;
    std::unique_ptr<GlFunctions> m_functions;
    GlFunctions* m_gl;
    std::unique_ptr<ScopePasses> m_passes;
    ScopeTexture m_texture;
    // The glow's light and the two steps to it (ScopePasses::buildGlow), a
    // quarter of the picture's size, made when the glow is first on.
    ScopeTexture m_glowSmall;
    ScopeTexture m_glowAcross;
    ScopeTexture m_glow;
    bool m_glowStale = true;  // the glow holds light from before the lit rectangle started over
    float m_glowShown = 0.0f; // the glow the last frame showed, built from its picture: what a snapshot shows
    int64_t textureWidth = 0;   // the size last asked for, kept when creation failed
    int64_t textureHeight = 0;
    // Upper bound of the brightest texel channel: below what the display
    // can show, nothing needs fading.
    float m_lightBound = 0.0f;
    // Every texel outside this rectangle is black: the fade and the tone
    // curve run only inside it. Grows with each frame's trace; the picture
    // is cleared and it starts over when the picture comes to rest.
    beam::PixelRect m_litRect;
    bool m_resting = false;
};
