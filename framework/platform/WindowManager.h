#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"
#include "framework/log/Logger.h"

struct SDL_Cursor;
class Renderer;
class WindowSDL;

// The windows of the application, their renderer and the shared cursors. Nothing in this
// program opens a window; at shutdown the manager closes whatever exists, in a fixed order.
class WindowManager
{
public:
    static constexpr u32 CURSOR_COUNT = 8;

    Logger logger;
    SDL_Cursor* cursors[CURSOR_COUNT] = {};
    u8 active = 0;
    Renderer* renderer = nullptr;
    PtrArray<WindowSDL> windows;
    PtrArray<WindowSDL> staleWindows;

    WindowManager();
    // Shuts down when still active.
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // The cursor of the table for index 0..7; null outside it.
    SDL_Cursor* cursor(i32 index) const;
    void shutdown();
    void destroyStaleWindows();

private:
    void destroyRenderer();
};
