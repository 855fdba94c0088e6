#include "gamedata/TamberData.h"
#include "framework/core/Heap.h"

#include <cstdio>
#include <cstring>

namespace TD
{
namespace
{
void* heapAlloc(u64 size, bool, const char*, const char*, u32)
{
    return memAlloc(size);
}

void heapFree(void* p, bool)
{
    memFree(p);
}

Reader* noFile(void*, const char*)
{
    return nullptr;
}

Logger* fallbackLogger()
{
    alignas(DummyLogger) static unsigned char storage[sizeof(DummyLogger)];
    static DummyLogger* silent = new (storage) DummyLogger();
    return silent;
}
}

Hooks hooks = {heapAlloc, heapFree, noFile, nullptr};

Logger::Logger()
{
    memset(buffer, 0, sizeof(buffer));
}

void Logger::logV(u8 level, const char* channel, const char* fmt, va_list args)
{
    ScopedLock guard(lock);
    // The bound keeps MAX_MESSAGE characters and the terminator.
    vsnprintf(buffer, MAX_MESSAGE + 1, fmt, args);
    log(channel, buffer, level);
}

#define TD_LOG_FN(name, level)                                                                                         \
    void Logger::name(const char* channel, const char* fmt, ...)                                                       \
    {                                                                                                                  \
        va_list args;                                                                                                  \
        va_start(args, fmt);                                                                                           \
        logV(level, channel, fmt, args);                                                                               \
        va_end(args);                                                                                                  \
    }

TD_LOG_FN(debug, LEVEL_DEBUG)
TD_LOG_FN(warning, LEVEL_WARNING)
TD_LOG_FN(error, LEVEL_ERROR)

void init(const Hooks& newHooks, Logger* newLogger)
{
    if (newHooks.alloc && newHooks.free) {
        hooks.alloc = newHooks.alloc;
        hooks.free = newHooks.free;
    }
    hooks.openFile = newHooks.openFile ? newHooks.openFile : noFile;
    if (!newLogger)
        newLogger = TD_NEW(TD::DummyLogger);
    // Null only when even that allocation failed; logger() then answers with a silent one
    // that the host never frees.
    hooks.logger = newLogger;
    logger()->debug("TamberData", "Initialised.");
}

Logger* logger()
{
    return hooks.logger ? hooks.logger : fallbackLogger();
}
}
