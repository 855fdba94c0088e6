#include "framework/app/ProcessUtils.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

TEST(ProcessUtils, TimerIsMonotonicMicroseconds)
{
    ASSERT_TRUE(initTimer());
    u64 a = getTimeMicros();
    usleep(20000);
    u64 b = getTimeMicros();
    EXPECT_GE(b - a, 15000u);
    EXPECT_LT(b - a, 5000000u);
}

TEST(ProcessUtils, CpuCountIsTheAllowedSetTakenOnce)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
    u32 allowed = u32(CPU_COUNT(&set));
    EXPECT_EQ(getCpuCount(), allowed);

    // Pinning a thread to one processor later does not change the count.
    std::thread t([&set, allowed] {
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int i = 0; i < CPU_SETSIZE; i++) {
            if (CPU_ISSET(i, &set)) {
                CPU_SET(i, &one);
                break;
            }
        }
        ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
        EXPECT_EQ(getCpuCount(), allowed);
    });
    t.join();
}

TEST(ProcessUtils, ThreadNameCutTo15Bytes)
{
    struct Case
    {
        const char* name;
        const char* kept;
    };
    const Case cases[] = {
        {"Main Thread", "Main Thread"},
        {"Worker thread number 12", "Worker thread n"},
        {"exactly15chars_", "exactly15chars_"},
        // A two-byte sequence across the cut is dropped whole.
        {"abcdefghijklmn\xC3\xA9xyz", "abcdefghijklmn"},
        // A three-byte sequence ending at the cut is kept.
        {"abcdefghijkl\xE2\x82\xAC" "xyz", "abcdefghijkl\xE2\x82\xAC"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string got;
        std::thread t([&] {
            initThread(c.name);
            char buf[64] = {};
            pthread_getname_np(pthread_self(), buf, sizeof(buf));
            got = buf;
        });
        t.join();
        if (c.kept[0]) {
            EXPECT_EQ(got, c.kept) << c.name;
        }
        EXPECT_EQ(threadNameLength(c.name), strlen(c.kept)) << c.name;
    }
    // Bytes that are not UTF-8 are cut at 15.
    EXPECT_EQ(threadNameLength("\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80"), 15u);
    EXPECT_EQ(threadNameLength(nullptr), 0u);
}

TEST(ProcessUtils, SecondInitThreadDoesNothing)
{
    std::thread t([] {
        initThread("first");
        u64 s0 = threadRandomState()[0];
        u64 s1 = threadRandomState()[1];
        EXPECT_FALSE(s0 == 0 && s1 == 0);
        initThread("second");
        EXPECT_EQ(threadRandomState()[0], s0);
        EXPECT_EQ(threadRandomState()[1], s1);
        char buf[64] = {};
        pthread_getname_np(pthread_self(), buf, sizeof(buf));
        EXPECT_STREQ(buf, "first");
        // The generator moves.
        u64 a = nextThreadRandom();
        u64 b = nextThreadRandom();
        EXPECT_NE(a, b);
    });
    t.join();
}

TEST(ProcessUtils, XorshiftSequence)
{
    std::thread t([] {
        threadRandomState()[0] = 1;
        threadRandomState()[1] = 2;
        // xorshift128+ (23, 17, 26) from the state {1, 2}, worked by hand.
        u64 s1 = 1, s0 = 2;
        s1 ^= s1 << 23;
        u64 next = s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26);
        EXPECT_EQ(nextThreadRandom(), next + 2);
        EXPECT_EQ(threadRandomState()[0], 2u);
        EXPECT_EQ(threadRandomState()[1], next);
    });
    t.join();
}

TEST(ProcessUtils, SystemFoldersFollowEnvironment)
{
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    const char* oldData = getenv("XDG_DATA_HOME");
    const char* oldConfig = getenv("XDG_CONFIG_HOME");
    std::string savedData = oldData ? oldData : "", savedConfig = oldConfig ? oldConfig : "";

    setenv("HOME", "/home/pilot", 1);
    setenv("XDG_DATA_HOME", "/data/here", 1);
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    initSystemFolders();
    EXPECT_TRUE(systemFoldersReady());
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    if (strlen(cwd) < SYSTEM_FOLDER_SIZE) {
        EXPECT_STREQ(getSystemFolder(FOLDER_WORKING), cwd);
    }
    EXPECT_STREQ(getSystemFolder(FOLDER_PROFILE), "/home/pilot");
    EXPECT_STREQ(getSystemFolder(FOLDER_LOCAL_DATA), "/data/here");
    EXPECT_STREQ(getSystemFolder(FOLDER_ROAMING_DATA), "/home/pilot/.config");

    unsetenv("XDG_DATA_HOME");
    setenv("HOME", ("/" + std::string(300, 'h')).c_str(), 1);
    initSystemFolders();
    // Too long to hold: empty, never a cut-off path.
    EXPECT_STREQ(getSystemFolder(FOLDER_PROFILE), "");
    EXPECT_STREQ(getSystemFolder(FOLDER_LOCAL_DATA), "");

    setenv("HOME", oldHome.c_str(), 1);
    if (oldData)
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    initSystemFolders();
}

TEST(ProcessUtils, QuitFlagAndFormatWide)
{
    u8 before = quitRequested.load();
    requestQuit();
    EXPECT_EQ(quitRequested.load(), 1);
    quitRequested.store(before);

    wchar_t buf[8];
    EXPECT_EQ(formatWide(buf, 8, L"%ls-%d", L"ab", 7), 4);
    EXPECT_EQ(std::wstring(buf), L"ab-7");
    EXPECT_EQ(formatWide(buf, 3, L"%ls", L"toolong"), -1);
}
