#include "framework/log/Log.h"
#include "framework/platform/CriticalSection.h"
#include "framework/platform/Console.h"

#include <cstdarg>

u8 consoleLogLevel = LOG_INFO;
u8 fileLogLevel = LOG_INFO;
FILE* logFile = nullptr;
LogListener* logListeners = nullptr;

namespace
{
const char* const levelNames[6] = {"TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", "FATAL"};
// Console colour attributes of each level (Windows console numbering).
const u8 levelColours[6] = {6, 2, 15, 14, 12, 206};

thread_local char messageBuffers[6][LOG_MESSAGE_BUFFER + 1];

void logV(u8 level, const char* channel, const char* format, va_list args)
{
    char* buffer = messageBuffers[level];
    vsnprintf(buffer, LOG_MESSAGE_BUFFER, format, args);
    logWrite(level, channel, buffer);
}
}

CriticalSection& consoleLogLock()
{
    return processLock<100>();
}

CriticalSection& fileLogLock()
{
    return processLock<101>();
}

const char* logLevelName(u8 level)
{
    return level < 6 ? levelNames[level] : "?????";
}

#define DEFINE_LOG_FN(name, level)                                                                                     \
    void name(const char* channel, const char* format, ...)                                                            \
    {                                                                                                                  \
        va_list args;                                                                                                  \
        va_start(args, format);                                                                                        \
        logV(level, channel, format, args);                                                                            \
        va_end(args);                                                                                                  \
    }

DEFINE_LOG_FN(logTrace, LOG_TRACE)
DEFINE_LOG_FN(logDebug, LOG_DEBUG)
DEFINE_LOG_FN(logInfo, LOG_INFO)
DEFINE_LOG_FN(logWarn, LOG_WARN)
DEFINE_LOG_FN(logError, LOG_ERROR)
DEFINE_LOG_FN(logFatal, LOG_FATAL)

void logWrite(u8 level, const char* channel, const char* message)
{
    if (level >= consoleLogLevel) {
        ScopedLock lock(consoleLogLock());
        printLogLine(level, channel, message);
    }
    if (level >= fileLogLevel && logFile) {
        ScopedLock lock(fileLogLock());
        fprintf(logFile, "[%s] %s > %s\n", logLevelName(level), channel ? channel : "", message ? message : "");
        fflush(logFile);
    }
    notifyLogListeners(level, channel, message);
}

void printLogLine(u8 level, const char* channel, const char* message)
{
    u8 colour = level < 6 ? levelColours[level] : 7;
    FILE* out = stdout;
    consoleSetColour(out, 7);
    fputs("[", out);
    consoleSetColour(out, colour);
    fputs(logLevelName(level), out);
    consoleSetColour(out, 7);
    fputs("] ", out);
    consoleSetColour(out, 11);
    fputs(channel ? channel : "", out);
    consoleSetColour(out, 7);
    fputs(" > ", out);
    consoleSetColour(out, colour);
    fputs(message ? message : "", out);
    consoleSetColour(out, 7);
    fputs("\n", out);
    fflush(out);
}

void notifyLogListeners(u8 level, const char* channel, const char* message)
{
    for (LogListener* l = logListeners; l; l = l->next)
        l->fn(level, channel, message);
}

void writeFormatted(FILE* f, const char* format, ...)
{
    if (!f)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
}
