#pragma once

// The per-frame event pump. SDL is started without video, so no event can name a window of
// ours; events are drained so that SDL's queue never fills.
class WindowSDL
{
public:
    // Always true.
    static bool pumpEvents();
};
