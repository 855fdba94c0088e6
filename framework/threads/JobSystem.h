#pragma once
#include "framework/log/Logger.h"
#include "framework/threads/Job.h"
#include "framework/threads/JobQueue.h"
#include "framework/threads/Thread.h"

class ConfigSection;
class JobSystem;

// A pool worker, pinned to one processor.
class WorkerThread : public Thread
{
public:
    PtrArray<ThreadContext>* contexts;
    JobSystem* jobs;
    WorkerContext* context;
    u32 core;

    WorkerThread(JobSystem* jobs, WorkerContext* context, u32 core);
    ~WorkerThread() override;
    bool onStart() override;
    bool step() override;
    void onStop() override;
};

// The one worker of a single-processor machine; it may always execute.
class AsyncWorker : public Thread
{
public:
    PtrArray<ThreadContext>* contexts;
    JobSystem* jobs;

    explicit AsyncWorker(JobSystem* jobs);
    ~AsyncWorker() override;
    bool onStart() override;
    bool step() override;
    void onStop() override;
};

// Runs jobs on one worker per processor but one (the main thread keeps the second allowed
// processor), with a cap on how many threads execute jobs at once. Jobs wait in four priority
// queues, scanned from 0, and in job groups; the immediate group is cancelled at shutdown.
class JobSystem : public WorkerContext
{
public:
    static constexpr u32 PRIORITIES = 4;
    static constexpr u32 BACKOFF_RESET = 256;

    ConfigSection* config;
    Logger logger;
    WorkerThread** workers = nullptr;
    u32 workerCount = 0;
    PtrArray<ExternalWorker> externalWorkers{true};
    PooledList<JobGroup> groups;
    CriticalSection groupLock;
    JobGroup immediate;
    u32 maxExecutors = 1;
    JobQueue queues[PRIORITIES];
    std::atomic<u32> executing{0};
    PtrArray<ThreadContextFactory> factories{true};
    PtrArray<ThreadContext>* mainContexts;
    AsyncWorker* asyncWorker = nullptr;

    explicit JobSystem(ConfigSection* config);
    ~JobSystem() override;
    JobSystem(const JobSystem&) = delete;
    JobSystem& operator=(const JobSystem&) = delete;

    // Threads that may execute jobs at once: percent of the worker slots in 32-bit floating
    // point, at least 1 and at most the processor count.
    static u32 executorsFor(u32 slots, u32 percent, u32 cpuCount);

    bool startWorkers(const JobSettings& settings);
    void stopWorkers();

    // Queues a job at a priority (0 first; larger values are clamped to the last queue). The
    // job's counter, when set, is counted up here. False when it could not be queued (the job
    // stays the caller's).
    bool submit(Job* job, u32 priority);
    // Queues a job in a group; the group joins the group list while it has jobs.
    bool submitToGroup(JobGroup& group, Job* job);
    bool submitImmediate(Job* job) { return submitToGroup(immediate, job); }
    // Helps on the calling thread until every job of the counter has finished.
    void wait(JobCounter& counter);

    bool tryRunOne(PtrArray<ThreadContext>* contexts, bool force);
    bool runGroupJobs(PtrArray<ThreadContext>* contexts);
    void removeGroup(JobGroup& group);
    void drainImmediate();

    void resetBackoff() override;
    void backoff() override;

    bool createThreadContexts(PtrArray<ThreadContext>& list);
    static void destroyThreadContexts(PtrArray<ThreadContext>& list);

    // The calling thread's context list (the main thread's once a job system exists).
    static PtrArray<ThreadContext>* currentContexts();
    static void setCurrentContexts(PtrArray<ThreadContext>* list);
};
