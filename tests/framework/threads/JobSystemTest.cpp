#include "framework/app/ProcessUtils.h"
#include "framework/platform/ThreadControl.h"
#include "framework/threads/JobSystem.h"
#include "tests/framework/threads/LogCapture.h"
#include "tool/MORDAX.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
// Everything a test job did, shared by the jobs of one test.
struct Journal
{
    std::mutex m;
    std::vector<std::string> ran;
    std::set<u32> threads;
    std::atomic<int> deleted{0};
    std::atomic<int> contextsSeen{0};

    void note(const std::string& name)
    {
        std::lock_guard<std::mutex> g(m);
        ran.push_back(name);
        threads.insert(platformCurrentThreadId());
    }
};

class NamedJob : public Job
{
public:
    NamedJob(Journal& j, std::string name, int notReadyTimes = 0) : journal(j), name(std::move(name)), wait(notReadyTimes)
    {
    }
    ~NamedJob() override { journal.deleted++; }
    bool isReady() override { return wait-- <= 0; }
    void run() override
    {
        if (contexts && contexts->count)
            journal.contextsSeen++;
        journal.note(name);
    }

    Journal& journal;
    std::string name;
    int wait;
};

struct CountingContext : ThreadContext
{
    CountingContext(std::atomic<int>& live, bool ok) : live(live), ok(ok) {}
    bool init() override
    {
        if (ok)
            live++;
        return ok;
    }
    void shutdown() override { live--; }
    std::atomic<int>& live;
    bool ok;
};

struct CountingFactory : ThreadContextFactory
{
    CountingFactory(std::atomic<int>& live, bool mainFails) : live(live), mainFails(mainFails) {}
    ThreadContext* create() override
    {
        // Only the main thread's context fails, when asked to.
        bool onMain = mainFails && JobSystem::currentContexts() != nullptr && !onWorker();
        return memNew<CountingContext>(live, !onMain);
    }
    static bool onWorker()
    {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        return std::string(name) == "WorkerThread" || std::string(name) == "Async Worker";
    }
    std::atomic<int>& live;
    bool mainFails;
};

struct NoThreads : JobSettings
{
    NoThreads() { useThreads = 0; }
};
}

TEST(JobSystem, ExecutorsArePercentOfTheSlots)
{
    struct Case
    {
        u32 cpus, percent, expected;
    } cases[] = {{1, 25, 1},  {2, 25, 1},  {4, 25, 1},  {8, 25, 1},   {9, 25, 2},   {12, 25, 2}, {13, 25, 3},
                 {16, 25, 3}, {17, 25, 4}, {20, 25, 4}, {4, 100, 3},  {4, 0, 1},    {2, 500, 2}, {64, 50, 31}};
    for (const Case& c : cases)
        EXPECT_EQ(JobSystem::executorsFor(c.cpus - 1, c.percent, c.cpus), c.expected)
            << c.cpus << " processors, " << c.percent << "%";
}

TEST(JobSystem, WorkersStartOnTheirProcessorsAndStopInOrder)
{
    LogCapture log;
    JobSettings settings;
    JobSystem jobs(nullptr);
    ASSERT_TRUE(jobs.startWorkers(settings));
    const u32 cpus = getCpuCount();
    if (cpus == 1) {
        EXPECT_EQ(jobs.workerCount, 0u);
        ASSERT_NE(jobs.asyncWorker, nullptr);
        EXPECT_TRUE(jobs.asyncWorker->isRunning());
    } else {
        ASSERT_EQ(jobs.workerCount, cpus - 1);
        for (u32 k = 0; k < jobs.workerCount; k++) {
            ASSERT_NE(jobs.workers[k], nullptr);
            EXPECT_TRUE(jobs.workers[k]->isRunning());
            // Processor 1 is left to the main thread.
            EXPECT_EQ(jobs.workers[k]->core, k == 0 ? 0u : k + 1);
        }
    }
    jobs.stopWorkers();
    for (u32 k = 0; k < jobs.workerCount; k++)
        EXPECT_EQ(jobs.workers[k], nullptr);
    EXPECT_EQ(jobs.asyncWorker, nullptr);

    std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "Job System > Starting workers...");
    auto at = std::find(lines.begin(), lines.end(), "Job System > Terminating workers...");
    ASSERT_NE(at, lines.end());
    // Every worker is asked after the line and ends.
    u32 terminating = 0, terminated = 0;
    for (auto it = at; it != lines.end(); ++it) {
        if (it->find("> Thread terminating...") != std::string::npos)
            terminating++;
        if (it->find("> Thread terminated.") != std::string::npos)
            terminated++;
    }
    EXPECT_EQ(terminating, cpus == 1 ? 1u : cpus - 1);
    EXPECT_EQ(terminated, terminating);
    EXPECT_EQ(log.lines(LOG_WARN).size(), 0u);
}

TEST(JobSystem, SubmittedJobsRunOnWorkers)
{
    Journal journal;
    JobCounter done;
    {
        JobSettings settings;
        JobSystem jobs(nullptr);
        ASSERT_TRUE(jobs.startWorkers(settings));
        for (int i = 0; i < 64; i++) {
            NamedJob* job = memNew<NamedJob>(journal, "job" + std::to_string(i), i % 3);
            job->counter = &done;
            ASSERT_TRUE(jobs.submit(job, u32(i % 5)));
        }
        for (int i = 0; i < 16; i++) {
            NamedJob* job = memNew<NamedJob>(journal, "now" + std::to_string(i));
            job->counter = &done;
            ASSERT_TRUE(jobs.submitImmediate(job));
        }
        jobs.wait(done);
        EXPECT_TRUE(done.isDone());
        jobs.stopWorkers();
    }
    EXPECT_EQ(journal.ran.size(), 80u);
    EXPECT_EQ(journal.deleted.load(), 80);
    std::set<std::string> names(journal.ran.begin(), journal.ran.end());
    EXPECT_EQ(names.size(), 80u);
}

TEST(JobSystem, QueuedJobsAreDeletedUnrunAtShutdown)
{
    LogCapture log;
    Journal journal;
    JobCounter counter;
    {
        // No workers: nothing takes the jobs before the shutdown does.
        JobSystem jobs(nullptr);
        ASSERT_TRUE(jobs.startWorkers(NoThreads()));
        for (int i = 0; i < 5; i++) {
            NamedJob* job = memNew<NamedJob>(journal, "immediate");
            job->counter = &counter;
            jobs.submitImmediate(job);
        }
        for (u32 p = 0; p < JobSystem::PRIORITIES; p++)
            jobs.submit(memNew<NamedJob>(journal, "queued"), p);
        jobs.stopWorkers();
        EXPECT_EQ(journal.deleted.load(), 5);
        EXPECT_EQ(jobs.immediate.pending.load(), 0u);
        EXPECT_EQ(jobs.groups.count.load(), 0u);
        EXPECT_TRUE(counter.isDone());
    }
    // The priority queues' jobs go with the job system.
    EXPECT_EQ(journal.deleted.load(), 9);
    EXPECT_TRUE(journal.ran.empty());
}

TEST(JobSystem, KeptJobSurvivesRunAndCancel)
{
    Journal journal;
    JobSystem jobs(nullptr);
    ASSERT_TRUE(jobs.startWorkers(NoThreads()));
    NamedJob kept(journal, "kept");
    kept.flags = Job::KEEP;
    ASSERT_TRUE(jobs.submit(&kept, 0));
    EXPECT_EQ(kept.busy.load(), 1);
    EXPECT_TRUE(jobs.tryRunOne(nullptr, false));
    EXPECT_EQ(kept.busy.load(), 0);
    ASSERT_TRUE(jobs.submitImmediate(&kept));
    jobs.stopWorkers();
    EXPECT_EQ(journal.ran, std::vector<std::string>{"kept"});
    EXPECT_EQ(journal.deleted.load(), 0);
}

TEST(JobSystem, PrioritiesInOrderAndUnreadyJobsGoToTheBack)
{
    Journal journal;
    JobSystem jobs(nullptr);
    ASSERT_TRUE(jobs.startWorkers(NoThreads()));
    jobs.submit(memNew<NamedJob>(journal, "low"), 3);
    jobs.submit(memNew<NamedJob>(journal, "late", 1), 1);
    jobs.submit(memNew<NamedJob>(journal, "mid"), 1);
    jobs.submit(memNew<NamedJob>(journal, "high"), 0);
    std::vector<bool> took;
    for (int i = 0; i < 6; i++)
        took.push_back(jobs.tryRunOne(nullptr, false));
    // The unready job is taken once without running: that still counts as taking a job.
    EXPECT_EQ(took, (std::vector<bool>{true, true, true, true, true, false}));
    EXPECT_EQ(journal.ran, (std::vector<std::string>{"high", "mid", "late", "low"}));
    EXPECT_EQ(jobs.executing.load(), 0u);
}

TEST(JobSystem, ExecutorCapRefusesAllButForcedCallers)
{
    Journal journal;
    JobSystem jobs(nullptr);
    ASSERT_TRUE(jobs.startWorkers(NoThreads()));
    jobs.submit(memNew<NamedJob>(journal, "a"), 0);
    jobs.executing.store(jobs.maxExecutors);
    EXPECT_FALSE(jobs.tryRunOne(nullptr, false));
    EXPECT_TRUE(jobs.tryRunOne(nullptr, true));
    EXPECT_EQ(jobs.executing.load(), jobs.maxExecutors);
    jobs.executing.store(0);
    EXPECT_EQ(journal.ran.size(), 1u);
}

TEST(JobSystem, GroupLeavesTheListOnceDrained)
{
    Journal journal;
    JobSystem jobs(nullptr);
    ASSERT_TRUE(jobs.startWorkers(NoThreads()));
    JobGroup group(String("loads"));
    jobs.submitToGroup(group, memNew<NamedJob>(journal, "g1"));
    jobs.submitToGroup(group, memNew<NamedJob>(journal, "g2"));
    EXPECT_EQ(jobs.groups.count.load(), 1u);
    EXPECT_TRUE(jobs.runGroupJobs(nullptr));
    EXPECT_TRUE(jobs.runGroupJobs(nullptr));
    EXPECT_EQ(group.pending.load(), 0u);
    EXPECT_FALSE(jobs.runGroupJobs(nullptr));
    EXPECT_EQ(jobs.groups.count.load(), 0u);
    EXPECT_EQ(group.listNode, nullptr);
    EXPECT_EQ(journal.ran, (std::vector<std::string>{"g1", "g2"}));
}

TEST(JobSystem, EveryThreadCarriesItsContexts)
{
    std::atomic<int> live{0};
    Journal journal;
    JobCounter done;
    {
        JobSettings settings;
        settings.factories.push(memNew<CountingFactory>(live, false));
        JobSystem jobs(nullptr);
        ASSERT_TRUE(jobs.startWorkers(settings));
        const u32 threads = getCpuCount() == 1 ? 2 : getCpuCount();
        // The workers make theirs as they start; the main thread's is made by startWorkers.
        while (u32(live.load()) < threads)
            std::this_thread::yield();
        for (int i = 0; i < 8; i++) {
            NamedJob* job = memNew<NamedJob>(journal, "c" + std::to_string(i));
            job->counter = &done;
            jobs.submit(job, 0);
        }
        jobs.wait(done);
        EXPECT_EQ(journal.contextsSeen.load(), 8);
        jobs.stopWorkers();
        EXPECT_EQ(live.load(), 0);
    }
}

TEST(JobSystem, ApplicationDropsAJobSystemWhoseMainContextFails)
{
    LogCapture log;
    std::atomic<int> live{0};
    Application* saved = applicationInstance;
    ArchiveToolApp* app = memNew<ArchiveToolApp>();
    ASSERT_NE(app, nullptr);
    JobSettings failing;
    failing.factories.push(memNew<CountingFactory>(live, true));
    EXPECT_FALSE(app->initJobSystem(failing));
    EXPECT_EQ(app->jobs, nullptr);
    // The workers it had started are gone with it.
    EXPECT_EQ(live.load(), 0);
    EXPECT_EQ(JobSystem::currentContexts(), nullptr);

    JobSettings plain;
    EXPECT_TRUE(app->initJobSystem(plain));
    JobSystem* first = app->jobs;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(app->initJobSystem(plain));
    EXPECT_EQ(app->jobs, first);
    app->shutdown(true);
    EXPECT_EQ(app->jobs, nullptr);
    memDelete(app);
    applicationInstance = saved;
}
