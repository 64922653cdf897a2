#include "renderer/GlProgram.h"

#include "renderer/BeamModel.h"
#include "renderer/ShaderParams.h"

#include <QFile>

#include <vector>

GlProgramBuilder::GlProgramBuilder(GlFunctions* gl, QString root) : m_gl(gl), m_root(std::move(root)) {}

QByteArray GlProgramBuilder::prelude()
{
    const auto constant = [](const char* name, float value) {
        return QByteArray("const float ") + name + " = " + QByteArray::number(value, 'g', 9) + ";\n";
    };
    return QByteArray("#version 430 core\n") +
           constant("kSigmaPerBeamWidth", beam::kSigmaPerBeamWidth) +
           constant("kMinSigma", beam::kMinSigma) +
           constant("kMaxSigma", beam::kMaxSigma) +
           constant("kQuadReach", beam::kQuadReach) +
           constant("kXYScale", beam::kXYScale) +
           constant("kWaveformScale", beam::kWaveformScale) +
           constant("kWaveformLeftCentre", beam::kWaveformLeftCentre) +
           constant("kWaveformRightCentre", beam::kWaveformRightCentre) +
           constant("kEnergyScale", beam::kEnergyScale) +
           constant("kMaxTexel", beam::kMaxTexel) +
           constant("kBackground", beam::kBackground) +
           constant("kWhiteBleed", beam::kWhiteBleed) +
           "const uint kStrokesPerColumn = " + QByteArray::number(kStrokesPerColumn) + "u;\n#line 1\n";
}

GLuint GlProgramBuilder::compile(const Stage& stage)
{
    QByteArray source = prelude();
    for (const QString& name : stage.files) {
        QFile file(m_root + '/' + name);
        if (!file.open(QIODevice::ReadOnly)) {
            m_error = QStringLiteral("missing shader file %1").arg(name);
            return 0;
        }
        source += file.readAll();
        source += '\n';
    }
    const GLuint shader = m_gl->glCreateShader(stage.type);
    if (shader == 0) {
        m_error = QStringLiteral("glCreateShader failed");
        return 0;
    }
    const char* text = source.constData();
    const GLint length = static_cast<GLint>(source.size());
    m_gl->glShaderSource(shader, 1, &text, &length);
    m_gl->glCompileShader(shader);
    GLint ok = GL_FALSE;
    m_gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint logLength = 0;
        m_gl->glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &logLength);
        QByteArray log(std::max(logLength, 1), '\0');
        m_gl->glGetShaderInfoLog(shader, logLength, nullptr, log.data());
        m_error = stage.files.join('+') + ": " + QString::fromUtf8(log);
        m_gl->glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint GlProgramBuilder::build(std::initializer_list<Stage> stages)
{
    m_error.clear();
    std::vector<GLuint> shaders;
    const auto cleanUp = [&] {
        for (GLuint shader : shaders)
            m_gl->glDeleteShader(shader);
    };
    for (const Stage& stage : stages) {
        const GLuint shader = compile(stage);
        if (shader == 0) {
            cleanUp();
            return 0;
        }
        shaders.push_back(shader);
    }
    const GLuint program = m_gl->glCreateProgram();
    if (program == 0) {
        m_error = QStringLiteral("glCreateProgram failed");
        cleanUp();
        return 0;
    }
    for (GLuint shader : shaders)
        m_gl->glAttachShader(program, shader);
    m_gl->glLinkProgram(program);
    for (GLuint shader : shaders)
        m_gl->glDetachShader(program, shader);
    cleanUp();
    GLint ok = GL_FALSE;
    m_gl->glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint logLength = 0;
        m_gl->glGetProgramiv(program, GL_INFO_LOG_LENGTH, &logLength);
        QByteArray log(std::max(logLength, 1), '\0');
        m_gl->glGetProgramInfoLog(program, logLength, nullptr, log.data());
        m_error = QStringLiteral("link: ") + QString::fromUtf8(log);
        m_gl->glDeleteProgram(program);
        return 0;
    }
    return program;
}
