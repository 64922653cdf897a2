#include "renderer/ScopeRenderer.h"

#include "renderer/BeamModel.h"
#include "renderer/ScopePasses.h"

#include <algorithm>
#include <cmath>

static void initShaderResources()
{
    Q_INIT_RESOURCE(renderer_shaders);  // the library is static: pull the embedded files in
}

std::unique_ptr<ScopeRenderer> ScopeRenderer::create(std::shared_ptr<RingBuffer> ring)
{
    initShaderResources();
    return create(std::move(ring), QStringLiteral(":/orvalen/shaders"));
}

std::unique_ptr<ScopeRenderer> ScopeRenderer::create(std::shared_ptr<RingBuffer> ring, const QString& shaderRoot,
                                                     QString* error)
{
    return make(currentGlFunctions(), std::move(ring), shaderRoot, error);
}

std::unique_ptr<ScopeRenderer> ScopeRenderer::create(std::unique_ptr<GlFunctions> gl, std::shared_ptr<RingBuffer> ring,
                                                     QString* error)
{
    initShaderResources();
    return make(std::move(gl), std::move(ring), QStringLiteral(":/orvalen/shaders"), error);
}

std::unique_ptr<ScopeRenderer> ScopeRenderer::make(std::unique_ptr<GlFunctions> gl, std::shared_ptr<RingBuffer> ring,
                                                   const QString& shaderRoot, QString* error)
{
    if (!gl) {
        if (error)
            *error = QStringLiteral("no current OpenGL 4.3 core context");
        return nullptr;
    }
    std::unique_ptr<ScopePasses> passes = ScopePasses::create(gl.get(), shaderRoot, error);
    if (!passes)
        return nullptr;
    std::unique_ptr<ScopeRenderer> renderer(new ScopeRenderer(std::move(gl), std::move(passes)));
    renderer->m_core.ringBuffer = std::move(ring);
    return renderer;
}

ScopeRenderer::ScopeRenderer(std::unique_ptr<GlFunctions> gl, std::unique_ptr<ScopePasses> passes)
    : m_functions(std::move(gl)), m_gl(m_functions.get()), m_passes(std::move(passes))
{
}

ScopeRenderer::~ScopeRenderer()
{
    m_texture.release(m_gl);
    for (ScopeTexture* t : {&m_glowSmall, &m_glowAcross, &m_glow})
        t->release(m_gl);
}

float ScopeRenderer::glowToDraw()
{
    const float strength = std::isfinite(glow) ? std::clamp(glow, 0.0f, 1.0f) : 0.0f;
    if (strength <= 0.0f || !m_texture.valid())
        return 0.0f;
    const int w = (m_texture.width + 3) / 4, h = (m_texture.height + 3) / 4;
    if (m_glow.width != w || m_glow.height != h || !m_glowSmall.valid() || !m_glowAcross.valid() || !m_glow.valid()) {
        if (!m_glowSmall.create(m_gl, w, h) || !m_glowAcross.create(m_gl, w, h) || !m_glow.create(m_gl, w, h))
            return 0.0f;
        m_glowStale = true;
        // The blur reads the edge texel past the edge; the glow is sampled
        // between its texels when shown: a smooth halo, not blocks.
        for (const ScopeTexture* t : {&m_glowSmall, &m_glowAcross, &m_glow}) {
            const GLint filter = t == &m_glow ? GL_LINEAR : GL_NEAREST;
            m_gl->glBindTexture(GL_TEXTURE_2D, t->texture);
            m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
            m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
            m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            m_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        m_gl->glBindTexture(GL_TEXTURE_2D, 0);
    }
    return strength;
}

beam::PixelRect ScopeRenderer::presentedRect(float glowStrength) const
{
    if (glowStrength <= 0.0f || m_litRect.empty())
        return m_litRect;
    return presentedRect(m_litRect, ScopePasses::kGlowMargin);
}

beam::PixelRect ScopeRenderer::presentedRect(const beam::PixelRect& rect, int margin) const
{
    return {std::max(0, rect.x0 - margin), std::max(0, rect.y0 - margin),
            std::min(m_texture.width, rect.x1 + margin), std::min(m_texture.height, rect.y1 + margin)};
}

void ScopeRenderer::resize(int width, int height)
{
    applyTextureSize(width, height);
}

void ScopeRenderer::applyTextureSize(int width, int height)
{
    if (width < 1 || height < 1 || (width == textureWidth && height == textureHeight))
        return;
    // Recorded even when creation fails: no new attempt until the size changes.
    textureWidth = width;
    textureHeight = height;
    m_texture.create(m_gl, width, height);
    m_lightBound = 0.0f;
    m_litRect = {};
    m_glowStale = true;  // a new size may keep the glow's, and its light is from the old picture
}

void ScopeRenderer::presentPicture(GLuint targetFramebuffer, int width, int height)
{
    if (m_resting || !m_texture.valid() || width != m_texture.width || height != m_texture.height)
        m_passes->presentBackground(targetFramebuffer, width, height);
    else
        m_passes->present(m_texture, targetFramebuffer, width, height, presentedRect(m_glowShown), &m_glow,
                          m_glowShown);
}

void ScopeRenderer::draw(GLuint targetFramebuffer, int width, int height)
{
    const int64_t drained = m_core.drainAndTick();
    if (!scopeVisible || width < 1 || height < 1) {
        m_core.dropXYBacklog();
        return;
    }
    applyTextureSize(width, height);
    if (!m_texture.valid()) {
        m_core.dropXYBacklog();
        m_passes->presentBackground(targetFramebuffer, width, height);
        return;
    }

    const BeamSettings settings{intensity,        beamWidth,
                                speedSensitivity, {beamColor[0], beamColor[1], beamColor[2]},
                                xyRotationAngle,  xyGain,
                                waveformGain};
    const bool xy = displayMode == 0;
    if (!xy)
        m_core.dropXYBacklog();
    m_core.upsampling = upsampling;
    m_core.zInput = zInput;
    const int64_t count = xy ? m_core.paceXY(drained) : m_core.prepareWaveformData();

    // Nothing new and everything faded below visibility: the picture is the
    // background, so the frame skips the fade and the drawing altogether.
    m_resting = count < 2 && m_lightBound < beam::invisibleLight();
    if (m_resting) {
        // What light is left shows as background; clearing it lets the lit
        // rectangle start over, so the next trace fades and shows only
        // where it is.
        m_passes->clear(m_texture, m_litRect);
        m_litRect = {};
        m_glowStale = true;
        m_passes->presentBackground(targetFramebuffer, width, height);
        return;
    }

    // Blending fades exactly while all light is in range; only light that
    // may have overflowed needs the capping pass.
    if (m_lightBound <= beam::kMaxTexel)
        m_passes->fade(m_texture, decay, m_litRect);
    else
        m_passes->fadeCapped(m_texture, decay);
    m_lightBound = std::min(m_lightBound, beam::kMaxTexel) * beam::fadeBound(decay);

    if (count >= 2) {
        const beam::Shape shape{beam::sigmaFor(settings.beamWidth), beam::speedExponentFor(settings.speedSensitivity),
                                beam::sanitizedIntensity(intensity),
                                beam::linearColor(std::max({beam::sanitizedColor(beamColor[0]),
                                                            beam::sanitizedColor(beamColor[1]),
                                                            beam::sanitizedColor(beamColor[2])}))};
        if (xy) {
            m_core.applyDisplayFilterXY(count);
            const int64_t points = m_core.reconstructXY(count);
            const float* left = m_core.xyLeftData();
            const float* right = m_core.xyRightData();
            BeamParams params = makeBeamParams(settings, points, width, height);
            params.useBrightness = m_core.xyBrightnessData() != nullptr;
            // Sample steps that the reconstruction barely bends are drawn
            // with fewer parts: within kStraightPx of every point, the
            // picture is the same, and a smooth figure costs what it does
            // without upsampling.
            constexpr float kStraightPx = 0.05f;
            const float pixelsPerUnit = beam::kXYScale * float(std::min(width, height)) * std::fabs(params.xyGain);
            const float reach = beam::kQuadReach * shape.sigma / pixelsPerUnit;
            for (const ScopeFrameCore::XYRun& run : m_core.xyRuns(points, kStraightPx / pixelsPerUnit, reach)) {
                params.stepScale = static_cast<float>(run.partsPerStep);
                // A long path goes up in pieces that share their end points.
                for (int64_t from = 0; from + 1 < run.count; from += ScopePasses::kSampleCapacity - 1) {
                    const int64_t n = std::min(run.count - from, ScopePasses::kSampleCapacity);
                    m_passes->uploadSamples(run.left + from, run.right + from, n,
                                            run.brightness ? run.brightness + from : nullptr);
                    params.count = static_cast<uint32_t>(n);
                    m_passes->drawBeam(m_texture, params);
                }
            }
            m_litRect = beam::unite(m_litRect, beam::xyLitRect(left, right, points, params.xyGain,
                                                               params.xyRotationAngle, params.beamWidth, width,
                                                               height));
            // Each part holds no more than a whole step's light at its peak.
            m_lightBound += static_cast<float>(points - 1) * beam::xySegmentPeakBound(shape);
        } else {
            const float* left = m_core.waveformLeftData();
            const float* right = m_core.waveformRightData();
            const float* brightness = m_core.waveformBrightnessData();
            m_passes->uploadSamples(left, right, count, brightness);
            WaveformParams params = makeWaveformParams(settings, count, width, height);
            params.useBrightness = brightness != nullptr;
            m_passes->drawWaveform(m_texture, params);
            m_litRect = beam::unite(m_litRect, beam::waveformLitRect(left, right, count, waveformGain,
                                                                     beamWidth, width, height));
            m_lightBound += static_cast<float>(2 * (count - 1)) * beam::waveformSegmentPeakBound(shape);
        }
    }
    const float glowStrength = glowToDraw();
    m_glowShown = glowStrength;
    if (glowStrength > 0.0f) {
        if (m_glowStale) {
            for (const ScopeTexture* t : {&m_glowSmall, &m_glowAcross, &m_glow})
                m_passes->clear(*t, {0, 0, t->width, t->height});
            m_glowStale = false;
        }
        m_passes->buildGlow(m_texture, m_glowSmall, m_glowAcross, m_glow, m_litRect);
    }
    m_passes->present(m_texture, targetFramebuffer, width, height, presentedRect(glowStrength), &m_glow,
                      glowStrength);
}
