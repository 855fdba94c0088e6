#include "framework/platform/WindowSDL.h"
#include "framework/app/ProcessUtils.h"
#include "framework/platform/Renderer.h"
#include "framework/platform/WindowManager.h"

#include <SDL.h>
#include <imgui.h>

#include <cstring>

void WindowEvent::clear()
{
    memset(&payload, 0, sizeof(payload));
}

WindowSDL::WindowSDL(const String& name) : logger(name) {}

namespace
{
void hideCursorInside(WindowRecord* r)
{
    if (r->hideCursorInside && !r->cursorHidden) {
        SDL_ShowCursor(0);
        r->cursorHidden = 1;
    }
}

void showCursorAgain(WindowRecord* r)
{
    if (r->hideCursorInside && r->cursorHidden) {
        SDL_ShowCursor(1);
        r->cursorHidden = 0;
    }
}

void dispatch(WindowRecord* r, u8 kind, WindowEvent& e)
{
    e.source = r;
    e.kind = kind;
    WindowSDL::dispatchEvent(r->window, e);
    e.clear();
}

void translateWindowEvent(WindowRecord* r, const SDL_WindowEvent& w)
{
    WindowEvent e;
    switch (w.event) {
    case SDL_WINDOWEVENT_RESIZED:
        e.payload.pair.a = u32(w.data1);
        e.payload.pair.b = u32(w.data2);
        dispatch(r, WINDOW_RESIZED, e);
        break;
    case SDL_WINDOWEVENT_ENTER:
        if (r->mouseInside)
            break;
        r->mouseInside = 1;
        dispatch(r, WINDOW_MOUSE_ENTERED, e);
        if (r->window && r->window->manager)
            SDL_SetCursor(r->window->manager->cursor(r->cursorIndex));
        hideCursorInside(r);
        break;
    case SDL_WINDOWEVENT_LEAVE:
        if (!r->mouseInside)
            break;
        r->mouseInside = 0;
        dispatch(r, WINDOW_MOUSE_LEFT, e);
        showCursorAgain(r);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        if (r->focused)
            break;
        r->focused = 1;
        dispatch(r, WINDOW_FOCUS_GAINED, e);
        hideCursorInside(r);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        if (!r->focused)
            break;
        r->focused = 0;
        dispatch(r, WINDOW_FOCUS_LOST, e);
        showCursorAgain(r);
        break;
    case SDL_WINDOWEVENT_CLOSE: {
        if (!r->open)
            break;
        r->focused = 0;
        u8 kind = WINDOW_CLOSE_REQUESTED;
        if (!r->closeRequestsOnly) {
            kind = WINDOW_CLOSED;
            r->open = 0;
        }
        dispatch(r, kind, e);
        if (r->sdlWindow)
            SDL_HideWindow(r->sdlWindow);
        break;
    }
    default:
        break;
    }
}

void translate(WindowRecord* r, const SDL_Event& ev)
{
    WindowEvent e;
    switch (ev.type) {
    case SDL_WINDOWEVENT:
        translateWindowEvent(r, ev.window);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        e.payload.key.code = u16(ev.key.keysym.scancode);
        e.payload.key.flag = ev.type == SDL_KEYDOWN ? 1 : 0;
        dispatch(r, WINDOW_KEY, e);
        break;
    case SDL_TEXTINPUT:
        e.payload.text = ev.text.text;
        dispatch(r, WINDOW_TEXT, e);
        break;
    case SDL_MOUSEMOTION:
        e.payload.pair.a = u32(ev.motion.x);
        e.payload.pair.b = u32(ev.motion.y);
        dispatch(r, WINDOW_MOUSE_MOVED, e);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        e.payload.button.button = u8(ev.button.button - 1);
        e.payload.button.pressed = ev.type == SDL_MOUSEBUTTONDOWN ? 1 : 0;
        dispatch(r, WINDOW_MOUSE_BUTTON, e);
        break;
    case SDL_MOUSEWHEEL:
        if (ev.wheel.x != 0) {
            e.payload.amount.value = float(ev.wheel.x);
            e.payload.amount.flag = 1;
            dispatch(r, WINDOW_MOUSE_WHEEL, e);
        }
        if (ev.wheel.y != 0) {
            e.payload.amount.value = float(ev.wheel.y);
            e.payload.amount.flag = 0;
            dispatch(r, WINDOW_MOUSE_WHEEL, e);
        }
        break;
    default:
        break;
    }
}

// The window an event names; events of other kinds (SDL_QUIT, devices) name none.
u32 windowIdOf(const SDL_Event& ev)
{
    switch (ev.type) {
    case SDL_WINDOWEVENT: return ev.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return ev.key.windowID;
    case SDL_TEXTINPUT: return ev.text.windowID;
    case SDL_MOUSEMOTION: return ev.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return ev.button.windowID;
    case SDL_MOUSEWHEEL: return ev.wheel.windowID;
    default: return 0;
    }
}
}

bool WindowSDL::pumpEvents()
{
    SDL_PumpEvents();
    SDL_Event event;
    while (!quitRequested.load() && SDL_PollEvent(&event)) {
        u32 id = windowIdOf(event);
        SDL_Window* sdlWindow = id ? SDL_GetWindowFromID(id) : nullptr;
        WindowRecord* record =
            sdlWindow ? static_cast<WindowRecord*>(SDL_GetWindowData(sdlWindow, "WindowSDL")) : nullptr;
        if (!record || !record->window)
            continue;
        translate(record, event);
    }
    return true;
}

bool WindowSDL::makeContextCurrent()
{
    if (!renderContext || !renderContext->renderer)
        return false;
    return renderContext->renderer->makeCurrent(renderContext);
}

void WindowSDL::dispatchEvent(WindowSDL* window, const WindowEvent& event)
{
    if (!window || event.kind > WINDOW_TEXT)
        return;
    PtrArray<WindowListener>& ls = window->listeners;
    WindowHandler* h = window->handler;
    switch (event.kind) {
    case WINDOW_CLOSED:
        for (WindowListener* l : ls)
            l->onLoseInput();
        if (h)
            h->onClosed();
        break;
    case WINDOW_CLOSE_REQUESTED:
        for (WindowListener* l : ls)
            l->onLoseInput();
        if (window->state != STATE_CLOSE_LOCKED) {
            if (h)
                h->onCloseRequested();
            window->closeArmed = 0;
        }
        break;
    case WINDOW_FOCUS_LOST:
        for (WindowListener* l : ls)
            l->onLoseInput();
        if (h)
            h->onFocusLost();
        break;
    case WINDOW_FOCUS_GAINED:
        if (h)
            h->onFocusGained(event);
        break;
    case WINDOW_RESIZED:
        window->width = event.payload.pair.a;
        window->height = event.payload.pair.b;
        if (window->renderContext) {
            if (!window->makeContextCurrent())
                break;
            window->renderContext->renderer->resize(window->width, window->height);
        }
        if (h)
            h->onResized();
        break;
    case WINDOW_MOUSE_LEFT:
        if (h)
            h->onMouseLeave(event);
        break;
    case WINDOW_MOUSE_ENTERED:
        if (h)
            h->onMouseEnter(event);
        break;
    case WINDOW_MOUSE_MOVED:
        for (WindowListener* l : ls)
            l->onMouseMove(event.payload.pair.a, event.payload.pair.b);
        break;
    case WINDOW_MOUSE_BUTTON:
        for (WindowListener* l : ls)
            l->onMouseButton(event.payload.button.button, event.payload.button.pressed);
        break;
    case WINDOW_MOUSE_WHEEL:
        for (WindowListener* l : ls)
            l->onMouseWheel(event.payload.amount.value, event.payload.amount.flag);
        break;
    case WINDOW_KEY:
        for (WindowListener* l : ls)
            l->onKey(event.payload.key.code, event.payload.key.flag);
        break;
    case WINDOW_TEXT:
        for (WindowListener* l : ls)
            l->onText(event.payload.text);
        break;
    default:
        break;
    }
}

void WindowSDL::close(WindowSDL* window)
{
    if (!window || !window->isOpen)
        return;
    window->isOpen = 0;
    if (window->manager)
        window->manager->staleWindows.push(window);
    window->listeners.reset();
    window->makeContextCurrent();
    if (window->hasUiContext && window->uiContext) {
        ImGui::SetCurrentContext(window->uiContext);
        if (window->settingsSink) {
            size_t size = 0;
            const char* text = ImGui::SaveIniSettingsToMemory(&size);
            window->settingsSink->storeSettings(String(text ? text : "", u64(size)));
        }
        if (window->resources) {
            if (window->renderContext)
                window->renderContext->releaseResources(window->resources);
            memDelete(window->resources);
            window->resources = nullptr;
        }
        // Shuts the context down and frees it through the allocator hooks.
        ImGui::DestroyContext(window->uiContext);
        window->uiContext = nullptr;
        window->hasUiContext = 0;
    }
    if (window->renderContext && window->renderContext->renderer)
        window->renderContext->renderer->released.push(window->renderContext);
}
