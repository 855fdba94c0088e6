#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/core/Types.h"
#include "framework/log/Logger.h"

struct ImGuiContext;
struct SDL_Window;
class RenderContext;
class RenderResource;
class WindowManager;
class WindowSDL;

enum WindowEventKind : u8
{
    WINDOW_CLOSED = 0,
    WINDOW_CLOSE_REQUESTED = 1,
    WINDOW_FOCUS_LOST = 2,
    WINDOW_FOCUS_GAINED = 3,
    WINDOW_RESIZED = 4,
    WINDOW_MOUSE_LEFT = 5,
    WINDOW_MOUSE_ENTERED = 6,
    WINDOW_MOUSE_MOVED = 7,
    WINDOW_MOUSE_BUTTON = 8,
    WINDOW_MOUSE_WHEEL = 9,
    WINDOW_KEY = 10,
    WINDOW_TEXT = 11,
};

// Attached to each SDL window as its data under the name "WindowSDL".
struct WindowRecord
{
    WindowSDL* window = nullptr;
    SDL_Window* sdlWindow = nullptr;
    u8 closeRequestsOnly = 0;
    u8 open = 0;
    u8 focused = 0;
    u8 mouseInside = 0;
    u8 hideCursorInside = 0;
    u8 cursorHidden = 0;
    i16 cursorIndex = 0; // 0..7
};

struct WindowEvent
{
    WindowRecord* source = nullptr;
    u8 kind = 0;
    union Payload
    {
        struct
        {
            u32 a, b;
        } pair;
        struct
        {
            float value;
            u8 flag;
        } amount;
        struct
        {
            u16 code;
            u8 flag;
        } key;
        struct
        {
            u8 button, pressed;
        } button;
        const char* text;
        u8 raw[8];
    } payload;

    WindowEvent() { clear(); }
    void clear();
};

// Input seen by a window, in the order the pump delivers it.
class WindowListener
{
public:
    virtual ~WindowListener() = default;
    virtual void onLoseInput() {}
    virtual void onMouseMove(u32 /*x*/, u32 /*y*/) {}
    virtual void onMouseButton(u8 /*button*/, u8 /*pressed*/) {}
    virtual void onMouseWheel(float /*delta*/, u8 /*horizontal*/) {}
    virtual void onKey(u16 /*scancode*/, u8 /*pressed*/) {}
    virtual void onText(const char* /*utf8*/) {}
};

// The owner's view of a window's life.
class WindowHandler
{
public:
    virtual ~WindowHandler() = default;
    virtual void onMouseLeave(const WindowEvent&) {}
    virtual void onMouseEnter(const WindowEvent&) {}
    virtual void onFocusLost() {}
    virtual void onFocusGained(const WindowEvent&) {}
    virtual void onResized() {}
    virtual void onClosed() {}
    virtual void onCloseRequested() {}
};

// Receives a window's user-interface settings text when the window closes.
class SettingsSink
{
public:
    virtual ~SettingsSink() = default;
    virtual void storeSettings(const String& text) = 0;
};

// A window of the framework. SDL is started without video in this program, so none is ever
// made; the pump, dispatch and closing still follow one set of rules.
class WindowSDL
{
public:
    // A window in this state ignores close requests.
    static constexpr u8 STATE_CLOSE_LOCKED = 5;

    Logger logger;
    WindowManager* manager = nullptr;
    WindowHandler* handler = nullptr;
    RenderContext* renderContext = nullptr;
    u8 hasUiContext = 0;
    ImGuiContext* uiContext = nullptr;
    SettingsSink* settingsSink = nullptr;
    RenderResource* resources = nullptr;
    u32 width = 0;
    u32 height = 0;
    u8 state = 0;
    u8 isOpen = 0;
    u8 closeArmed = 0;
    WindowRecord* record = nullptr;
    PtrArray<WindowListener> listeners;

    explicit WindowSDL(const String& name);

    // Once per main-loop pass. Events that name no framework window are dropped; once quit is
    // requested the rest stay queued. Always true.
    static bool pumpEvents();
    static void dispatchEvent(WindowSDL* window, const WindowEvent& event);
    // Hands the window to its manager's stale list and releases its drawing state.
    static void close(WindowSDL* window);
    // Makes the window's render context current; false when there is none or it is refused.
    bool makeContextCurrent();
};
