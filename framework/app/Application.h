#pragma once
#include "framework/config/ConfigSection.h"
#include "framework/core/String.h"
#include "framework/core/Types.h"
#include "framework/log/Logger.h"

class AudioOutput;
class JobSystem;
struct JobSettings;
class NetService;
class SocketSystem;
class VFS;
class WindowManager;

// The one application of the process. The frame creates it, calls init once, update until it
// returns false, then shutdown; services it holds stay null until created and are closed by
// shutdown in a fixed order.
class Application
{
public:
    explicit Application(const String& name);

    virtual bool init(const String& commandLine) = 0;
    virtual void onShutdown(bool failed) = 0;
    // False ends the main loop.
    virtual bool update() = 0;
    // Configuration text to load at start-up; false when there is none.
    virtual bool loadConfigText(String& out);
    // The configuration, written back at an orderly shutdown.
    virtual void storeConfigText(const String& text);
    virtual ~Application();
    // The main loop ended on a quit signal before update had finished its work (it never
    // returned false). Nothing by default; a tool whose run is one piece of work says it was
    // cut short.
    virtual void onInterrupted() {}

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Loads the configuration text and applies the "common." keys. Always true.
    bool applyCommonConfig();
    void shutdown(bool failed);
    // Creates and starts the job system unless there is one; false (and none) when a context
    // of the main thread fails.
    bool initJobSystem(const JobSettings& settings);
    void closeAudio();

    // The process exits with status 1 once this is set, though every line printed stays the same.
    void setRunFailed() { runFailed = 1; }
    bool hasRunFailed() const { return runFailed != 0; }

    Logger logger;
    String name;
    ConfigSection configRoot;
    u64 threadRegistryOwned = 0;
    AudioOutput* audio = nullptr;
    WindowManager* windows = nullptr;
    NetService* network = nullptr;
    SocketSystem* sockets = nullptr;
    JobSystem* jobs = nullptr;
    VFS* vfs = nullptr;
    u32 waitJobThreshold_uS = DEFAULT_WAIT_JOB_THRESHOLD;
    u8 runFailed = 0;

    static constexpr u32 DEFAULT_WAIT_JOB_THRESHOLD = 2000;
};

extern Application* applicationInstance;
