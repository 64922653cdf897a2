#include "video/HeadlessGl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>

struct HeadlessGl::Egl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;

    ~Egl()
    {
        if (context != EGL_NO_CONTEXT) {
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display, context);
        }
        if (display != EGL_NO_DISPLAY)
            eglTerminate(display);
    }
};

namespace {

bool fail(std::string* error, const char* what)
{
    if (error)
        *error = std::string(what) + " (EGL error 0x" + [] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(eglGetError()));
            return std::string(hex);
        }() + ")";
    return false;
}

}  // namespace

std::unique_ptr<HeadlessGl> HeadlessGl::create(std::string* error)
{
    auto egl = std::make_unique<Egl>();
    // Surfaceless: needs neither X11 nor Wayland nor a GPU (Mesa falls back
    // to its software rasteriser).
    egl->display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (egl->display == EGL_NO_DISPLAY || !eglInitialize(egl->display, &major, &minor)) {
        egl->display = EGL_NO_DISPLAY;
        fail(error, "No headless OpenGL (EGL surfaceless) is available");
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        fail(error, "EGL offers no desktop OpenGL");
        return nullptr;
    }
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 3,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    egl->context = eglCreateContext(egl->display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (egl->context == EGL_NO_CONTEXT) {
        fail(error, "No OpenGL 4.3 core context could be made");
        return nullptr;
    }
    if (!eglMakeCurrent(egl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl->context)) {
        fail(error, "The headless OpenGL context could not be made current");
        return nullptr;
    }
    return std::unique_ptr<HeadlessGl>(new HeadlessGl(std::move(egl)));
}

HeadlessGl::HeadlessGl(std::unique_ptr<Egl> egl) : m_egl(std::move(egl)) {}

HeadlessGl::~HeadlessGl() = default;

std::unique_ptr<GlFunctions> HeadlessGl::functions() const
{
    // EGL_KHR_get_all_proc_addresses: core functions too.
    return GlFunctions::load([](const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); });
}
