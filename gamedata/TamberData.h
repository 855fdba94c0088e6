#pragma once
#include "framework/core/Types.h"
#include "framework/platform/CriticalSection.h"

#include <cstdarg>
#include <new>
#include <utility>

// The game-data library allocates, opens files and logs only through the hooks its host
// installs with TD::init.
namespace TD
{
class Logger;
class Reader;

struct Hooks
{
    void* (*alloc)(u64 size, bool isArray, const char* typeName, const char* file, u32 line);
    void (*free)(void* p, bool isArray);
    // The first argument carries nothing in this program.
    Reader* (*openFile)(void* first, const char* path);
    Logger* logger;
};

// Until TD::init runs these go to the tracked heap and a silent logger, so a library object
// used too early is still safe.
extern Hooks hooks;

enum LogLevel : u8
{
    LEVEL_FATAL = 0,
    LEVEL_ERROR = 1,
    LEVEL_WARNING = 2,
    LEVEL_INFO = 3,
    LEVEL_DEBUG = 4,
    LEVEL_TRACE = 5,
};

class Logger
{
public:
    // Longer messages are cut to this many characters.
    static constexpr u32 MAX_MESSAGE = 4095;

    Logger();
    virtual void log(const char* channel, const char* message, u8 level) = 0;
    // The lock's destructor waits for a thread that is still logging.
    virtual ~Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void debug(const char* channel, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void warning(const char* channel, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void error(const char* channel, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void logV(u8 level, const char* channel, const char* fmt, va_list args);

private:
    char buffer[MAX_MESSAGE + 2];
    // Recursive, so a log implementation may log again on the same thread.
    CriticalSection lock;
};

class DummyLogger : public Logger
{
public:
    void log(const char*, const char*, u8) override {}
};

// Installs alloc, free and openFile from hooks and the logger (a DummyLogger made through
// alloc when null), then logs "Initialised.". The host ends the library by destroying
// hooks.logger with deleteObject.
void init(const Hooks& newHooks, Logger* logger);
// The library's logger; never null.
Logger* logger();

// Library objects: alloc (not an array), then construction in place; destruction, then free.
template <typename T, typename... Args>
T* newObject(const char* typeName, const char* file, u32 line, Args&&... args)
{
    void* p = hooks.alloc(sizeof(T), false, typeName, file, line);
    if (!p)
        return nullptr;
    return new (p) T(std::forward<Args>(args)...);
}

template <typename T>
void deleteObject(T* p)
{
    if (!p)
        return;
    p->~T();
    hooks.free(const_cast<void*>(static_cast<const void*>(p)), false);
}
}

#define TD_NEW(T, ...) TD::newObject<T>(#T, __FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
