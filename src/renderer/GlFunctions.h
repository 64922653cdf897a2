#pragma once

#include <qopengl.h>  // GL types and enums only

#include <functional>
#include <memory>

// The GL entry points of the renderer: OpenGL 4.3 core (compute shaders,
// storage buffers, image load/store), looked up by name in whichever context
// is current, so that the window's Qt context and a headless one (rendering
// a file to video, with no display) serve the same code.
//
// Each entry is a function pointer named after its GL function, so calls
// read gl->glClear(...). 1.0/1.1 functions take their type from GL/gl.h's
// prototypes, later ones from glext's PFN types.
#define ORVALEN_GL_FUNCTIONS(X)                                                        \
    X(glActiveTexture, PFNGLACTIVETEXTUREPROC)                                         \
    X(glAttachShader, PFNGLATTACHSHADERPROC)                                           \
    X(glBindBuffer, PFNGLBINDBUFFERPROC)                                               \
    X(glBindBufferBase, PFNGLBINDBUFFERBASEPROC)                                       \
    X(glBindFramebuffer, PFNGLBINDFRAMEBUFFERPROC)                                     \
    X(glBindImageTexture, PFNGLBINDIMAGETEXTUREPROC)                                   \
    X(glBindSampler, PFNGLBINDSAMPLERPROC)                                             \
    X(glBindTexture, decltype(&::glBindTexture))                                       \
    X(glBindVertexArray, PFNGLBINDVERTEXARRAYPROC)                                     \
    X(glBlendColor, PFNGLBLENDCOLORPROC)                                               \
    X(glBlendEquation, PFNGLBLENDEQUATIONPROC)                                         \
    X(glBlendFunc, decltype(&::glBlendFunc))                                           \
    X(glBufferData, PFNGLBUFFERDATAPROC)                                               \
    X(glBufferSubData, PFNGLBUFFERSUBDATAPROC)                                         \
    X(glCheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC)                       \
    X(glClear, decltype(&::glClear))                                                   \
    X(glClearBufferfv, PFNGLCLEARBUFFERFVPROC)                                         \
    X(glClearColor, decltype(&::glClearColor))                                         \
    X(glColorMask, decltype(&::glColorMask))                                           \
    X(glCompileShader, PFNGLCOMPILESHADERPROC)                                         \
    X(glCreateProgram, PFNGLCREATEPROGRAMPROC)                                         \
    X(glCreateShader, PFNGLCREATESHADERPROC)                                           \
    X(glDeleteBuffers, PFNGLDELETEBUFFERSPROC)                                         \
    X(glDeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC)                               \
    X(glDeleteProgram, PFNGLDELETEPROGRAMPROC)                                         \
    X(glDeleteSamplers, PFNGLDELETESAMPLERSPROC)                                       \
    X(glDeleteShader, PFNGLDELETESHADERPROC)                                           \
    X(glDeleteTextures, decltype(&::glDeleteTextures))                                 \
    X(glDeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC)                               \
    X(glDetachShader, PFNGLDETACHSHADERPROC)                                           \
    X(glDisable, decltype(&::glDisable))                                               \
    X(glDispatchCompute, PFNGLDISPATCHCOMPUTEPROC)                                     \
    X(glDrawArrays, decltype(&::glDrawArrays))                                         \
    X(glDrawArraysIndirect, PFNGLDRAWARRAYSINDIRECTPROC)                               \
    X(glDrawArraysInstanced, PFNGLDRAWARRAYSINSTANCEDPROC)                             \
    X(glEnable, decltype(&::glEnable))                                                 \
    X(glFinish, decltype(&::glFinish))                                                 \
    X(glFramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC)                           \
    X(glGenBuffers, PFNGLGENBUFFERSPROC)                                               \
    X(glGenFramebuffers, PFNGLGENFRAMEBUFFERSPROC)                                     \
    X(glGenSamplers, PFNGLGENSAMPLERSPROC)                                             \
    X(glGenTextures, decltype(&::glGenTextures))                                       \
    X(glGenVertexArrays, PFNGLGENVERTEXARRAYSPROC)                                     \
    X(glGetError, decltype(&::glGetError))                                             \
    X(glGetIntegerv, decltype(&::glGetIntegerv))                                       \
    X(glGetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC)                                 \
    X(glGetProgramResourceIndex, PFNGLGETPROGRAMRESOURCEINDEXPROC)                     \
    X(glGetProgramResourceiv, PFNGLGETPROGRAMRESOURCEIVPROC)                           \
    X(glGetProgramiv, PFNGLGETPROGRAMIVPROC)                                           \
    X(glGetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC)                                   \
    X(glGetShaderiv, PFNGLGETSHADERIVPROC)                                             \
    X(glGetString, decltype(&::glGetString))                                           \
    X(glGetTexImage, decltype(&::glGetTexImage))                                       \
    X(glLinkProgram, PFNGLLINKPROGRAMPROC)                                             \
    X(glMemoryBarrier, PFNGLMEMORYBARRIERPROC)                                         \
    X(glPixelStorei, decltype(&::glPixelStorei))                                       \
    X(glReadPixels, decltype(&::glReadPixels))                                         \
    X(glSamplerParameteri, PFNGLSAMPLERPARAMETERIPROC)                                 \
    X(glScissor, decltype(&::glScissor))                                               \
    X(glShaderSource, PFNGLSHADERSOURCEPROC)                                           \
    X(glTexParameteri, decltype(&::glTexParameteri))                                   \
    X(glTexStorage2D, PFNGLTEXSTORAGE2DPROC)                                           \
    X(glUniform1f, PFNGLUNIFORM1FPROC)                                                 \
    X(glUniform1ui, PFNGLUNIFORM1UIPROC)                                               \
    X(glUseProgram, PFNGLUSEPROGRAMPROC)                                               \
    X(glViewport, decltype(&::glViewport))

struct GlFunctions {
#define ORVALEN_GL_MEMBER(name, type) type name = nullptr;
    ORVALEN_GL_FUNCTIONS(ORVALEN_GL_MEMBER)
#undef ORVALEN_GL_MEMBER

    // Looks every entry up with `lookUp` in the current context; nullptr when
    // one is missing or the context is not OpenGL 4.3 or later.
    static std::unique_ptr<GlFunctions> load(const std::function<void*(const char*)>& lookUp);
};

// The current Qt context's functions; nullptr when there is no current
// context or it is not a 4.3+ core (desktop) context.
std::unique_ptr<GlFunctions> currentGlFunctions();

// Discards errors left by earlier GL calls (the view's or Qt's), so that the
// next glGetError() reports only what follows.
void clearGlErrors(GlFunctions* gl);
