#pragma once

#include "renderer/GlFunctions.h"

#include <memory>
#include <string>

// An OpenGL 4.3 core context with no window and no display server (EGL on
// Mesa's surfaceless platform), for rendering pictures on a machine with no
// screen. Draws into framebuffer objects only. Current on the thread that
// created it; use it there.
class HeadlessGl {
public:
    // Nothing on failure, with a short reason in *error.
    static std::unique_ptr<HeadlessGl> create(std::string* error);
    ~HeadlessGl();

    HeadlessGl(const HeadlessGl&) = delete;
    HeadlessGl& operator=(const HeadlessGl&) = delete;

    // The context's functions (current on this thread).
    std::unique_ptr<GlFunctions> functions() const;

private:
    struct Egl;
    explicit HeadlessGl(std::unique_ptr<Egl> egl);
    std::unique_ptr<Egl> m_egl;
};
