#include "renderer/ScopeTexture.h"

bool ScopeTexture::create(GlFunctions* gl, int w, int h)
{
    release(gl);
    GLint maxSize = 0;
    GLint maxFbWidth = 0;
    GLint maxFbHeight = 0;
    gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    gl->glGetIntegerv(GL_MAX_FRAMEBUFFER_WIDTH, &maxFbWidth);
    gl->glGetIntegerv(GL_MAX_FRAMEBUFFER_HEIGHT, &maxFbHeight);
    if (w < 1 || h < 1 || w > maxSize || h > maxSize || w > maxFbWidth || h > maxFbHeight ||
        static_cast<long long>(w) * h > kMaxPixels)
        return false;

    GLint previousFramebuffer = 0;
    gl->glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previousFramebuffer);
    clearGlErrors(gl);
    gl->glGenTextures(1, &texture);
    gl->glBindTexture(GL_TEXTURE_2D, texture);
    gl->glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA16F, w, h);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    gl->glGenFramebuffers(1, &framebuffer);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    bool ok = gl->glGetError() == GL_NO_ERROR &&
              gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (ok) {
        gl->glDisable(GL_SCISSOR_TEST);
        gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        const GLfloat black[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        gl->glClearBufferfv(GL_COLOR, 0, black);
        ok = gl->glGetError() == GL_NO_ERROR;
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
    if (!ok) {
        release(gl);
        return false;
    }
    width = w;
    height = h;
    return true;
}

void ScopeTexture::release(GlFunctions* gl)
{
    if (framebuffer != 0)
        gl->glDeleteFramebuffers(1, &framebuffer);
    if (texture != 0)
        gl->glDeleteTextures(1, &texture);
    framebuffer = texture = 0;
    width = height = 0;
}
