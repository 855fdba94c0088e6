#pragma once
#include "framework/core/Types.h"

#include <cstdio>

enum LogLevel : u8
{
    LOG_TRACE = 0,
    LOG_DEBUG = 1,
    LOG_INFO = 2,
    LOG_WARN = 3,
    LOG_ERROR = 4,
    LOG_FATAL = 5,
};

// Messages longer than this are cut (snprintf into a 1023-byte buffer keeps 1022 characters).
constexpr u32 LOG_MESSAGE_BUFFER = 1023;

extern u8 consoleLogLevel;
extern u8 fileLogLevel;
extern FILE* logFile;

struct LogListener
{
    void (*fn)(u8 level, const char* channel, const char* message);
    LogListener* next;
};
extern LogListener* logListeners;

const char* logLevelName(u8 level);

void logTrace(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logDebug(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logInfo(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logWarn(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logError(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logFatal(const char* channel, const char* format, ...) __attribute__((format(printf, 2, 3)));

void logWrite(u8 level, const char* channel, const char* message);
void printLogLine(u8 level, const char* channel, const char* message);
void notifyLogListeners(u8 level, const char* channel, const char* message);
void writeFormatted(FILE* f, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The locks that serialise whole console lines and whole file lines.
class CriticalSection;
CriticalSection& consoleLogLock();
CriticalSection& fileLogLock();
