#pragma once
#include "framework/core/Types.h"

// Operating-system threads behind the framework's Thread class.

struct PlatformThread;
typedef u32 (*PlatformThreadEntry)(void* argument);

// Starts a thread with its own stack of stackSize bytes. The new thread runs on the whole
// allowed processor set, whatever pin the creating thread has, with SIGINT, SIGTERM and SIGHUP
// blocked (they are the main thread's). Null when it cannot start.
PlatformThread* platformStartThread(PlatformThreadEntry entry, void* argument, u64 stackSize);
// Waits until the thread's function has returned, then frees the handle.
void platformCloseThread(PlatformThread* thread);
// Lets another ready thread run (a zero-length sleep).
void platformYield();
// Sleeps at least ms milliseconds; 0 only yields.
void platformSleepMs(u32 ms);
