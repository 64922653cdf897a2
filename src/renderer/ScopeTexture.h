#pragma once

#include "renderer/GlFunctions.h"

// The accumulated picture: an RGBA16F texture the size of the drawable, with
// the framebuffer the drawing passes blend into. A new texture starts black.
class ScopeTexture {
public:
    // Largest picture accepted: 64 Mpx (512 MiB of half floats). Beyond it,
    // and beyond the driver's limits, creation fails rather than asking a
    // software rasteriser to fade gigabytes every frame.
    static constexpr long long kMaxPixels = 64ll * 1024 * 1024;

    // Replaces the texture (the picture is lost). false when the size is
    // refused or the driver cannot make it; there is no texture then.
    bool create(GlFunctions* gl, int width, int height);
    void release(GlFunctions* gl);

    bool valid() const { return texture != 0; }

    GLuint texture = 0;
    GLuint framebuffer = 0;
    int width = 0;
    int height = 0;
};
