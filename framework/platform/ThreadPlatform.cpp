#include "framework/platform/ThreadPlatform.h"
#include "framework/core/Heap.h"
#include "framework/platform/Signals.h"
#include "framework/platform/ThreadControl.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>

struct PlatformThread
{
    pthread_t thread;
    PlatformThreadEntry entry;
    void* argument;
};

namespace
{
void* trampoline(void* p)
{
    PlatformThread* t = static_cast<PlatformThread*>(p);
    // A new thread inherits its creator's pin; the main thread's pin is its own.
    platformResetThreadAffinity();
    // A stack overflow here must reach the crash handler like one on the main thread.
    const bool crashStack = installThreadCrashStack();
    t->entry(t->argument);
    if (crashStack)
        removeThreadCrashStack();
    return nullptr;
}
}

PlatformThread* platformStartThread(PlatformThreadEntry entry, void* argument, u64 stackSize)
{
    PlatformThread* t = memNew<PlatformThread>();
    if (!t)
        return nullptr;
    t->entry = entry;
    t->argument = argument;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        memDelete(t);
        return nullptr;
    }
    if (stackSize < u64(PTHREAD_STACK_MIN))
        stackSize = PTHREAD_STACK_MIN;
    pthread_attr_setstacksize(&attr, size_t(stackSize));
    // Quit signals are handled on the main thread only: the new thread inherits them blocked.
    sigset_t quit;
    sigset_t previous;
    sigemptyset(&quit);
    sigaddset(&quit, SIGINT);
    sigaddset(&quit, SIGTERM);
    sigaddset(&quit, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &quit, &previous);
    int r = pthread_create(&t->thread, &attr, trampoline, t);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attr);
    if (r != 0) {
        memDelete(t);
        return nullptr;
    }
    return t;
}

void platformCloseThread(PlatformThread* thread)
{
    if (!thread)
        return;
    pthread_join(thread->thread, nullptr);
    memDelete(thread);
}

void platformYield()
{
    sched_yield();
}

void platformSleepMs(u32 ms)
{
    if (ms == 0) {
        sched_yield();
        return;
    }
    timespec ts;
    ts.tv_sec = time_t(ms / 1000);
    ts.tv_nsec = long(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
