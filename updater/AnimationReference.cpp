#include "updater/AnimationReference.h"

#include <atomic>

namespace {
std::atomic<HWND> g_animation{nullptr};
}  // namespace

void SetAnimationWindow(HWND animation)
{
    g_animation.store(animation);
}

HWND AnimationWindow()
{
    return g_animation.load();
}
