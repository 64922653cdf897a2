#pragma once

#include "renderer/GlFunctions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds GL programs from the shader files embedded in the binary (or from a
// folder, for tests). Every stage is compiled as
//   #version 430 core, the beam model's and the column merge's constants,
//   then the listed files
// in order, so shared code lives in its own file.
class GlProgramBuilder {
public:
    // root: ":/orvalen/shaders" for the embedded files, or a folder path.
    GlProgramBuilder(GlFunctions* gl, QString root);

    struct Stage {
        GLenum type;
        QStringList files;
    };
    // A linked program, or 0 when a file is missing or a stage fails to
    // compile or link; the reason is kept in lastError().
    GLuint build(std::initializer_list<Stage> stages);

    const QString& lastError() const { return m_error; }

    // The source text every stage starts with.
    static QByteArray prelude();

private:
    GLuint compile(const Stage& stage);

    GlFunctions* m_gl;
    QString m_root;
    QString m_error;
};
