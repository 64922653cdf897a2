#pragma once

// A ScopeRenderer on a 4.3 core context, with read-back and comparison of
// pictures: with tolerances, since llvmpipe's half floats round and Mesa builds differ.

#include "renderer/GlTestContext.h"
#include "support/TestSupport.h"

#include "audio/RingBuffer.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

// Linear light of the scope texture, row 0 at the bottom.
struct Light {
    int width = 0, height = 0;
    std::vector<float> rgba;
    float at(int x, int y, int c) const { return rgba[(size_t(y) * size_t(width) + size_t(x)) * 4 + size_t(c)]; }
    float hottest(int x, int y) const { return std::max({at(x, y, 0), at(x, y, 1), at(x, y, 2)}); }
    float maximum() const { return rgba.empty() ? 0.0f : *std::max_element(rgba.begin(), rgba.end()); }
    double total(int c) const
    {
        double sum = 0;
        for (size_t i = size_t(c); i < rgba.size(); i += 4)
            sum += rgba[i];
        return sum;
    }
};

// The largest difference between two pictures, relative to the light plus `floor`.
inline double worstRelativeDifference(const Light& a, const Light& b, double floor = 1e-3)
{
    double worst = a.rgba.size() == b.rgba.size() ? 0.0 : HUGE_VAL;
    for (size_t i = 0; i < std::min(a.rgba.size(), b.rgba.size()); ++i)
        worst = std::max(worst, std::fabs(double(a.rgba[i]) - b.rgba[i]) / (floor + std::fabs(double(a.rgba[i]))));
    return worst;
}

class GlScopeTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 320, kHeight = 240;

    static void SetUpTestSuite() { s_gl = new GlTestContext; }
    static void TearDownTestSuite() { delete s_gl; }
    void SetUp() override
    {
        if (!s_gl->created())
            GTEST_SKIP() << s_gl->why();
        ASSERT_TRUE(s_gl->available()) << s_gl->why();  // some GL, but not the core profile the app needs
        s_gl->makeCurrent();
        functions = currentGlFunctions();
        clearGlErrors(gl = functions.get());
        ASSERT_NE(renderer = ScopeRenderer::create(ring), nullptr);
        ASSERT_TRUE(target.create(gl, kWidth, kHeight));
    }
    void TearDown() override
    {
        if (renderer) {
            renderer.reset(), target.release(gl);
            EXPECT_EQ(gl->glGetError(), GLenum(GL_NO_ERROR));
        }
    }

    void feed(const std::vector<float>& left, const std::vector<float>& right)
    {
        ring->write(test::interleave(left, right).data(), int64_t(left.size()));
    }
    void feedCircle(int64_t n) { feed(test::sine(n, 48000, 240, 0.5), test::sine(n, 48000, 240, 0.5, test::kPi / 2)); }
    void frame(int w = kWidth, int h = kHeight) { renderer->draw(target.framebuffer, w, h); }
    // One frame of these samples on a fresh black picture.
    Light draw(const std::vector<float>& left, const std::vector<float>& right)
    {
        renderer->resize(kWidth, kHeight + 1);
        renderer->resize(kWidth, kHeight);
        feed(left, right);
        frame();
        return scope();
    }
    Light scope() const { return read(renderer->scopeTexture()); }
    Light read(const ScopeTexture* t) const
    {
        Light light;
        if (t) {
            light = {t->width, t->height, std::vector<float>(size_t(t->width) * size_t(t->height) * 4)};
            gl->glBindTexture(GL_TEXTURE_2D, t->texture);
            gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, light.rgba.data());
        }
        return light;
    }
    // What the view shows, in 8 bits, row 0 at the bottom.
    std::vector<uint8_t> shown() const
    {
        std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
        gl->glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    // The largest gap, in 8-bit steps, between what the view shows and the display mapping of the light.
    float displayGap(const Light& light) const
    {
        const auto pixels = shown();
        float gap = 0;
        for (size_t i = 0; i < pixels.size(); ++i) {
            const int x = int(i / 4) % kWidth, y = int(i / 4) / kWidth;
            if (i % 4 != 3)
                gap = std::max(gap, std::fabs(255 * beam::displayValue(light.rgba[i], light.hottest(x, y)) - pixels[i]));
        }
        return gap;
    }

    static inline GlTestContext* s_gl = nullptr;
    std::unique_ptr<GlFunctions> functions;
    GlFunctions* gl = nullptr;
    std::shared_ptr<RingBuffer> ring = std::make_shared<RingBuffer>(65536, 2);
    std::unique_ptr<ScopeRenderer> renderer;
    ScopeTexture target;  // stands in for the view's framebuffer
};
