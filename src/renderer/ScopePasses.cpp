#include "renderer/ScopePasses.h"

#include "renderer/BeamModel.h"
#include "renderer/GlProgram.h"
#include "renderer/ScopeTexture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Binding points, as the shaders declare them.
constexpr GLuint kLeftBinding = 0;
constexpr GLuint kRightBinding = 1;
constexpr GLuint kParamsBinding = 2;
constexpr GLuint kStrokesBinding = 3;
constexpr GLuint kStrokeDrawBinding = 4;
constexpr GLuint kBrightnessBinding = 5;
constexpr GLint kColumnsLocation = 0;
constexpr GLsizeiptr kStrokeBytes = 32;        // two vec4 in std430
constexpr GLsizeiptr kDrawCommandBytes = 16;   // glDrawArraysIndirect's four uints
constexpr GLint kDecayLocation = 0;
constexpr GLsizeiptr kParamsBufferSize = 64;  // room for the largest block (52 bytes)

// The renderer's background colour, as a display value.
constexpr GLfloat kBackgroundRgb = beam::kBackground;

}  // namespace

std::unique_ptr<ScopePasses> ScopePasses::create(GlFunctions* gl, const QString& shaderRoot, QString* error)
{
    if (!gl)
        return nullptr;
    std::unique_ptr<ScopePasses> passes(new ScopePasses(gl));
    GlProgramBuilder builder(gl, shaderRoot);
    const auto fail = [&](const QString& why) -> std::unique_ptr<ScopePasses> {
        if (error)
            *error = why;
        return nullptr;
    };

    // Stops at the first program that fails; the destructor frees those built.
    const auto build = [&](GLuint& program, std::initializer_list<GlProgramBuilder::Stage> stages) {
        program = builder.build(stages);
        return program != 0;
    };
    const QStringList segment{QStringLiteral("beamShape.glsl"), QStringLiteral("beamSegment.glsl")};
    const QStringList window{QStringLiteral("waveformWindow.glsl")};
    if (!build(passes->m_beamProgram, {{GL_VERTEX_SHADER, segment + QStringList{"drawBeam.vert"}},
                                       {GL_FRAGMENT_SHADER, {"beamSpot.frag"}}}) ||
        !build(passes->m_decayProgram, {{GL_COMPUTE_SHADER, {"applyDecay.comp"}}}) ||
        !build(passes->m_waveformProgram, {{GL_VERTEX_SHADER, segment + window + QStringList{"drawWaveform.vert"}},
                                           {GL_FRAGMENT_SHADER, {"beamSpot.frag"}}}) ||
        !build(passes->m_mergeProgram,
               {{GL_COMPUTE_SHADER, QStringList{"beamShape.glsl"} + window + QStringList{"mergeWaveform.comp"}}}) ||
        !build(passes->m_sumProgram, {{GL_COMPUTE_SHADER, {"sumStrokes.comp"}}}) ||
        !build(passes->m_strokeProgram, {{GL_VERTEX_SHADER, segment + window + QStringList{"drawStrokes.vert"}},
                                         {GL_FRAGMENT_SHADER, {"beamSpot.frag"}}}) ||
        !build(passes->m_gridProgram, {{GL_COMPUTE_SHADER, {"drawGrid.comp"}}}) ||
        !build(passes->m_fadeProgram, {{GL_VERTEX_SHADER, {"fullscreenVertex.vert"}},
                                       {GL_FRAGMENT_SHADER, {"fadeLight.frag"}}}) ||
        !build(passes->m_presentProgram, {{GL_VERTEX_SHADER, {"fullscreenVertex.vert"}},
                                          {GL_FRAGMENT_SHADER, {"displayTone.glsl", "displayFragment.frag"}}}) ||
        !build(passes->m_glowPresentProgram, {{GL_VERTEX_SHADER, {"fullscreenVertex.vert"}},
                                              {GL_FRAGMENT_SHADER, {"displayTone.glsl", "displayGlow.frag"}}}) ||
        !build(passes->m_glowDownProgram, {{GL_VERTEX_SHADER, {"fullscreenVertex.vert"}},
                                           {GL_FRAGMENT_SHADER, {"glowDownsample.frag"}}}) ||
        !build(passes->m_glowBlurProgram, {{GL_VERTEX_SHADER, {"fullscreenVertex.vert"}},
                                           {GL_FRAGMENT_SHADER, {"glowBlur.frag"}}}))
        return fail(builder.lastError());

    clearGlErrors(gl);
    gl->glGenVertexArrays(1, &passes->m_vertexArray);
    gl->glGenSamplers(1, &passes->m_linearSampler);
    gl->glSamplerParameteri(passes->m_linearSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl->glSamplerParameteri(passes->m_linearSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl->glSamplerParameteri(passes->m_linearSampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl->glSamplerParameteri(passes->m_linearSampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    GLuint buffers[7] = {};
    gl->glGenBuffers(7, buffers);
    passes->m_leftGPUBuffer = buffers[0];
    passes->m_rightGPUBuffer = buffers[1];
    passes->m_beamParams = buffers[2];
    passes->m_waveformParams = buffers[3];
    passes->m_strokes = buffers[4];
    passes->m_strokeDraw = buffers[5];
    passes->m_brightnessGPUBuffer = buffers[6];
    for (GLuint buffer : {buffers[0], buffers[1], buffers[6]}) {
        gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, buffer);
        gl->glBufferData(GL_SHADER_STORAGE_BUFFER, kSampleCapacity * GLsizeiptr(sizeof(float)), nullptr,
                         GL_STREAM_DRAW);
    }
    gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
    for (GLuint buffer : {buffers[2], buffers[3]}) {
        gl->glBindBuffer(GL_UNIFORM_BUFFER, buffer);
        gl->glBufferData(GL_UNIFORM_BUFFER, kParamsBufferSize, nullptr, GL_STREAM_DRAW);
    }
    gl->glBindBuffer(GL_UNIFORM_BUFFER, 0);
    if (gl->glGetError() != GL_NO_ERROR || passes->m_vertexArray == 0 || passes->m_linearSampler == 0 ||
        buffers[0] == 0 || buffers[1] == 0 || buffers[2] == 0 || buffers[3] == 0 || buffers[4] == 0 ||
        buffers[5] == 0 || buffers[6] == 0)
        return fail(QStringLiteral("could not create the sample buffers"));
    return passes;
}

ScopePasses::~ScopePasses()
{
    for (GLuint program : {m_decayProgram, m_fadeProgram, m_beamProgram, m_waveformProgram, m_mergeProgram,
                           m_sumProgram, m_strokeProgram, m_gridProgram, m_presentProgram, m_glowPresentProgram,
                           m_glowDownProgram, m_glowBlurProgram})
        if (program != 0)
            m_gl->glDeleteProgram(program);
    const GLuint buffers[7] = {m_leftGPUBuffer, m_rightGPUBuffer, m_beamParams, m_waveformParams,
                               m_strokes,       m_strokeDraw,     m_brightnessGPUBuffer};
    m_gl->glDeleteBuffers(7, buffers);  // zeros are ignored
    if (m_vertexArray != 0)
        m_gl->glDeleteVertexArrays(1, &m_vertexArray);
    if (m_linearSampler != 0)
        m_gl->glDeleteSamplers(1, &m_linearSampler);
}

GLuint ScopePasses::program(const char* name) const
{
    const auto is = [name](const char* candidate) { return std::strcmp(name, candidate) == 0; };
    if (is("applyDecay"))
        return m_decayProgram;
    if (is("drawBeam"))
        return m_beamProgram;
    if (is("drawWaveform"))
        return m_waveformProgram;
    if (is("drawGrid"))
        return m_gridProgram;
    if (is("fullscreenVertex") || is("displayFragment"))
        return m_presentProgram;
    return 0;
}

void ScopePasses::fade(const ScopeTexture& target, float decay)
{
    fade(target, decay, beam::PixelRect{0, 0, target.width, target.height});
}

void ScopePasses::fade(const ScopeTexture& target, float decay, const beam::PixelRect& lit)
{
    if (lit.empty())
        return;
    const float d = beam::sanitizedDecay(decay);
    beginBlending(target);
    m_gl->glEnable(GL_SCISSOR_TEST);
    m_gl->glScissor(lit.x0, lit.y0, lit.width(), lit.height());
    m_gl->glBlendFunc(GL_ZERO, GL_CONSTANT_COLOR);  // texel * decay
    m_gl->glBlendColor(d, d, d, d);
    m_gl->glUseProgram(m_fadeProgram);
    m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_gl->glDisable(GL_SCISSOR_TEST);
    endBlending();
}

void ScopePasses::clear(const ScopeTexture& target, const beam::PixelRect& rect)
{
    if (rect.empty())
        return;
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    m_gl->glEnable(GL_SCISSOR_TEST);
    m_gl->glScissor(rect.x0, rect.y0, rect.width(), rect.height());
    m_gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    const GLfloat black[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    m_gl->glClearBufferfv(GL_COLOR, 0, black);
    m_gl->glDisable(GL_SCISSOR_TEST);
}

void ScopePasses::fadeCapped(const ScopeTexture& target, float decay)
{
    m_gl->glUseProgram(m_decayProgram);
    m_gl->glUniform1f(kDecayLocation, beam::sanitizedDecay(decay));
    m_gl->glBindImageTexture(0, target.texture, 0, GL_FALSE, 0, GL_READ_WRITE, GL_RGBA16F);
    m_gl->glDispatchCompute(static_cast<GLuint>((target.width + 15) / 16),
                            static_cast<GLuint>((target.height + 15) / 16), 1);
    // The drawing passes blend into the same texels through the framebuffer,
    // and the present pass samples them.
    m_gl->glMemoryBarrier(GL_FRAMEBUFFER_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT);
    m_gl->glBindImageTexture(0, 0, 0, GL_FALSE, 0, GL_READ_WRITE, GL_RGBA16F);
}

void ScopePasses::uploadSamples(const float* left, const float* right, int64_t count, const float* brightness)
{
    const GLsizeiptr bytes = static_cast<GLsizeiptr>(std::clamp<int64_t>(count, 0, kSampleCapacity)) *
                             GLsizeiptr(sizeof(float));
    const GLsizeiptr capacity = kSampleCapacity * GLsizeiptr(sizeof(float));
    for (auto [buffer, data] : {std::pair{m_leftGPUBuffer, left}, std::pair{m_rightGPUBuffer, right},
                                std::pair{m_brightnessGPUBuffer, brightness}}) {
        if (data == nullptr)
            continue;
        m_gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, buffer);
        m_gl->glBufferData(GL_SHADER_STORAGE_BUFFER, capacity, nullptr, GL_STREAM_DRAW);  // orphan
        m_gl->glBufferSubData(GL_SHADER_STORAGE_BUFFER, 0, bytes, data);
    }
    m_gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
}

void ScopePasses::uploadParams(GLuint buffer, const void* data, GLsizeiptr size)
{
    m_gl->glBindBuffer(GL_UNIFORM_BUFFER, buffer);
    m_gl->glBufferData(GL_UNIFORM_BUFFER, kParamsBufferSize, nullptr, GL_STREAM_DRAW);
    m_gl->glBufferSubData(GL_UNIFORM_BUFFER, 0, size, data);
    m_gl->glBindBuffer(GL_UNIFORM_BUFFER, 0);
    m_gl->glBindBufferBase(GL_UNIFORM_BUFFER, kParamsBinding, buffer);
}

void ScopePasses::bindSamples()
{
    m_gl->glBindBufferBase(GL_SHADER_STORAGE_BUFFER, kLeftBinding, m_leftGPUBuffer);
    m_gl->glBindBufferBase(GL_SHADER_STORAGE_BUFFER, kRightBinding, m_rightGPUBuffer);
    m_gl->glBindBufferBase(GL_SHADER_STORAGE_BUFFER, kBrightnessBinding, m_brightnessGPUBuffer);
}

void ScopePasses::beginBlending(const ScopeTexture& target)
{
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    m_gl->glViewport(0, 0, target.width, target.height);
    m_gl->glDisable(GL_SCISSOR_TEST);
    m_gl->glDisable(GL_DEPTH_TEST);
    m_gl->glDisable(GL_STENCIL_TEST);
    m_gl->glDisable(GL_CULL_FACE);
    m_gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    // Light adds up: order-independent, so the same samples always give the
    // same picture.
    m_gl->glEnable(GL_BLEND);
    m_gl->glBlendEquation(GL_FUNC_ADD);
    m_gl->glBlendFunc(GL_ONE, GL_ONE);
    m_gl->glBindVertexArray(m_vertexArray);
    bindSamples();
}

void ScopePasses::endBlending()
{
    m_gl->glDisable(GL_BLEND);
    m_gl->glBindVertexArray(0);
}

void ScopePasses::drawBeam(const ScopeTexture& target, const BeamParams& params)
{
    if (params.count < 2)
        return;
    uploadParams(m_beamParams, &params, sizeof(params));
    beginBlending(target);
    m_gl->glUseProgram(m_beamProgram);
    m_gl->glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, static_cast<GLsizei>(params.count - 1));
    endBlending();
}

bool ScopePasses::mergesColumns(int64_t count, int width)
{
    return width > 0 && count - 1 >= 2 * int64_t(width);
}

void ScopePasses::drawWaveform(const ScopeTexture& target, const WaveformParams& params, bool mergeColumns)
{
    if (params.count < 2)
        return;
    uploadParams(m_waveformParams, &params, sizeof(params));
    if (!mergeColumns || !mergesColumns(params.count, int(params.width))) {
        beginBlending(target);
        m_gl->glUseProgram(m_waveformProgram);
        m_gl->glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, static_cast<GLsizei>(2 * (params.count - 1)));
        endBlending();
        return;
    }
    // Two or more samples per column: the merge leaves at most
    // kStrokesPerColumn strokes per column and channel, and the draw
    // command holds how many there are.
    const GLuint columns = 2 * params.width;
    const GLsizeiptr strokeSlots = GLsizeiptr(kStrokesPerColumn) * GLsizeiptr(columns);
    if (m_strokeCapacity < strokeSlots) {
        m_gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, m_strokes);
        m_gl->glBufferData(GL_SHADER_STORAGE_BUFFER, strokeSlots * kStrokeBytes, nullptr, GL_DYNAMIC_COPY);
        m_gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, m_strokeDraw);
        m_gl->glBufferData(GL_SHADER_STORAGE_BUFFER, kDrawCommandBytes + GLsizeiptr(columns) * GLsizeiptr(sizeof(GLuint)),
                           nullptr, GL_DYNAMIC_COPY);
        m_gl->glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
        m_strokeCapacity = strokeSlots;
    }
    bindSamples();
    m_gl->glBindBufferBase(GL_SHADER_STORAGE_BUFFER, kStrokesBinding, m_strokes);
    m_gl->glBindBufferBase(GL_SHADER_STORAGE_BUFFER, kStrokeDrawBinding, m_strokeDraw);
    m_gl->glUseProgram(m_mergeProgram);
    m_gl->glUniform1ui(kColumnsLocation, params.width);
    m_gl->glDispatchCompute((params.width + 63) / 64, 2, 1);
    m_gl->glMemoryBarrier(GL_SHADER_STORAGE_BARRIER_BIT);
    m_gl->glUseProgram(m_sumProgram);
    m_gl->glUniform1ui(kColumnsLocation, columns);
    m_gl->glDispatchCompute(1, 1, 1);
    m_gl->glMemoryBarrier(GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);
    beginBlending(target);
    m_gl->glUseProgram(m_strokeProgram);
    m_gl->glUniform1ui(kColumnsLocation, columns);
    m_gl->glBindBuffer(GL_DRAW_INDIRECT_BUFFER, m_strokeDraw);
    m_gl->glDrawArraysIndirect(GL_TRIANGLE_STRIP, nullptr);
    m_gl->glBindBuffer(GL_DRAW_INDIRECT_BUFFER, 0);
    endBlending();
}

void ScopePasses::present(const ScopeTexture& source, GLuint framebuffer, int width, int height)
{
    present(source, framebuffer, width, height, beam::PixelRect{0, 0, width, height});
}

void ScopePasses::buildGlow(const ScopeTexture& picture, const ScopeTexture& small, const ScopeTexture& across,
                            const ScopeTexture& glow, const beam::PixelRect& lit)
{
    // The quarter-size texels the light falls in; the blur spreads it by
    // kGlowReach texels, across and then along. Farther out every pass would
    // only write the black that is there already.
    const beam::PixelRect inner{std::max(0, lit.x0 / 4), std::max(0, lit.y0 / 4),
                                std::min(small.width, (lit.x1 + 3) / 4), std::min(small.height, (lit.y1 + 3) / 4)};
    if (inner.empty())
        return;
    const auto widened = [&](int dx, int dy) {
        return beam::PixelRect{std::max(0, inner.x0 - dx), std::max(0, inner.y0 - dy),
                               std::min(small.width, inner.x1 + dx), std::min(small.height, inner.y1 + dy)};
    };
    m_gl->glDisable(GL_BLEND);
    m_gl->glEnable(GL_SCISSOR_TEST);
    m_gl->glDisable(GL_FRAMEBUFFER_SRGB);
    m_gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    m_gl->glBindVertexArray(m_vertexArray);
    m_gl->glActiveTexture(GL_TEXTURE0);
    const auto pass = [&](GLuint program, const ScopeTexture& from, const ScopeTexture& to,
                          const beam::PixelRect& region) {
        m_gl->glBindFramebuffer(GL_FRAMEBUFFER, to.framebuffer);
        m_gl->glViewport(0, 0, to.width, to.height);
        m_gl->glScissor(region.x0, region.y0, region.width(), region.height());
        m_gl->glUseProgram(program);
        m_gl->glBindTexture(GL_TEXTURE_2D, from.texture);
        m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    };
    m_gl->glBindSampler(0, m_linearSampler);
    pass(m_glowDownProgram, picture, small, inner);
    m_gl->glBindSampler(0, 0);
    m_gl->glUseProgram(m_glowBlurProgram);
    m_gl->glUniform1ui(0, 1);
    pass(m_glowBlurProgram, small, across, widened(kGlowReach, 0));
    m_gl->glUniform1ui(0, 0);
    pass(m_glowBlurProgram, across, glow, widened(kGlowReach, kGlowReach));
    m_gl->glDisable(GL_SCISSOR_TEST);
    m_gl->glBindTexture(GL_TEXTURE_2D, 0);
    m_gl->glBindVertexArray(0);
    m_gl->glUseProgram(0);
}

void ScopePasses::present(const ScopeTexture& source, GLuint framebuffer, int width, int height,
                          const beam::PixelRect& lit, const ScopeTexture* glow, float glowStrength)
{
    const bool whole = lit.x0 <= 0 && lit.y0 <= 0 && lit.x1 >= width && lit.y1 >= height;
    if (lit.empty()) {
        presentBackground(framebuffer, width, height);
        return;
    }
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    m_gl->glViewport(0, 0, width, height);
    m_gl->glDisable(GL_BLEND);
    m_gl->glDisable(GL_SCISSOR_TEST);
    m_gl->glDisable(GL_DEPTH_TEST);
    m_gl->glDisable(GL_FRAMEBUFFER_SRGB);  // the shader encodes for the display itself
    m_gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    // Black light comes out as the background colour: no clear under the lit part.
    if (!whole) {
        m_gl->glEnable(GL_SCISSOR_TEST);
        m_gl->glScissor(lit.x0, lit.y0, lit.width(), lit.height());
    }
    const bool glowing = glow && glow->valid() && glowStrength > 0.0f;
    m_gl->glUseProgram(glowing ? m_glowPresentProgram : m_presentProgram);
    if (glowing) {
        m_gl->glUniform1f(0, glowStrength);
        m_gl->glActiveTexture(GL_TEXTURE1);
        m_gl->glBindTexture(GL_TEXTURE_2D, glow->texture);
    }
    m_gl->glActiveTexture(GL_TEXTURE0);
    m_gl->glBindTexture(GL_TEXTURE_2D, source.texture);
    m_gl->glBindVertexArray(m_vertexArray);
    m_gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_gl->glBindVertexArray(0);
    m_gl->glBindTexture(GL_TEXTURE_2D, 0);
    if (glowing) {
        m_gl->glActiveTexture(GL_TEXTURE1);
        m_gl->glBindTexture(GL_TEXTURE_2D, 0);
        m_gl->glActiveTexture(GL_TEXTURE0);
    }
    m_gl->glUseProgram(0);
    if (!whole) {
        // The rest of the view is background: clears, far cheaper per pixel
        // than the tone curve. After the draw, not before: with a whole-view
        // clear first, llvmpipe's picture varied from run to run (as if the
        // next frame's fade overtook this pass's reads).
        m_gl->glClearColor(kBackgroundRgb, kBackgroundRgb, kBackgroundRgb, 1.0f);
        const beam::PixelRect strips[4] = {{0, 0, width, lit.y0},
                                           {0, lit.y1, width, height},
                                           {0, lit.y0, lit.x0, lit.y1},
                                           {lit.x1, lit.y0, width, lit.y1}};
        for (const beam::PixelRect& strip : strips) {
            if (strip.empty())
                continue;
            m_gl->glScissor(strip.x0, strip.y0, strip.width(), strip.height());
            m_gl->glClear(GL_COLOR_BUFFER_BIT);
        }
    }
    m_gl->glDisable(GL_SCISSOR_TEST);
}

void ScopePasses::presentBackground(GLuint framebuffer, int width, int height)
{
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    m_gl->glViewport(0, 0, width, height);
    m_gl->glDisable(GL_SCISSOR_TEST);
    m_gl->glDisable(GL_FRAMEBUFFER_SRGB);
    m_gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    m_gl->glClearColor(kBackgroundRgb, kBackgroundRgb, kBackgroundRgb, 1.0f);
    m_gl->glClear(GL_COLOR_BUFFER_BIT);
}
