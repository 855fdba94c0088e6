#include "framework/log/Logger.h"
#include "framework/core/Heap.h"

#include <cstdio>

Logger::Logger(const String& channel)
    : name(channel), buffer(static_cast<char*>(allocZeroed(LOG_MESSAGE_BUFFER)))
{
}

Logger::~Logger()
{
    // A thread still writing through this Logger finishes first.
    ScopedLock guard(lock);
    memFree(buffer);
    buffer = nullptr;
}

void Logger::writeV(u8 level, const char* format, va_list args)
{
    ScopedLock guard(lock);
    if (!buffer)
        return;
    if (format)
        vsnprintf(buffer, LOG_MESSAGE_BUFFER, format, args);
    else
        buffer[0] = 0;
    const char* channel = name.c_str();
    if (level >= consoleLogLevel) {
        ScopedLock console(consoleLogLock());
        printLogLine(level, channel, buffer);
    }
    if (level >= fileLogLevel && logFile) {
        ScopedLock file(fileLogLock());
        fprintf(logFile, "[%s] %s > %s\n", logLevelName(level), channel, buffer);
    }
    notifyLogListeners(level, channel, buffer);
}

#define DEFINE_LOGGER_FN(fn, level)                                                                                    \
    void Logger::fn(const char* format, ...)                                                                           \
    {                                                                                                                  \
        va_list args;                                                                                                  \
        va_start(args, format);                                                                                        \
        writeV(level, format, args);                                                                                   \
        va_end(args);                                                                                                  \
    }

DEFINE_LOGGER_FN(debug, LOG_DEBUG)
DEFINE_LOGGER_FN(info, LOG_INFO)
DEFINE_LOGGER_FN(warn, LOG_WARN)
DEFINE_LOGGER_FN(error, LOG_ERROR)

bool parseLogLevel(const String& text, u8& level)
{
    static const struct
    {
        const char* word;
        u8 level;
    } words[] = {{"TRACE", LOG_TRACE}, {"DEBUG", LOG_DEBUG}, {"INFO", LOG_INFO},   {"WARN", LOG_WARN},
                 {"WARNING", LOG_WARN}, {"ERROR", LOG_ERROR}, {"FATAL", LOG_FATAL}};
    for (const auto& w : words) {
        if (text.equalsNoCase(w.word)) {
            level = w.level;
            return true;
        }
    }
    return false;
}
