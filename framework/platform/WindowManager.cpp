#include "framework/platform/WindowManager.h"
#include "framework/platform/Renderer.h"
#include "framework/platform/WindowSDL.h"

#include <SDL.h>

WindowManager::WindowManager() : logger(String("Window Manager")) {}

WindowManager::~WindowManager()
{
    shutdown();
}

SDL_Cursor* WindowManager::cursor(i32 index) const
{
    return index >= 0 && u32(index) < CURSOR_COUNT ? cursors[index] : nullptr;
}

void WindowManager::shutdown()
{
    if (!active)
        return;
    logger.debug("Closing windows...");
    for (WindowSDL* w : windows)
        WindowSDL::close(w);
    windows.reset();

    logger.debug("Destroying renderer...");
    destroyRenderer();

    logger.debug("Destroying stale windows...");
    destroyStaleWindows();

    logger.debug("Closing platform interface...");
    for (SDL_Cursor*& c : cursors) {
        if (c)
            SDL_FreeCursor(c);
        c = nullptr;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    active = 0;
}

void WindowManager::destroyRenderer()
{
    if (!renderer)
        return;
    // Released contexts first, then those still live; each leaves the live list first.
    PtrArray<RenderContext> order;
    for (RenderContext* c : renderer->released)
        order.push(c);
    for (RenderContext* c : renderer->live) {
        bool seen = false;
        for (RenderContext* o : order)
            seen = seen || o == c;
        if (!seen)
            order.push(c);
    }
    renderer->released.reset();
    for (RenderContext* c : order) {
        for (u32 i = 0; i < renderer->live.count; i++) {
            if (renderer->live.items[i] == c) {
                renderer->live.items[i] = renderer->live.items[--renderer->live.count];
                break;
            }
        }
        renderer->makeCurrent(c);
        c->releasePools();
        c->freeBlocks();
        renderer->releaseContext(c);
    }
    renderer->setCurrent(nullptr);
    renderer->shutdown();
    memDelete(renderer);
    renderer = nullptr;
    // Their contexts went with the renderer.
    for (WindowSDL* w : staleWindows)
        w->renderContext = nullptr;
}

void WindowManager::destroyStaleWindows()
{
    for (WindowSDL* w : staleWindows) {
        if (w->record) {
            // Already on this list: closing must not add it a second time.
            w->manager = nullptr;
            WindowSDL::close(w);
            if (w->record->sdlWindow)
                SDL_DestroyWindow(w->record->sdlWindow);
            memDelete(w->record);
            w->record = nullptr;
        }
        memDelete(w);
    }
    staleWindows.reset();
}
