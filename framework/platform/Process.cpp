#include "framework/platform/Process.h"

#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

bool platformMonotonicMicros(u64* out)
{
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        *out = 0;
        return false;
    }
    *out = u64(ts.tv_sec) * 1000000u + u64(ts.tv_nsec) / 1000u;
    return true;
}

u32 platformAllowedCpuCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0)
            return u32(n);
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? u32(online) : 1;
}

bool platformWorkingDirectory(char* buffer, u64 size)
{
    if (size == 0)
        return false;
    if (!getcwd(buffer, size_t(size))) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

const char* platformEnv(const char* name)
{
    return getenv(name);
}

const char* platformHomeFolder()
{
    const char* home = getenv("HOME");
    if (home && home[0])
        return home;
    passwd* pw = getpwuid(getuid());
    return (pw && pw->pw_dir && pw->pw_dir[0]) ? pw->pw_dir : nullptr;
}

void platformSetThreadName(const char* name)
{
    pthread_setname_np(pthread_self(), name);
}

u64 platformPhysicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? u64(pages) * u64(pageSize) : 0;
}
