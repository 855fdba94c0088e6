#include "framework/app/ProcessUtils.h"
#include "framework/platform/AudioOutput.h"
#include "framework/platform/NetService.h"
#include "framework/platform/Renderer.h"
#include "framework/platform/SocketSystem.h"
#include "framework/platform/WindowManager.h"
#include "framework/platform/WindowSDL.h"
#include "framework/threads/ThreadRecordRegistry.h"
#include "tests/framework/threads/LogCapture.h"
#include "tool/MORDAX.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
std::vector<std::string>& journal()
{
    static std::vector<std::string> j;
    return j;
}

struct RecordingListener : WindowListener
{
    void onLoseInput() override { journal().push_back("lose input"); }
    void onMouseMove(u32 x, u32 y) override { journal().push_back("move " + std::to_string(x) + "," + std::to_string(y)); }
    void onMouseButton(u8 b, u8 p) override { journal().push_back("button " + std::to_string(b) + " " + std::to_string(p)); }
    void onMouseWheel(float d, u8 h) override
    {
        journal().push_back("wheel " + std::to_string(int(d)) + (h ? " horizontal" : " vertical"));
    }
    void onKey(u16 code, u8 p) override { journal().push_back("key " + std::to_string(code) + " " + std::to_string(p)); }
    void onText(const char* t) override { journal().push_back(std::string("text ") + t); }
};

struct RecordingHandler : WindowHandler
{
    void onMouseLeave(const WindowEvent&) override { journal().push_back("leave"); }
    void onMouseEnter(const WindowEvent&) override { journal().push_back("enter"); }
    void onFocusLost() override { journal().push_back("focus lost"); }
    void onFocusGained(const WindowEvent&) override { journal().push_back("focus gained"); }
    void onResized() override { journal().push_back("resized"); }
    void onClosed() override { journal().push_back("closed"); }
    void onCloseRequested() override { journal().push_back("close requested"); }
};

// A real SDL window on the dummy video driver, known to the pump through its record.
class PumpTest : public testing::Test
{
protected:
    void SetUp() override
    {
        journal().clear();
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
            GTEST_SKIP() << "no dummy video driver: " << SDL_GetError();
        sdlWindow = SDL_CreateWindow("pump", 0, 0, 64, 48, 0);
        ASSERT_NE(sdlWindow, nullptr) << SDL_GetError();
        window = memNew<WindowSDL>(String("Window"));
        window->handler = &handler;
        window->listeners.push(&listener);
        record.window = window;
        record.sdlWindow = sdlWindow;
        record.open = 1;
        window->record = &record;
        SDL_SetWindowData(sdlWindow, "WindowSDL", &record);
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void TearDown() override
    {
        if (sdlWindow)
            SDL_DestroyWindow(sdlWindow);
        memDelete(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        quitRequested.store(0);
    }

    void pushWindowEvent(u8 kind, i32 a = 0, i32 b = 0, u32 id = 0)
    {
        SDL_Event e = {};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = id ? id : SDL_GetWindowID(sdlWindow);
        e.window.event = kind;
        e.window.data1 = a;
        e.window.data2 = b;
        SDL_PushEvent(&e);
    }
    void push(SDL_Event e)
    {
        SDL_PushEvent(&e);
    }
    u32 id() { return SDL_GetWindowID(sdlWindow); }

    SDL_Window* sdlWindow = nullptr;
    WindowSDL* window = nullptr;
    WindowRecord record;
    RecordingHandler handler;
    RecordingListener listener;
};
}

TEST_F(PumpTest, EventsReachTheWindowTheyName)
{
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.windowID = id();
    e.key.keysym.scancode = SDL_SCANCODE_A;
    push(e);
    e.type = SDL_KEYUP;
    push(e);
    e = {};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = id();
    strcpy(e.text.text, "\xc3\xa9t\xc3\xa9");
    push(e);
    e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = id();
    e.motion.x = 12;
    e.motion.y = 34;
    push(e);
    e = {};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.windowID = id();
    e.button.button = SDL_BUTTON_RIGHT;
    push(e);
    e.type = SDL_MOUSEBUTTONUP;
    push(e);
    e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = id();
    e.wheel.x = -2;
    e.wheel.y = 3;
    push(e);
    pushWindowEvent(SDL_WINDOWEVENT_RESIZED, 640, 480);
    // Events for windows that are not ours, or for no window, are dropped.
    pushWindowEvent(SDL_WINDOWEVENT_RESIZED, 1, 1, id() + 100);
    e = {};
    e.type = SDL_QUIT;
    push(e);
    EXPECT_TRUE(WindowSDL::pumpEvents());
    const std::vector<std::string> expected = {
        "key 4 1", "key 4 0", "text \xc3\xa9t\xc3\xa9", "move 12,34", "button 2 1", "button 2 0",
        "wheel -2 horizontal", "wheel 3 vertical", "resized",
    };
    EXPECT_EQ(journal(), expected);
    EXPECT_EQ(window->width, 640u);
    EXPECT_EQ(window->height, 480u);
}

TEST_F(PumpTest, FocusAndMouseEventsOnlyOnChange)
{
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
    pushWindowEvent(SDL_WINDOWEVENT_ENTER);
    pushWindowEvent(SDL_WINDOWEVENT_ENTER);
    pushWindowEvent(SDL_WINDOWEVENT_LEAVE);
    pushWindowEvent(SDL_WINDOWEVENT_LEAVE);
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    WindowSDL::pumpEvents();
    const std::vector<std::string> expected = {"focus gained", "enter", "leave", "lose input", "focus lost"};
    EXPECT_EQ(journal(), expected);
    EXPECT_EQ(record.focused, 0);
    EXPECT_EQ(record.mouseInside, 0);
}

TEST_F(PumpTest, CloseRequestOrClose)
{
    record.closeRequestsOnly = 1;
    record.focused = 1;
    window->closeArmed = 1;
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    WindowSDL::pumpEvents();
    EXPECT_EQ(journal(), (std::vector<std::string>{"lose input", "close requested"}));
    EXPECT_EQ(record.open, 1);
    EXPECT_EQ(record.focused, 0);
    EXPECT_EQ(window->closeArmed, 0);
    EXPECT_TRUE(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_HIDDEN);

    // A window in the locked state hears the request but does not act on it.
    journal().clear();
    window->state = WindowSDL::STATE_CLOSE_LOCKED;
    window->closeArmed = 1;
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    WindowSDL::pumpEvents();
    EXPECT_EQ(journal(), (std::vector<std::string>{"lose input"}));
    EXPECT_EQ(window->closeArmed, 1);

    journal().clear();
    record.closeRequestsOnly = 0;
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    WindowSDL::pumpEvents();
    EXPECT_EQ(journal(), (std::vector<std::string>{"lose input", "closed"}));
    EXPECT_EQ(record.open, 0);
}

TEST_F(PumpTest, NothingIsDispatchedOnceQuitIsRequested)
{
    pushWindowEvent(SDL_WINDOWEVENT_RESIZED, 10, 10);
    quitRequested.store(1);
    EXPECT_TRUE(WindowSDL::pumpEvents());
    EXPECT_TRUE(journal().empty());
    quitRequested.store(0);
    WindowSDL::pumpEvents();
    EXPECT_EQ(journal(), std::vector<std::string>{"resized"});
}

namespace
{
struct Counted : RenderResource
{
    explicit Counted(int& live) : live(live) { live++; }
    ~Counted() override { live--; }
    int& live;
};

struct RecordingRenderer : Renderer
{
    ~RecordingRenderer() override { journal().push_back("renderer deleted"); }
    void shutdown() override { journal().push_back("renderer shutdown"); }
    void releaseContext(RenderContext* c) override
    {
        journal().push_back("release context " + std::to_string(c->pools[0].count));
        memDelete(c);
    }
    bool activate(RenderContext*) override { return true; }
    void resize(u32, u32) override {}
    RenderContext* current() override { return currentContext; }
    void setCurrent(RenderContext* c) override
    {
        currentContext = c;
        journal().push_back(c ? "current" : "current none");
    }
    RenderContext* currentContext = nullptr;
};
}

TEST(HandlePool, ReleaseDeletesAndStalesEveryHandle)
{
    int live = 0;
    HandlePool<RenderResource> pool;
    RenderHandle a = pool.add(memNew<Counted>(live));
    RenderHandle b = pool.add(memNew<Counted>(live));
    EXPECT_EQ(live, 2);
    EXPECT_NE(pool.get(a), nullptr);
    EXPECT_NE(pool.get(b), pool.get(a));
    pool.release();
    EXPECT_EQ(live, 0);
    EXPECT_EQ(pool.count, 0u);
    EXPECT_EQ(pool.get(a), nullptr);
    EXPECT_EQ(pool.get(b), nullptr);
    RenderHandle c = pool.add(memNew<Counted>(live));
    EXPECT_LT(c.index, 2u);
    EXPECT_NE(pool.get(c), nullptr);
    EXPECT_EQ(pool.get(c.index == a.index ? a : b), nullptr);
}

TEST(WindowManager, ShutdownClosesWindowsRendererAndItself)
{
    LogCapture log;
    journal().clear();
    int live = 0;
    WindowManager* manager = memNew<WindowManager>();
    RecordingRenderer* renderer = memNew<RecordingRenderer>();
    manager->renderer = renderer;
    manager->active = 1;
    for (int i = 0; i < 2; i++) {
        WindowSDL* w = memNew<WindowSDL>(String("Window"));
        w->manager = manager;
        w->isOpen = 1;
        w->record = memNew<WindowRecord>();
        w->record->window = w;
        RenderContext* c = memNew<RenderContext>();
        c->renderer = renderer;
        c->pools[0].add(memNew<Counted>(live));
        renderer->live.push(c);
        w->renderContext = c;
        manager->windows.push(w);
    }
    // A context no window holds still goes with the renderer.
    RenderContext* spare = memNew<RenderContext>();
    spare->renderer = renderer;
    spare->blocks.push(static_cast<u8*>(memAlloc(64)));
    renderer->live.push(spare);

    manager->shutdown();
    EXPECT_EQ(live, 0);
    EXPECT_EQ(manager->active, 0);
    EXPECT_EQ(manager->renderer, nullptr);
    EXPECT_EQ(manager->staleWindows.count, 0u);
    EXPECT_EQ(manager->windows.count, 0u);
    const std::vector<std::string> expected = {
        "current", "current", "current", "release context 0", "current", "release context 0", "current",
        "release context 0", "current none", "renderer shutdown", "renderer deleted",
    };
    EXPECT_EQ(journal(), expected);
    const std::vector<std::string> lines = {
        "Closing windows...", "Destroying renderer...", "Destroying stale windows...", "Closing platform interface...",
    };
    EXPECT_EQ(log.messages("Window Manager"), lines);
    manager->shutdown();
    EXPECT_EQ(log.messages("Window Manager").size(), 4u);
    memDelete(manager);
}

namespace
{
struct AudioFixture
{
    AudioOutput out;
    AudioDevice device;
    AudioFixture(u32 blocks, u32 bytes, u8 silence)
    {
        device.owner = &out;
        device.bytesPerFrame = 2;
        out.silence = silence;
        out.ring = AudioRing::create(blocks, bytes / 2, bytes);
        for (u32 i = 0; i < blocks; i++)
            memset(out.ring->blocks[i], int('A' + i), bytes);
    }
};

std::string fill(AudioFixture& f, u32 length)
{
    std::string buf(length, '?');
    AudioOutput::fillBuffer(&f.device, reinterpret_cast<u8*>(buf.data()), length);
    return buf;
}
}

TEST(AudioOutput, CallbackPlaysFilledBlocksInTurnThenSilence)
{
    AudioFixture f(3, 4, 0x80);
    f.out.ring->filled.store(3);
    f.out.ring->readIndex.store(1);
    EXPECT_EQ(fill(f, 4), "BBBB");
    EXPECT_EQ(fill(f, 4), "CCCC");
    EXPECT_EQ(fill(f, 4), "AAAA");
    EXPECT_EQ(f.out.ring->readIndex.load(), 1u);
    EXPECT_EQ(f.out.ring->filled.load(), 0u);
    EXPECT_EQ(f.out.callbackUnderruns.load(), 0u);
    // Nothing filled: after its tries the callback plays silence and counts an underrun.
    EXPECT_EQ(fill(f, 4), std::string(4, '\x80'));
    EXPECT_EQ(f.out.callbackUnderruns.load(), 1u);
    // A device buffer larger than a block gets the block and silence, never more.
    f.out.ring->filled.store(1);
    EXPECT_EQ(fill(f, 6), "BBBB" + std::string(2, '\x80'));
    f.out.ring->filled.store(1);
    EXPECT_EQ(fill(f, 2), "CC");
}

TEST(AudioOutput, CallbackWithoutRingIsSilent)
{
    AudioOutput out;
    AudioDevice device;
    device.owner = &out;
    std::string buf(8, '?');
    AudioOutput::fillBuffer(&device, reinterpret_cast<u8*>(buf.data()), 8);
    EXPECT_EQ(buf, std::string(8, '\0'));
}

namespace
{
class DummyAudio : public testing::Test
{
protected:
    void SetUp() override
    {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            GTEST_SKIP() << "no dummy audio driver: " << SDL_GetError();
    }
    void TearDown() override { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

    static AudioFormat format(u8 bytes, u8 channels)
    {
        AudioFormat f;
        f.frequency = 22050;
        f.bytesPerSample = bytes;
        f.channels = channels;
        f.frames = 512;
        f.blockCount = 4;
        return f;
    }
};
}

TEST_F(DummyAudio, DeviceOpensInBothModesAndCloses)
{
    for (bool callback : {true, false}) {
        SCOPED_TRACE(callback ? "callback" : "thread");
        LogCapture log;
        AudioOutput* out = memNew<AudioOutput>();
        ASSERT_TRUE(out->start(format(2, 2), callback));
        EXPECT_EQ(out->obtained.frequency, 22050u);
        EXPECT_EQ(out->obtained.channels, 2);
        EXPECT_EQ(out->obtained.bytesPerSample, 2);
        EXPECT_EQ(out->obtained.speakerLayout, 2u);
        EXPECT_EQ(out->device->bytesPerFrame, 4u);
        if (!callback) {
            // The ring comes from the audio thread once it has opened the device.
            EXPECT_TRUE(out->thread->isRunning());
        }
        ASSERT_NE(out->ring, nullptr);
        EXPECT_EQ(out->ring->blockBytes, 2048u);
        out->shutdown();
        EXPECT_EQ(out->open, 0);
        EXPECT_EQ(out->device->deviceId, 0u);
        EXPECT_EQ(log.messages("SDL"), (std::vector<std::string>{"BPF: 4", "Frames: 512", "Channels: 2"}));
        EXPECT_EQ(log.messages("Audio Output").back(), callback ? "Closing audio device..." : "Thread terminated.");
        memDelete(out);
    }
}

TEST_F(DummyAudio, UnusableLayoutsAndDepthsAreRefused)
{
    LogCapture log;
    AudioOutput out;
    EXPECT_FALSE(out.start(format(2, 3), true));
    EXPECT_EQ(out.device->deviceId, 0u);
    AudioOutput deep;
    // A depth of 24 bits is asked for as 16.
    EXPECT_TRUE(deep.start(format(3, 1), true));
    EXPECT_EQ(deep.obtained.bytesPerSample, 2);
    const std::vector<std::string> expected = {"Unknown speaker layout! (3)", "Interface requested unsupported bit depth (24)"};
    std::vector<std::string> errors;
    for (const std::string& l : log.lines(LOG_ERROR))
        errors.push_back(l.substr(l.find(" > ") + 3));
    EXPECT_EQ(errors, expected);
}

namespace
{
struct RecordingTransport : NetTransport
{
    ~RecordingTransport() override { journal().push_back("transport deleted"); }
    void close() override { journal().push_back("transport closed"); }
};
struct RecordingNetHandler : NetHandler
{
    ~RecordingNetHandler() override { journal().push_back("handler deleted"); }
    void onServiceStopping() override { journal().push_back("handler told"); }
};
struct IdleThread : Thread
{
    IdleThread() : Thread("Net Service") {}
    bool onStart() override { return true; }
    bool step() override
    {
        SDL_Delay(1);
        return true;
    }
    void onStop() override { journal().push_back("service thread stopped"); }
};

int openDescriptor()
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    close(fds[1]);
    return fds[0];
}
}

// Every service the application holds closes in its order, whatever else exists.
TEST_F(DummyAudio, ApplicationClosesEveryServiceInOrder)
{
    LogCapture log;
    journal().clear();
    Application* saved = applicationInstance;
    ArchiveToolApp* app = memNew<ArchiveToolApp>();

    app->sockets = memNew<SocketSystem>();
    app->sockets->start();
    int fd = openDescriptor();
    app->sockets->adopt(memNew<Socket>(fd));
    app->network = memNew<NetService>();
    app->network->active = 1;
    NetConnection* withTransport = memNew<NetConnection>();
    withTransport->transport = memNew<RecordingTransport>();
    app->network->connections.push(withTransport);
    NetConnection* withBlock = memNew<NetConnection>();
    withBlock->ownedBlock = static_cast<u8*>(memAlloc(32));
    withBlock->buffers[1] = memNew<ByteArray>(16u);
    app->network->connections.push(withBlock);
    app->network->handlers.push(memNew<RecordingNetHandler>());
    app->network->serviceThread = memNew<IdleThread>();
    ASSERT_TRUE(app->network->serviceThread->start());
    app->windows = memNew<WindowManager>();
    app->windows->active = 1;
    app->audio = memNew<AudioOutput>();
    ASSERT_TRUE(app->audio->start(format(1, 1), true));
    ThreadRecordRegistry::create();
    ThreadRecordRegistry::current();
    app->threadRegistryOwned = 1;

    const size_t before = log.lines(LOG_DEBUG).size();
    app->shutdown(true);
    EXPECT_EQ(app->sockets, nullptr);
    EXPECT_EQ(app->network, nullptr);
    EXPECT_EQ(app->windows, nullptr);
    EXPECT_EQ(app->audio, nullptr);
    EXPECT_EQ(app->threadRegistryOwned, 0u);
    EXPECT_EQ(ThreadRecordRegistry::instance(), nullptr);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);

    // Nothing fills the sound ring here, so the device may have counted underruns.
    std::vector<std::string> order;
    const std::vector<std::string> lines = log.lines(LOG_DEBUG);
    for (size_t i = before; i < lines.size(); i++)
        if (lines[i].find("Underruns") == std::string::npos)
            order.push_back(lines[i]);
    const std::vector<std::string> expected = {
        "Sockets > Stopping...",
        "Sockets > Closing 1 active sockets...",
        "Network > Stopping...",
        "Net Service > Thread terminating...",
        "Net Service > Thread terminated.",
        "Window Manager > Closing windows...",
        "Window Manager > Destroying renderer...",
        "Window Manager > Destroying stale windows...",
        "Window Manager > Closing platform interface...",
        "Audio Output > Closing audio device...",
    };
    EXPECT_EQ(order, expected);
    const std::vector<std::string> net = {"transport closed", "transport deleted", "handler told", "handler deleted",
                                          "service thread stopped"};
    EXPECT_EQ(journal(), net);
    memDelete(app);
    applicationInstance = saved;
}
