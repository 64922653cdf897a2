#pragma once

#include <QOpenGLFunctions_4_3_Core>

// The GL entry points of the renderer: OpenGL 4.3 core (compute shaders,
// storage buffers, image load/store).
using GlFunctions = QOpenGLFunctions_4_3_Core;

// The current context's 4.3 core functions, initialised; nullptr when there
// is no current context or it is not a 4.3+ core context.
GlFunctions* currentGlFunctions();

// Discards errors left by earlier GL calls (the view's or Qt's), so that the
// next glGetError() reports only what follows.
void clearGlErrors(GlFunctions* gl);
