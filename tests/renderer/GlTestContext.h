#pragma once

// An OpenGL 4.3 core context on an offscreen surface, for the GL tests and
// benchmarks. Needs a platform with GL (Xvfb + Mesa under the test script);
// offscreen Qt hands out a compatibility context that hides core mistakes.

#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <string>

class GlTestContext {
public:
    GlTestContext()
    {
        QSurfaceFormat format;
        format.setVersion(4, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        m_context.setFormat(format);
        m_created = m_context.create();
        const QSurfaceFormat got = m_context.format();
        m_surface.setFormat(got);
        m_surface.create();
        if (!m_created || got.version() < qMakePair(4, 3) || got.profile() != QSurfaceFormat::CoreProfile)
            m_why = m_created ? "no OpenGL 4.3 core profile context" : "no OpenGL context could be created";
        else if (!m_context.makeCurrent(&m_surface))
            m_why = "the offscreen surface cannot be made current";
    }
    ~GlTestContext() { m_context.doneCurrent(); }

    bool available() const { return m_why.empty(); }
    bool created() const { return m_created; }  // a context, if not the one asked for
    const std::string& why() const { return m_why; }
    QOpenGLContext* context() { return &m_context; }
    void makeCurrent() { m_context.makeCurrent(&m_surface); }

private:
    QOpenGLContext m_context;
    QOffscreenSurface m_surface;
    bool m_created = false;
    std::string m_why;
};
