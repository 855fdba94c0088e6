#pragma once

// SDL is started with no subsystem: the tool opens no window or audio device, but the event
// pump and the thread priority still go through SDL.
// The start-up hints and SDL_Init(0); false when SDL_Init fails.
bool platformStartSDL();
void platformStopSDL();
// Asks for the high thread priority for the calling thread; refusal (no privilege) is harmless.
void platformRaiseThreadPriority();
// Dear ImGui allocates through the tracked heap from now on.
void platformHookImGuiAllocator();
