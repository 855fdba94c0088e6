#pragma once
#include "framework/core/Heap.h"
#include "framework/core/String.h"
#include "framework/core/Types.h"

#include <cstring>

class Application;

// Builds the one application object; null when it could not be allocated.
typedef Application* (*ApplicationFactory)();

struct FrameSetup
{
    // Printed to standard output on every run, "\n" included.
    const char* banner;
    ApplicationFactory makeApplication;
};

// Run at start-up (onThreadStart, main thread) and shutdown (onThreadEnd) and by every
// framework thread, in list order. Either function may be null.
struct ThreadHook
{
    void (*onThreadStart)();
    void (*onThreadEnd)();
    ThreadHook* next;
};

constexpr u32 TRIG_TABLE_SIZE = 262144;

extern u8 frameworkInitialised;
extern String* commandLine;
extern u32 mainThreadId;
extern float sineTable[TRIG_TABLE_SIZE];
extern float cosineTable[TRIG_TABLE_SIZE];

void addThreadHook(ThreadHook* hook);
void runThreadStartHooks();
void runThreadEndHooks();

// The whole life of the process: start-up, init, the main loop, shutdown. Returns the exit
// status: 1 when start-up or init failed or the application reported a failed run, else 0.
int runFramework(int argc, char** argv, const FrameSetup& setup);

bool initFramework(const FrameSetup& setup);
void buildCommandLine(int argc, char** argv);
bool createApplication();
void shutdownFramework(bool failed);

// The program's arguments as given (argv[1] on), whatever bytes they hold; the joined command
// line cannot keep them all apart.
u32 getArgumentCount();
const char* getArgument(u32 index);

// Allocates a zero-filled block on the tracked heap and constructs T in it.
template <typename T>
Application* newApplication()
{
    void* p = memAlloc(sizeof(T));
    if (!p)
        return nullptr;
    memset(p, 0, sizeof(T));
    return new (p) T();
}
