#pragma once

// A ScopeRenderer on an offscreen 4.3 core context, drawing into a target
// framebuffer of its own (an RGBA8 texture standing in for the view's), with
// read-back helpers. Skips the test when no such context exists.

#include "renderer/GlTestContext.h"

#include "audio/RingBuffer.h"
#include "renderer/BeamModel.h"
#include "renderer/GlFunctions.h"
#include "renderer/ScopeRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

class GlScopeTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    static constexpr double kPi = 3.14159265358979323846;

    static void SetUpTestSuite() { s_gl = new GlTestContext; }
    static void TearDownTestSuite()
    {
        delete s_gl;
        s_gl = nullptr;
    }

    void SetUp() override
    {
        if (!s_gl->available())
            GTEST_SKIP() << "OpenGL 4.3 core unavailable: " << s_gl->why();
        s_gl->makeCurrent();
        gl = currentGlFunctions();
        ASSERT_NE(gl, nullptr);
        clearGlErrors(gl);
        ring = std::make_shared<RingBuffer>(65536, 2);
        renderer = ScopeRenderer::create(ring);
        ASSERT_NE(renderer, nullptr);
        makeTarget(kWidth, kHeight);
    }

    void TearDown() override
    {
        if (!gl)
            return;
        renderer.reset();
        gl->glDeleteFramebuffers(1, &targetFramebuffer);
        gl->glDeleteTextures(1, &targetTexture);
        EXPECT_EQ(gl->glGetError(), GLenum(GL_NO_ERROR));
    }

    void makeTarget(int w, int h)
    {
        gl->glGenTextures(1, &targetTexture);
        gl->glBindTexture(GL_TEXTURE_2D, targetTexture);
        gl->glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, w, h);
        gl->glBindTexture(GL_TEXTURE_2D, 0);
        gl->glGenFramebuffers(1, &targetFramebuffer);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
        gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, targetTexture, 0);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }

    // Interleaves and writes frames into the ring buffer.
    void feed(const std::vector<float>& left, const std::vector<float>& right)
    {
        std::vector<float> frames(2 * left.size());
        for (size_t i = 0; i < left.size(); ++i) {
            frames[2 * i] = left[i];
            frames[2 * i + 1] = right[i];
        }
        ring->write(frames.data(), static_cast<int64_t>(left.size()));
    }

    // n frames of (left(i), right(i)).
    void feed(int64_t n, const std::function<std::pair<float, float>(int64_t)>& f)
    {
        std::vector<float> l(static_cast<size_t>(n)), r(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i)
            std::tie(l[size_t(i)], r[size_t(i)]) = f(i);
        feed(l, r);
    }

    void frame(int w = kWidth, int h = kHeight) { renderer->draw(targetFramebuffer, w, h); }

public:
    // The scope texture's linear light, row 0 at the bottom.
    struct Light {
        int width = 0;
        int height = 0;
        std::vector<float> rgba;
        float at(int x, int y, int c) const { return rgba[(size_t(y) * size_t(width) + size_t(x)) * 4 + size_t(c)]; }
        float hottest(int x, int y) const { return std::max({at(x, y, 0), at(x, y, 1), at(x, y, 2)}); }
        double total(int c) const
        {
            double sum = 0;
            for (size_t i = size_t(c); i < rgba.size(); i += 4)
                sum += rgba[i];
            return sum;
        }
        float maximum() const
        {
            float m = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    m = std::max(m, hottest(x, y));
            return m;
        }
    };

protected:
    Light scope() const
    {
        const ScopeTexture* texture = renderer->scopeTexture();
        Light light;
        if (!texture)
            return light;
        light.width = texture->width;
        light.height = texture->height;
        light.rgba.resize(size_t(light.width) * size_t(light.height) * 4);
        gl->glBindTexture(GL_TEXTURE_2D, texture->texture);
        gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, light.rgba.data());
        gl->glBindTexture(GL_TEXTURE_2D, 0);
        return light;
    }

    // What the view would show: RGBA8, row 0 at the bottom.
    std::vector<uint8_t> shown(int w = kWidth, int h = kHeight) const
    {
        std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
        gl->glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    static GlTestContext* s_gl;
    GlFunctions* gl = nullptr;
    std::shared_ptr<RingBuffer> ring;
    std::unique_ptr<ScopeRenderer> renderer;
    GLuint targetTexture = 0;
    GLuint targetFramebuffer = 0;
};

inline GlTestContext* GlScopeTest::s_gl = nullptr;
