#include "TdTestHooks.h"

#include <string>
#include <thread>

using TamberData = TdHooksTest;

TEST_F(TamberData, NullLoggerGivesWorkingDummy)
{
    install(nullptr);
    ASSERT_NE(TD::hooks.logger, nullptr);
    // The dummy came through the alloc hook as a single object.
    EXPECT_EQ(liveCount(), 1u);
    TD::logger()->error("IFF", "dropped %d", 1);
    TD::logger()->warning("IFF", "dropped");
    TD::deleteObject(TD::hooks.logger);
    TD::hooks.logger = nullptr;
}

TEST_F(TamberData, InitLogsThroughGivenLogger)
{
    RecordingLogger logger;
    install(&logger);
    ASSERT_EQ(logger.lines.size(), 1u);
    EXPECT_EQ(logger.lines[0].channel, "TamberData");
    EXPECT_EQ(logger.lines[0].message, "Initialised.");
    EXPECT_EQ(logger.lines[0].level, TD::LEVEL_DEBUG);

    TD::logger()->warning("IFF", "chunk %s size %u", "FORM", 12u);
    TD::logger()->error("LZW", "%05d", 42);
    ASSERT_EQ(logger.lines.size(), 3u);
    EXPECT_EQ(logger.lines[1].message, "chunk FORM size 12");
    EXPECT_EQ(logger.lines[1].level, TD::LEVEL_WARNING);
    EXPECT_EQ(logger.lines[2].message, "00042");
    EXPECT_EQ(logger.lines[2].level, TD::LEVEL_ERROR);
    EXPECT_EQ(liveCount(), 0u);
}

TEST_F(TamberData, LongMessageIsCut)
{
    RecordingLogger logger;
    install(&logger);
    std::string longText(5000, 'x');
    for (size_t i = 0; i < longText.size(); i++)
        longText[i] = char('a' + i % 26);
    TD::logger()->debug("TamberData", "%s", longText.c_str());
    ASSERT_EQ(logger.lines.size(), 2u);
    EXPECT_EQ(logger.lines[1].message, longText.substr(0, 4095));

    // Exactly at the limit nothing is lost; one more is cut.
    TD::logger()->debug("c", "%s", longText.substr(0, 4095).c_str());
    EXPECT_EQ(logger.lines[2].message.size(), 4095u);
    TD::logger()->debug("c", "%s!", longText.substr(0, 4095).c_str());
    EXPECT_EQ(logger.lines[3].message, longText.substr(0, 4095));
}

namespace
{
// A logger whose output logs again on the same thread, as a forwarding host logger may.
struct EchoLogger : TD::Logger
{
    std::vector<std::string> lines;
    void log(const char*, const char* message, u8) override
    {
        lines.push_back(message);
        if (lines.size() == 1)
            warning("echo", "inner");
    }
};

// Several threads sharing one logger see their whole lines, never another thread's text.
struct CheckingLogger : TD::Logger
{
    std::atomic<int> bad{0};
    std::atomic<int> total{0};
    void log(const char*, const char* message, u8) override
    {
        std::string s(message);
        char c = s.empty() ? 0 : s[0];
        if (s.size() != 300 || s.find_first_not_of(c) != std::string::npos)
            bad++;
        total++;
    }
};
}

TEST_F(TamberData, LoggerLockIsRecursive)
{
    EchoLogger logger;
    install(&logger);
    ASSERT_EQ(logger.lines.size(), 2u);
    EXPECT_EQ(logger.lines[0], "Initialised.");
    EXPECT_EQ(logger.lines[1], "inner");
}

TEST_F(TamberData, ThreadsShareOneLogger)
{
    CheckingLogger logger;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&logger, t] {
            std::string line(300, char('A' + t));
            for (int i = 0; i < 200; i++)
                logger.warning("t", "%s", line.c_str());
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(logger.total.load(), 800);
    EXPECT_EQ(logger.bad.load(), 0);
}
