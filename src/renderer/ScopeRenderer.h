#pragma once

#include "renderer/GlFunctions.h"
#include "renderer/ScopeFrameCore.h"
#include "renderer/ScopeTexture.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class RingBuffer;
class ScopePasses;

// The scope picture: once per display frame, draw() drains the ring buffer
// into the history and runs the meter schedule (ScopeFrameCore), then fades
// the persistent RGBA16F picture by `decay`, blends the new XY trace or the
// triggered waveform window into it and shows it in the given framebuffer.
//
// The view creates it in initializeGL with its 4.3 core context current,
// calls resize() from resizeGL and draw() from paintGL, writes the public
// display fields whenever the settings change, and destroys it with the
// context current (the destructor frees the GL objects). Main thread only.
class ScopeRenderer : public ScopeFrameCore {
public:
    // nullptr when there is no current 4.3 core context, a program fails to
    // compile or link, or a buffer cannot be made. ring may be null.
    static std::unique_ptr<ScopeRenderer> create(std::shared_ptr<RingBuffer> ring);
    // The same with the shader files read from another folder (tests).
    static std::unique_ptr<ScopeRenderer> create(std::shared_ptr<RingBuffer> ring, const QString& shaderRoot,
                                                 QString* error = nullptr);
    ~ScopeRenderer() override;

    // The frame function: draws into targetFramebuffer, whose drawable is
    // width x height pixels, and leaves that framebuffer bound. Returns
    // without drawing while scopeVisible is false or a side is below 1.
    void draw(GLuint targetFramebuffer, int width, int height);
    // The drawable changed size: a new black picture of that size.
    void resize(int width, int height);

    // Display fields, written by the view.
    float decay = 0.92f;
    float intensity = 3.0f;
    float beamWidth = 1.5f;
    float speedSensitivity = 3.0f;
    float xyRotationAngle = 0.7853981f;  // radians, counter-clockwise
    std::array<float, 3> beamColor = {0.2f, 1.0f, 0.3f};
    int64_t displayMode = 0;             // 0 XY, anything else waveform
    float xyGain = 1.0f;
    float waveformGain = 1.0f;
    float timePerDivision = 10.0f;       // kept for the view; the window length is displaySampleCount

    // For tests and benchmarks: the picture (no texture: nullptr), and
    // whether the last drawn frame found nothing to show and skipped the
    // fade and the drawing.
    const ScopeTexture* scopeTexture() const { return m_texture.valid() ? &m_texture : nullptr; }
    bool resting() const { return m_resting; }

private:
    ScopeRenderer(GlFunctions* gl, std::unique_ptr<ScopePasses> passes);
    void applyTextureSize(int width, int height);

    GlFunctions* m_gl;
    std::unique_ptr<ScopePasses> m_passes;
    ScopeTexture m_texture;
    int64_t textureWidth = 0;   // the size last asked for, kept when creation failed
    int64_t textureHeight = 0;
    // Upper bound of the brightest texel channel: below what the display
    // can show, nothing needs fading.
    float m_lightBound = 0.0f;
    bool m_resting = false;
};
