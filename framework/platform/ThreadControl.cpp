#include "framework/platform/ThreadControl.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <mutex>

namespace
{
cpu_set_t allowedSet;
int allowedCount = 1;
std::once_flag allowedTaken;

void takeAllowedSet()
{
    std::call_once(allowedTaken, [] {
        CPU_ZERO(&allowedSet);
        if (sched_getaffinity(0, sizeof(allowedSet), &allowedSet) == 0 && CPU_COUNT(&allowedSet) > 0) {
            allowedCount = CPU_COUNT(&allowedSet);
        } else {
            CPU_ZERO(&allowedSet);
            CPU_SET(0, &allowedSet);
            allowedCount = 1;
        }
    });
}

// Runs before main, so the set is the process's own and not a pinned thread's.
struct AllowedSetTaker
{
    AllowedSetTaker() { takeAllowedSet(); }
} allowedSetTaker;
}

u32 platformCurrentThreadId()
{
    return u32(gettid());
}

u32 platformProcessorCount()
{
    takeAllowedSet();
    return u32(allowedCount);
}

bool platformSetThreadAffinity(u64 mask)
{
    takeAllowedSet();
    cpu_set_t set;
    CPU_ZERO(&set);
    int index = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && index < 64; ++cpu) {
        if (!CPU_ISSET(cpu, &allowedSet))
            continue;
        if (mask & (u64(1) << index))
            CPU_SET(cpu, &set);
        ++index;
    }
    if (CPU_COUNT(&set) == 0)
        return false;
    return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}

bool platformResetThreadAffinity()
{
    takeAllowedSet();
    return pthread_setaffinity_np(pthread_self(), sizeof(allowedSet), &allowedSet) == 0;
}
