#include "renderer/GlFunctions.h"

#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>

GlFunctions* currentGlFunctions()
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context || context->isOpenGLES())
        return nullptr;
    const QSurfaceFormat format = context->format();
    if (format.version() < qMakePair(4, 3))
        return nullptr;
    auto* gl = QOpenGLVersionFunctionsFactory::get<GlFunctions>(context);
    if (!gl || !gl->initializeOpenGLFunctions())
        return nullptr;
    return gl;
}

void clearGlErrors(GlFunctions* gl)
{
    // Bounded: a lost context may keep reporting.
    for (int i = 0; i < 64 && gl->glGetError() != GL_NO_ERROR; ++i) {
    }
}
