#include "framework/app/ProcessUtils.h"
#include "framework/platform/Process.h"
#include "framework/platform/Signals.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

std::atomic<u8> quitRequested{0};
char systemFolders[4][SYSTEM_FOLDER_SIZE];

namespace
{
bool foldersReady = false;
thread_local u8 threadInitialised = 0;
thread_local u64 randomState[2] = {0, 0};

u32 countCpusOnce()
{
    static const u32 count = platformAllowedCpuCount();
    return count;
}
// Taken during static start-up, before anything can pin the main thread.
[[maybe_unused]] const u32 cpuCountAtStart = countCpusOnce();

void copyFolder(char* dest, const char* path)
{
    dest[0] = 0;
    if (!path)
        return;
    u64 n = strlen(path);
    if (n >= SYSTEM_FOLDER_SIZE)
        return;
    memcpy(dest, path, n + 1);
}

// XDG variables that are unset, empty or relative are ignored, and the home-based default used.
void xdgFolder(char* dest, const char* variable, const char* home, const char* fallback)
{
    const char* value = platformEnv(variable);
    if (value && value[0] == '/') {
        copyFolder(dest, value);
        return;
    }
    dest[0] = 0;
    if (!home)
        return;
    u64 h = strlen(home);
    u64 f = strlen(fallback);
    if (h + f >= SYSTEM_FOLDER_SIZE)
        return;
    memcpy(dest, home, h);
    memcpy(dest + h, fallback, f + 1);
}

inline u64 rotr64(u64 x, int r)
{
    return (x >> r) | (x << (64 - r));
}
}

u32 quitSignalsReceived()
{
    return quitSignalCount();
}

void reportInterrupted(const char* text, u64 length)
{
    reportInterruptOnce(text, length);
}

void requestQuit()
{
    quitRequested.exchange(1);
}

bool initTimer()
{
    u64 now;
    return platformMonotonicMicros(&now);
}

u64 getTimeMicros()
{
    u64 now;
    platformMonotonicMicros(&now);
    return now;
}

u32 getCpuCount()
{
    return countCpusOnce();
}

u64 getPhysicalMemory()
{
    static const u64 bytes = platformPhysicalMemory();
    return bytes;
}

void initSystemFolders()
{
    memset(systemFolders, 0, sizeof(systemFolders));
    platformWorkingDirectory(systemFolders[FOLDER_WORKING], SYSTEM_FOLDER_SIZE);
    const char* home = platformHomeFolder();
    copyFolder(systemFolders[FOLDER_PROFILE], home);
    xdgFolder(systemFolders[FOLDER_LOCAL_DATA], "XDG_DATA_HOME", home, "/.local/share");
    xdgFolder(systemFolders[FOLDER_ROAMING_DATA], "XDG_CONFIG_HOME", home, "/.config");
    foldersReady = true;
}

bool systemFoldersReady()
{
    return foldersReady;
}

const char* getSystemFolder(SystemFolder which)
{
    return which < 4 ? systemFolders[which] : "";
}

u32 threadNameLength(const char* name)
{
    if (!name)
        return 0;
    u32 n = 0;
    while (n < 15 && name[n])
        n++;
    if (name[n] == 0)
        return n;
    // Cut in the middle: step back over continuation bytes to the start of the sequence that
    // would be split. A sequence is at most 4 bytes, so bytes that are not UTF-8 move the cut
    // back by 3 at most.
    u32 start = n;
    while (start > n - 3 && (u8(name[start]) & 0xC0) == 0x80)
        start--;
    return (u8(name[start]) & 0xC0) == 0x80 ? n : start;
}

void initThread(const char* name)
{
    if (threadInitialised)
        return;
    threadInitialised = 1;
    randomState[0] = getTimeMicros();

    char shortName[16];
    u32 n = threadNameLength(name);
    if (n)
        memcpy(shortName, name, n);
    shortName[n] = 0;
    platformSetThreadName(shortName);

    randomState[1] = getTimeMicros();
    u32 rounds = 100 + u32(getTimeMicros() & 0xFF);
    for (u32 i = 0; i < rounds; i++) {
        randomState[0] = rotr64(randomState[0], 49) ^ u64(i64(rand()));
        randomState[1] = rotr64(randomState[1], 49) ^ u64(i64(rand()));
    }
    // xorshift128+ never leaves the all-zero state.
    if (randomState[0] == 0 && randomState[1] == 0)
        randomState[0] = 0x9e3779b97f4a7c15ull;
}

u64* threadRandomState()
{
    return randomState;
}

u64 nextThreadRandom()
{
    u64 s1 = randomState[0];
    const u64 s0 = randomState[1];
    randomState[0] = s0;
    s1 ^= s1 << 23;
    randomState[1] = s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26);
    return randomState[1] + s0;
}

int formatWide(wchar_t* buffer, u64 count, const wchar_t* format, ...)
{
    if (!buffer || count == 0)
        return -1;
    va_list args;
    va_start(args, format);
    int r = vswprintf(buffer, size_t(count), format, args);
    va_end(args);
    return r < 0 ? -1 : r;
}
