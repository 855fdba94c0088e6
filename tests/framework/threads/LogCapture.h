#pragma once
// Records every log line of every thread while it lives, and keeps the console quiet.
#include "framework/log/Log.h"

#include <mutex>
#include <string>
#include <vector>

class LogCapture
{
public:
    LogCapture()
    {
        savedConsole = consoleLogLevel;
        consoleLogLevel = LOG_FATAL + 1;
        std::lock_guard<std::mutex> guard(mutex());
        active() = this;
        node.fn = &LogCapture::record;
        node.next = logListeners;
        logListeners = &node;
    }
    ~LogCapture()
    {
        std::lock_guard<std::mutex> guard(mutex());
        for (LogListener** p = &logListeners; *p; p = &(*p)->next)
            if (*p == &node) {
                *p = node.next;
                break;
            }
        active() = nullptr;
        consoleLogLevel = savedConsole;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // "CHANNEL > message" lines at or above the level, in the order they were logged.
    std::vector<std::string> lines(u8 minLevel = LOG_TRACE) const
    {
        std::lock_guard<std::mutex> guard(mutex());
        std::vector<std::string> out;
        for (const Entry& e : entries)
            if (e.level >= minLevel)
                out.push_back(e.text);
        return out;
    }
    // Lines of one channel, message only.
    std::vector<std::string> messages(const std::string& channel) const
    {
        std::lock_guard<std::mutex> guard(mutex());
        std::vector<std::string> out;
        for (const Entry& e : entries)
            if (e.channel == channel)
                out.push_back(e.message);
        return out;
    }

private:
    struct Entry
    {
        u8 level;
        std::string channel;
        std::string message;
        std::string text;
    };
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static LogCapture*& active()
    {
        static LogCapture* a = nullptr;
        return a;
    }
    static void record(u8 level, const char* channel, const char* message)
    {
        std::lock_guard<std::mutex> guard(mutex());
        if (!active())
            return;
        std::string c = channel ? channel : "";
        std::string m = message ? message : "";
        active()->entries.push_back({level, c, m, c + " > " + m});
    }

    LogListener node{};
    std::vector<Entry> entries;
    u8 savedConsole = LOG_WARN;
};
