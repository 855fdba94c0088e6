#include "framework/log/Logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
// Sets the log levels and a scratch log file for one test, and puts everything back after.
class LogCapture
{
public:
    LogCapture(u8 console, u8 file)
        : savedConsole(consoleLogLevel), savedFile(fileLogLevel), savedLogFile(logFile)
    {
        consoleLogLevel = console;
        fileLogLevel = file;
        logFile = tmpfile();
        testing::internal::CaptureStdout();
    }
    ~LogCapture()
    {
        if (capturing)
            testing::internal::GetCapturedStdout();
        if (logFile)
            fclose(logFile);
        consoleLogLevel = savedConsole;
        fileLogLevel = savedFile;
        logFile = savedLogFile;
    }
    std::string console()
    {
        capturing = false;
        return testing::internal::GetCapturedStdout();
    }
    std::string file()
    {
        fflush(logFile);
        std::string text;
        rewind(logFile);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, logFile)) > 0)
            text.append(chunk, n);
        return text;
    }

private:
    u8 savedConsole, savedFile;
    FILE* savedLogFile;
    bool capturing = true;
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start) + "<no newline>");
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}
}

TEST(Log, LineFormatsOnConsoleAndFile)
{
    LogCapture cap(LOG_TRACE, LOG_TRACE);
    logTrace("Core", "t%d", 0);
    logDebug("Stub", "d");
    logInfo("VFS", "value %s", "x");
    logWarn("File", "w");
    logError("XML", "e");
    logFatal("Memory", "f");
    const char* want = "[TRACE] Core > t0\n"
                       "[DEBUG] Stub > d\n"
                       "[INFO ] VFS > value x\n"
                       "[WARN ] File > w\n"
                       "[ERROR] XML > e\n"
                       "[FATAL] Memory > f\n";
    EXPECT_EQ(cap.file(), want);
    EXPECT_EQ(cap.console(), want);
}

TEST(Log, LevelRules)
{
    LogCapture cap(LOG_WARN, LOG_WARN);
    logDebug("Core", "hidden");
    logInfo("Core", "hidden");
    logWarn("Core", "shown");
    EXPECT_EQ(cap.console(), "[WARN ] Core > shown\n");
    EXPECT_EQ(cap.file(), "[WARN ] Core > shown\n");
}

TEST(Log, OutputsHaveTheirOwnLevels)
{
    LogCapture cap(LOG_ERROR, LOG_INFO);
    logInfo("Core", "file only");
    logError("Core", "both");
    EXPECT_EQ(cap.console(), "[ERROR] Core > both\n");
    EXPECT_EQ(cap.file(), "[INFO ] Core > file only\n[ERROR] Core > both\n");
}

TEST(Log, LongMessageIsCut)
{
    LogCapture cap(LOG_WARN, LOG_WARN);
    std::string message(2000, 'm');
    logWarn("Core", "%s", message.c_str());
    Logger logger("Job System");
    logger.error("%s", message.c_str());
    std::string cut(1022, 'm');
    EXPECT_EQ(cap.console(), "[WARN ] Core > " + cut + "\n[ERROR] Job System > " + cut + "\n");
    EXPECT_EQ(cap.file(), "[WARN ] Core > " + cut + "\n[ERROR] Job System > " + cut + "\n");
}

TEST(Log, LoggerChannel)
{
    LogCapture cap(LOG_DEBUG, LOG_ERROR);
    {
        Logger vfs("VFS");
        vfs.debug("mounted %d", 3);
        vfs.error("lost");
        Logger unnamed{String()};
        unnamed.error("anon");
    }
    EXPECT_EQ(cap.console(), "[DEBUG] VFS > mounted 3\n[ERROR] VFS > lost\n[ERROR]  > anon\n");
    EXPECT_EQ(cap.file(), "[ERROR] VFS > lost\n[ERROR]  > anon\n");
}

TEST(Log, ListenersSeeEveryMessage)
{
    static std::vector<std::string> seen;
    seen.clear();
    LogListener listener = {[](u8 level, const char* channel, const char* message) {
                                seen.push_back(std::to_string(level) + channel + ":" + message);
                            },
                            nullptr};
    LogListener* saved = logListeners;
    logListeners = &listener;
    {
        LogCapture cap(LOG_FATAL, LOG_FATAL);
        logInfo("Core", "quiet");
        Logger logger("Job System");
        logger.debug("dbg");
        EXPECT_EQ(cap.console(), "");
    }
    logListeners = saved;
    EXPECT_EQ(seen, (std::vector<std::string>{"2Core:quiet", "1Job System:dbg"}));
}

TEST(Log, ParseLogLevel)
{
    struct Case
    {
        const char* text;
        bool ok;
        u8 level;
    } cases[] = {{"trace", true, 0}, {"Debug", true, 1}, {"INFO", true, 2},   {"warning", true, 3},
                 {"Warning", true, 3}, {"WARN", true, 3},  {"error", true, 4}, {"FATAL", true, 5},
                 {"WARN ", false, 9}, {"", false, 9},      {"INFO2", false, 9}, {"3", false, 9}};
    for (const Case& c : cases) {
        u8 level = 9;
        EXPECT_EQ(parseLogLevel(c.text, level), c.ok) << c.text;
        EXPECT_EQ(level, c.level) << c.text;
    }
}

TEST(Log, ThreadsNeverBreakALine)
{
    LogCapture cap(LOG_WARN, LOG_WARN);
    const int threads = 8, perThread = 2000;
    Logger shared("Shared");
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([t, &shared] {
            for (int i = 0; i < perThread; i++) {
                if (i % 2)
                    logWarn("Core", "thread %d line %d", t, i);
                else
                    shared.error("thread %d line %d", t, i);
            }
        });
    }
    for (std::thread& w : workers)
        w.join();

    for (const std::string& text : {cap.console(), cap.file()}) {
        std::vector<std::string> got = lines(text);
        ASSERT_EQ(got.size(), size_t(threads * perThread));
        std::set<std::string> unique;
        for (const std::string& line : got) {
            int t = -1, i = -1, used = 0;
            bool free = line.rfind("[WARN ] Core > ", 0) == 0;
            bool logger = line.rfind("[ERROR] Shared > ", 0) == 0;
            ASSERT_TRUE(free || logger) << line;
            const char* rest = line.c_str() + (free ? 15 : 17);
            ASSERT_EQ(sscanf(rest, "thread %d line %d%n", &t, &i, &used), 2) << line;
            ASSERT_EQ(rest[used], 0) << line;
            ASSERT_EQ(free, i % 2 == 1) << line;
            unique.insert(line);
        }
        EXPECT_EQ(unique.size(), got.size());
    }
}
