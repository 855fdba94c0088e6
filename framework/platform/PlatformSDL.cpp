#include "framework/platform/PlatformSDL.h"
#include "framework/core/Heap.h"

#include <SDL.h>
#include <imgui.h>

namespace
{
void* imguiAlloc(size_t size, void*)
{
    return memAlloc(size);
}

void imguiFree(void* p, void*)
{
    memFree(p);
}
}

bool platformStartSDL()
{
    SDL_SetHint("SDL_VIDEO_HIGHDPI_DISABLED", "1");
    SDL_SetHintWithPriority("SDL_XINPUT_ENABLED", "1", SDL_HINT_OVERRIDE);
    SDL_SetHint("SDL_MOUSE_FOCUS_CLICKTHROUGH", "1");
    return SDL_Init(0) == 0;
}

void platformStopSDL()
{
    SDL_Quit();
}

void platformRaiseThreadPriority()
{
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
}

void platformHookImGuiAllocator()
{
    ImGui::SetAllocatorFunctions(imguiAlloc, imguiFree, nullptr);
}
