#pragma once
#include "framework/core/String.h"
#include "framework/log/Log.h"
#include "framework/platform/CriticalSection.h"

#include <cstdarg>

// A named log channel owned by a framework service. Its own lock makes one Logger usable from
// several threads; that lock is always taken before the console or file lock.
class Logger
{
public:
    String name;
    char* buffer; // LOG_MESSAGE_BUFFER + 1 bytes
    CriticalSection lock;

    explicit Logger(const String& name);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void warn(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void writeV(u8 level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
};

// "TRACE", "DEBUG", "INFO", "WARN" or "WARNING", "ERROR", "FATAL" in any ASCII case; level is
// left alone when the text is none of them.
bool parseLogLevel(const String& text, u8& level);
