#include "renderer/GlFunctions.h"

#include <QOpenGLContext>

std::unique_ptr<GlFunctions> GlFunctions::load(const std::function<void*(const char*)>& lookUp)
{
    auto gl = std::make_unique<GlFunctions>();
    bool complete = true;
#define ORVALEN_GL_LOOK_UP(name, type)                          \
    gl->name = reinterpret_cast<type>(lookUp(#name));          \
    complete = complete && gl->name != nullptr;
    ORVALEN_GL_FUNCTIONS(ORVALEN_GL_LOOK_UP)
#undef ORVALEN_GL_LOOK_UP
    if (!complete)
        return nullptr;
    GLint major = 0, minor = 0;
    gl->glGetIntegerv(GL_MAJOR_VERSION, &major);
    gl->glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major < 4 || (major == 4 && minor < 3))
        return nullptr;
    return gl;
}

std::unique_ptr<GlFunctions> currentGlFunctions()
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context || context->isOpenGLES() || context->format().version() < qMakePair(4, 3))
        return nullptr;
    return GlFunctions::load(
        [context](const char* name) { return reinterpret_cast<void*>(context->getProcAddress(name)); });
}

void clearGlErrors(GlFunctions* gl)
{
    // Bounded: a lost context may keep reporting.
    for (int i = 0; i < 64 && gl->glGetError() != GL_NO_ERROR; ++i) {
    }
}
