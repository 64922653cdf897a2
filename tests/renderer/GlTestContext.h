#pragma once

// An OpenGL 4.3 core context on an offscreen surface, for the GL tests and
// the GL benchmarks. Needs a real platform with GL (Xvfb + Mesa under the
// test script); with none, available() is false and why() says so.

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <memory>
#include <string>

class GlTestContext {
public:
    GlTestContext()
    {
        QSurfaceFormat format;
        format.setRenderableType(QSurfaceFormat::OpenGL);
        format.setVersion(4, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        m_context = std::make_unique<QOpenGLContext>();
        m_context->setFormat(format);
        if (!m_context->create()) {
            m_why = "no OpenGL context could be created";
            return;
        }
        const QSurfaceFormat got = m_context->format();
        if (got.version() < qMakePair(4, 3) || got.profile() != QSurfaceFormat::CoreProfile) {
            m_why = "no OpenGL 4.3 core profile context (got " + std::to_string(got.majorVersion()) + "." +
                    std::to_string(got.minorVersion()) + ", profile " + std::to_string(int(got.profile())) + ")";
            return;
        }
        m_surface = std::make_unique<QOffscreenSurface>();
        m_surface->setFormat(got);
        m_surface->create();
        if (!m_surface->isValid() || !m_context->makeCurrent(m_surface.get())) {
            m_why = "the offscreen surface cannot be made current";
            return;
        }
        m_ok = true;
    }

    ~GlTestContext()
    {
        if (m_ok)
            m_context->doneCurrent();
    }

    bool available() const { return m_ok; }
    const std::string& why() const { return m_why; }
    QOpenGLContext* context() const { return m_context.get(); }
    void makeCurrent() { m_context->makeCurrent(m_surface.get()); }

private:
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOffscreenSurface> m_surface;
    bool m_ok = false;
    std::string m_why;
};
