#include "framework/platform/WindowSDL.h"
#include "framework/app/ProcessUtils.h"

#include <SDL.h>

bool WindowSDL::pumpEvents()
{
    SDL_PumpEvents();
    SDL_Event event;
    // Nothing here owns a window, so every event is dropped; once quit is requested the rest
    // stay queued.
    while (!quitRequested.load() && SDL_PollEvent(&event)) {
    }
    return true;
}
