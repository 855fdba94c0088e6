#include "framework/app/ProcessUtils.h"
#include "framework/platform/ThreadControl.h"
#include "framework/threads/Thread.h"
#include "framework/threads/ThreadRecordRegistry.h"
#include "tests/framework/threads/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sched.h>
#include <signal.h>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct Flags
{
    u8 running, stopRequested, finished;
    bool operator==(const Flags& o) const
    {
        return running == o.running && stopRequested == o.stopRequested && finished == o.finished;
    }
};

Flags flagsOf(const Thread& t)
{
    return {t.state->running.load(), t.state->stopRequested.load(), t.state->finished.load()};
}

// How many of SIGINT, SIGTERM and SIGHUP the calling thread blocks.
int quitSignalsBlockedHere()
{
    sigset_t mask;
    if (pthread_sigmask(SIG_BLOCK, nullptr, &mask) != 0)
        return -1;
    return sigismember(&mask, SIGINT) + sigismember(&mask, SIGTERM) + sigismember(&mask, SIGHUP);
}

// Counts its calls; steps until told to end, or for ever.
class ProbeThread : public Thread
{
public:
    explicit ProbeThread(bool startOk = true, int stepsBeforeEnd = -1)
        : Thread("Probe"), startOk(startOk), stepsBeforeEnd(stepsBeforeEnd)
    {
    }
    bool onStart() override
    {
        starts++;
        cpus = 0;
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof(set), &set) == 0)
            cpus = CPU_COUNT(&set);
        quitSignalsBlocked = quitSignalsBlockedHere();
        return startOk;
    }
    bool step() override
    {
        // Made here: the thread's end hook frees it.
        ThreadRecordRegistry::current();
        int n = ++steps;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return stepsBeforeEnd < 0 || n < stepsBeforeEnd;
    }
    void onStop() override { stops++; }

    bool startOk;
    int stepsBeforeEnd;
    std::atomic<int> starts{0}, steps{0}, stops{0};
    int cpus = 0;
    int quitSignalsBlocked = -1;
};

std::string hex(u32 id)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%X", id);
    return buf;
}
}

TEST(Thread, StartAndStopHandshakeMovesThroughTheStates)
{
    LogCapture log;
    ProbeThread t;
    EXPECT_EQ(flagsOf(t), (Flags{0, 0, 1}));
    ASSERT_TRUE(t.start());
    EXPECT_EQ(flagsOf(t), (Flags{1, 0, 0}));
    while (t.steps.load() < 3)
        std::this_thread::yield();
    t.stop();
    EXPECT_EQ(flagsOf(t), (Flags{1, 1, 1}));
    EXPECT_EQ(t.starts.load(), 1);
    EXPECT_EQ(t.stops.load(), 1);
    // Once run, a thread only reports that it runs.
    EXPECT_TRUE(t.start());
    EXPECT_EQ(t.starts.load(), 1);

    const std::vector<std::string> expected = {
        "Probe > Beginning thread (Probe / " + hex(t.threadId) + ")...",
        "Probe > Thread terminating...",
        "Probe > Thread terminated.",
    };
    EXPECT_EQ(log.lines(), expected);
}

TEST(Thread, RefusedStartRunsNeitherHooksNorStop)
{
    LogCapture log;
    ThreadRecordRegistry::create();
    ProbeThread t(false);
    EXPECT_FALSE(t.start());
    EXPECT_EQ(flagsOf(t), (Flags{0, 0, 1}));
    EXPECT_EQ(t.starts.load(), 1);
    EXPECT_EQ(t.steps.load(), 0);
    EXPECT_EQ(t.stops.load(), 0);
    EXPECT_EQ(t.handle, nullptr);
    t.stop();
    const std::vector<std::string> expected = {
        "Probe > Beginning thread (Probe / " + hex(t.threadId) + ")...",
        "Probe > Thread terminated.",
    };
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(ThreadRecordRegistry::instance()->records.count, 0u);
    ThreadRecordRegistry::destroy();
}

TEST(Thread, StepThatEndsTheLoopNeedsNoStop)
{
    LogCapture log;
    ProbeThread t(true, 5);
    ASSERT_TRUE(t.start());
    while (!t.isFinished())
        std::this_thread::yield();
    EXPECT_EQ(t.steps.load(), 5);
    EXPECT_EQ(t.stops.load(), 1);
    EXPECT_EQ(flagsOf(t), (Flags{1, 0, 1}));
    t.stop();
    // Nothing to stop: no "Thread terminating..." line.
    EXPECT_EQ(log.messages("Probe").size(), 2u);
}

TEST(Thread, NeverStartedThreadStopsAtOnce)
{
    LogCapture log;
    ProbeThread t;
    t.stop();
    EXPECT_TRUE(t.stopWithin(0));
    EXPECT_TRUE(log.lines().empty());
}

TEST(Thread, EndHookFreesTheThreadsRecord)
{
    ThreadRecordRegistry::create();
    {
        ProbeThread t;
        ASSERT_TRUE(t.start());
        while (t.steps.load() < 2)
            std::this_thread::yield();
        EXPECT_EQ(ThreadRecordRegistry::instance()->records.count, 1u);
        t.stop();
    }
    EXPECT_EQ(ThreadRecordRegistry::instance()->records.count, 0u);
    ThreadRecordRegistry::destroy();
    EXPECT_EQ(ThreadRecordRegistry::instance(), nullptr);
}

// The main thread is pinned to one processor; threads it starts get every allowed one.
TEST(Thread, NewThreadGetsTheWholeAllowedSet)
{
    if (getCpuCount() < 2)
        GTEST_SKIP() << "only one processor allowed";
    ASSERT_TRUE(platformSetThreadAffinity(2));
    ProbeThread t;
    bool started = t.start();
    t.stop();
    platformResetThreadAffinity();
    ASSERT_TRUE(started);
    EXPECT_EQ(u32(t.cpus), getCpuCount());
}

// The quit handler removes half-written files: it must run on the main thread, never a worker.
TEST(Thread, QuitSignalsReachOnlyTheMainThread)
{
    // Whatever mask the test run inherited, starting a worker leaves this thread's as it was.
    const int before = quitSignalsBlockedHere();
    ProbeThread t;
    ASSERT_TRUE(t.start());
    t.stop();
    EXPECT_EQ(t.quitSignalsBlocked, 3);
    EXPECT_EQ(quitSignalsBlockedHere(), before);
}

TEST(Thread, ManyStartsAndStopsInARow)
{
    LogCapture log;
    for (int i = 0; i < 50; i++) {
        ProbeThread t;
        ASSERT_TRUE(t.start());
        t.stop();
        ASSERT_TRUE(t.isFinished());
    }
}
