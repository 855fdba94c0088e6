#include "framework/app/Frame.h"
#include "framework/app/Application.h"
#include "framework/app/ProcessUtils.h"
#include "framework/log/Log.h"
#include "framework/platform/Console.h"
#include "framework/platform/CriticalSection.h"
#include "framework/platform/PlatformSDL.h"
#include "framework/platform/Signals.h"
#include "framework/platform/ThreadControl.h"
#include "framework/platform/WindowSDL.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

u8 frameworkInitialised = 0;
String* commandLine = nullptr;
u32 mainThreadId = 0;
float sineTable[TRIG_TABLE_SIZE];
float cosineTable[TRIG_TABLE_SIZE];

namespace
{
ThreadHook* threadHooks = nullptr;
int argumentCount = 0;
char** arguments = nullptr;

void keepArguments(int argc, char** argv)
{
    argumentCount = argc > 1 ? argc - 1 : 0;
    arguments = argc > 1 ? argv + 1 : nullptr;
}

bool failStart()
{
    logError("Stub", "Couldn't initialise!");
    return false;
}

void fillTrigTables()
{
    const float step = 2.396845e-05f;
    for (u32 i = 0; i < TRIG_TABLE_SIZE; ++i) {
        float angle = float(i) * step;
        sineTable[i] = sinf(angle);
        cosineTable[i] = cosf(angle);
    }
}
}

void addThreadHook(ThreadHook* hook)
{
    hook->next = nullptr;
    ThreadHook** tail = &threadHooks;
    while (*tail)
        tail = &(*tail)->next;
    *tail = hook;
}

void runThreadStartHooks()
{
    for (ThreadHook* h = threadHooks; h; h = h->next)
        if (h->onThreadStart)
            h->onThreadStart();
}

void runThreadEndHooks()
{
    for (ThreadHook* h = threadHooks; h; h = h->next)
        if (h->onThreadEnd)
            h->onThreadEnd();
}

bool initFramework(const FrameSetup& setup)
{
    consoleLogLevel = LOG_WARN;
    fileLogLevel = LOG_WARN;
    logDebug("Stub", "Initialising...");
    mainThreadId = platformCurrentThreadId();
    logDebug("Stub", "Main thread ID: 0x%X", mainThreadId);
    memSetReady();

    if (!initTimer()) {
        printf("FATAL ERROR: No high-performance timing available!\n");
        return failStart();
    }
    installPureCallHandler();
    u32 error = 0;
    if (!installQuitSignals(&quitRequested, &error)) {
        printf("FATAL ERROR: Couldn't install win32 console signal handler! 0x%X\n", error);
        return failStart();
    }
    // Best effort: without it output that nobody reads can only hold a quit back.
    guardStandardOutput();
    if (!installCrashHandlers()) {
        printf("FATAL ERROR: Couldn't install core signal handlers!\n");
        return failStart();
    }
    fillTrigTables();
    if (!systemFoldersReady())
        initSystemFolders();
    srand(u32(getTimeMicros()));
    initThread("Main Thread");
    if (getCpuCount() > 1 && !platformSetThreadAffinity(2))
        logError("Core", "Couldn't set affinity!");

    fputs(setup.banner, stdout);
    fflush(stdout);

    Application* app = setup.makeApplication ? setup.makeApplication() : nullptr;
    if (!app)
        return failStart();
    applicationInstance = app;
    app->applyCommonConfig();

    if (!platformStartSDL()) {
        logError("Stub", "Couldn't initialise platform!");
        return false;
    }
    platformRaiseThreadPriority();
    runThreadStartHooks();
    platformHookImGuiAllocator();
    logDebug("Stub", "Initialised.");
    frameworkInitialised = 1;
    return true;
}

void buildCommandLine(int argc, char** argv)
{
    keepArguments(argc, argv);

    u64 reserve = 32;
    for (int i = 1; i < argc; ++i)
        reserve += strlen(argv[i]) + 3;
    commandLine = memNew<String>(reserve);
    if (!commandLine)
        return;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine->append(' ');
        if (strchr(argv[i], ' ')) {
            commandLine->append('"');
            commandLine->append(argv[i]);
            commandLine->append('"');
        } else {
            commandLine->append(argv[i]);
        }
    }
}

bool createApplication()
{
    String line = commandLine ? *commandLine : String();
    return applicationInstance->init(line);
}

void shutdownFramework(bool failed)
{
    logDebug("Stub", "Closing application...");
    if (frameworkInitialised) {
        applicationInstance->shutdown(failed);
        memDelete(applicationInstance);
        applicationInstance = nullptr;
        runThreadEndHooks();
        platformStopSDL();
    }
    logDebug("Stub", "Shutting down...");
    memDelete(commandLine);
    commandLine = nullptr;
    logDebug("Stub", "All done.");
    ScopedLock lock(fileLogLock());
    if (logFile) {
        fclose(logFile);
        logFile = nullptr;
    }
}

u32 getArgumentCount()
{
    return u32(argumentCount);
}

const char* getArgument(u32 index)
{
    return index < u32(argumentCount) ? arguments[index] : nullptr;
}

int runFramework(int argc, char** argv, const FrameSetup& setup)
{
    // Before start-up: the application may read them for its configuration.
    keepArguments(argc, argv);
    if (!initFramework(setup))
        return 1;
    buildCommandLine(argc, argv);
    if (!createApplication()) {
        shutdownFramework(true);
        return 1;
    }
    bool finished = false;
    while (!quitRequested.load()) {
        if (!WindowSDL::pumpEvents())
            break;
        if (!applicationInstance->update()) {
            finished = true;
            break;
        }
    }
    if (!finished && quitSignalCount() > 0)
        applicationInstance->onInterrupted();
    requestQuit();
    bool runFailed = applicationInstance->hasRunFailed();
    shutdownFramework(false);
    return runFailed ? 1 : 0;
}
