#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"

#include <atomic>

class ThreadContext;

// Counts the jobs of a batch not yet finished; each finished or cancelled job takes one off.
struct JobCounter
{
    std::atomic<u32> count{0};
    bool isDone() const { return count.load() == 0; }
};

// A unit of work for the job system. Unless KEEP is set, the job system deletes the job once
// it has run it or cancelled it.
class Job
{
public:
    static constexpr u8 KEEP = 1;

    u8 flags = 0;
    JobCounter* counter = nullptr;
    std::atomic<u8> busy{0};
    // The running thread's contexts, set while run() runs.
    PtrArray<ThreadContext>* contexts = nullptr;

    virtual bool isReady() { return true; }
    virtual void run() = 0;
    virtual ~Job() = default;
};

// A per-thread object (a scratch buffer, a decoder) that every job thread carries.
class ThreadContext
{
public:
    virtual ~ThreadContext() = default;
    virtual bool init() { return true; }
    virtual void shutdown() {}
};

class ThreadContextFactory
{
public:
    virtual ~ThreadContextFactory() = default;
    virtual ThreadContext* create() = 0;
};

// How an idle worker waits.
class WorkerContext
{
public:
    virtual ~WorkerContext() = default;
    virtual void resetBackoff() = 0;
    virtual void backoff() = 0;
};

// A worker that the application runs itself; the job system only counts and deletes it.
class ExternalWorker
{
public:
    virtual ~ExternalWorker() = default;
};

// What the application hands to initJobSystem. The job system takes over the factories and
// external workers listed; the arrays themselves stay the caller's.
struct JobSettings
{
    u32 executingPercent = 25;
    PtrArray<ThreadContextFactory> factories;
    PtrArray<ExternalWorker> externalWorkers;
    u8 useThreads = 1;
    WorkerContext* context = nullptr;
};
