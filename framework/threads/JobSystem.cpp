#include "framework/threads/JobSystem.h"
#include "framework/app/ProcessUtils.h"
#include "framework/log/Log.h"
#include "framework/platform/ThreadControl.h"
#include "framework/platform/ThreadPlatform.h"

namespace
{
thread_local u32 backoffCounter = 0;
thread_local PtrArray<ThreadContext>* threadContexts = nullptr;

}

u32 JobSystem::executorsFor(u32 slots, u32 percent, u32 cpuCount)
{
    u32 n = u32(float(slots) / 100.0f * float(percent));
    if (n == 0)
        n = 1;
    if (n > cpuCount)
        n = cpuCount;
    return n;
}

PtrArray<ThreadContext>* JobSystem::currentContexts()
{
    return threadContexts;
}

void JobSystem::setCurrentContexts(PtrArray<ThreadContext>* list)
{
    threadContexts = list;
}

WorkerThread::WorkerThread(JobSystem* owner, WorkerContext* workerContext, u32 processor)
    : Thread("WorkerThread"), contexts(memNew<PtrArray<ThreadContext>>()), jobs(owner), context(workerContext),
      core(processor)
{
}

WorkerThread::~WorkerThread()
{
    memDelete(contexts);
}

bool WorkerThread::onStart()
{
    if (!platformSetThreadAffinity(u64(1) << (core % 64)))
        logError("Core", "Couldn't set affinity!");
    JobSystem::setCurrentContexts(contexts);
    return contexts && jobs->createThreadContexts(*contexts);
}

bool WorkerThread::step()
{
    if (jobs->runGroupJobs(contexts))
        context->resetBackoff();
    else if (jobs->tryRunOne(contexts, false))
        context->resetBackoff();
    else
        context->backoff();
    return true;
}

void WorkerThread::onStop()
{
    if (contexts)
        JobSystem::destroyThreadContexts(*contexts);
    JobSystem::setCurrentContexts(nullptr);
}

AsyncWorker::AsyncWorker(JobSystem* owner)
    : Thread("Async Worker"), contexts(memNew<PtrArray<ThreadContext>>()), jobs(owner)
{
}

AsyncWorker::~AsyncWorker()
{
    memDelete(contexts);
}

bool AsyncWorker::onStart()
{
    if (!JobSystem::currentContexts())
        JobSystem::setCurrentContexts(contexts);
    // A context that fails leaves this worker running without it.
    if (contexts)
        jobs->createThreadContexts(*contexts);
    return true;
}

bool AsyncWorker::step()
{
    if (!jobs->tryRunOne(contexts, true))
        platformSleepMs(1);
    return true;
}

void AsyncWorker::onStop()
{
    if (contexts)
        JobSystem::destroyThreadContexts(*contexts);
    JobSystem::setCurrentContexts(nullptr);
}

JobSystem::JobSystem(ConfigSection* section)
    : config(section), logger(String("Job System")), immediate(String("Immediate Queue")),
      mainContexts(memNew<PtrArray<ThreadContext>>())
{
    setCurrentContexts(mainContexts);
}

JobSystem::~JobSystem()
{
    // No worker may outlive what it reads; an owner normally stopped them already.
    bool started = asyncWorker != nullptr;
    for (u32 k = 0; k < workerCount; k++)
        started = started || workers[k] != nullptr;
    if (started)
        stopWorkers();
    else if (mainContexts)
        destroyThreadContexts(*mainContexts);
    if (threadContexts == mainContexts)
        setCurrentContexts(nullptr);
    memDelete(mainContexts);
    mainContexts = nullptr;
    // Jobs still queued are the job system's to delete: nothing will run them now.
    for (JobQueue& q : queues)
        q.cancelAll();
    immediate.jobs.cancelAll();
    {
        ScopedLock guard(groupLock);
        while (JobGroup* g = groups.popFront())
            g->listNode = nullptr;
    }
    memFree(workers);
    workers = nullptr;
    workerCount = 0;
}

bool JobSystem::startWorkers(const JobSettings& settings)
{
    const u32 cpuCount = getCpuCount();
    const u32 slots = cpuCount > 0 ? cpuCount - 1 : 0;
    if (slots && !workers) {
        workers = static_cast<WorkerThread**>(allocZeroed(u64(slots) * sizeof(WorkerThread*)));
        workerCount = workers ? slots : 0;
    }
    maxExecutors = executorsFor(slots, settings.executingPercent, cpuCount);
    logger.debug("Starting workers...");
    for (ThreadContextFactory* f : settings.factories)
        if (!factories.push(f))
            memDelete(f);
    for (ExternalWorker* w : settings.externalWorkers)
        if (!externalWorkers.push(w))
            memDelete(w);
    if (settings.externalWorkers.count)
        logger.debug("Got %u external workers.", settings.externalWorkers.count);

    if (!settings.useThreads) {
        for (u32 k = 0; k < workerCount; k++)
            workers[k] = nullptr;
    } else if (slots == 0) {
        logger.debug("Single-core mode; using async worker.");
        asyncWorker = memNew<AsyncWorker>(this);
        if (asyncWorker)
            asyncWorker->start();
    } else {
        WorkerContext* context = settings.context ? settings.context : this;
        // Processor 1 is the main thread's. All are launched before any is waited for, so
        // start-up costs one thread's start, not one per processor.
        for (u32 k = 0; k < workerCount; k++) {
            workers[k] = memNew<WorkerThread>(this, context, k == 0 ? 0 : k + 1);
            if (workers[k])
                workers[k]->launch();
        }
        for (u32 k = 0; k < workerCount; k++)
            if (workers[k])
                workers[k]->awaitStart();
    }
    return mainContexts && createThreadContexts(*mainContexts);
}

void JobSystem::stopWorkers()
{
    drainImmediate();
    logger.debug("Terminating workers...");
    // Every worker is asked before any is waited for: each finishes its step at the same time
    // as the others, and a busy processor holds up one worker, not the whole shutdown.
    for (u32 k = 0; k < workerCount; k++)
        if (workers[k])
            workers[k]->requestStop();
    for (u32 k = 0; k < workerCount; k++) {
        if (!workers[k])
            continue;
        workers[k]->awaitStop();
        memDelete(workers[k]);
        workers[k] = nullptr;
    }
    if (asyncWorker) {
        asyncWorker->stop();
        memDelete(asyncWorker);
        asyncWorker = nullptr;
    }
    if (mainContexts)
        destroyThreadContexts(*mainContexts);
}

bool JobSystem::submit(Job* job, u32 priority)
{
    if (!job)
        return false;
    if (priority >= PRIORITIES)
        priority = PRIORITIES - 1;
    job->busy.store(1);
    if (job->counter)
        job->counter->count.fetch_add(1);
    if (queues[priority].push(job))
        return true;
    job->busy.store(0);
    if (job->counter)
        job->counter->count.fetch_sub(1);
    return false;
}

bool JobSystem::submitToGroup(JobGroup& group, Job* job)
{
    if (!job)
        return false;
    job->busy.store(1);
    if (job->counter)
        job->counter->count.fetch_add(1);
    group.pending.fetch_add(1);
    if (!group.jobs.push(job)) {
        group.pending.fetch_sub(1);
        job->busy.store(0);
        if (job->counter)
            job->counter->count.fetch_sub(1);
        return false;
    }
    // After pending has grown: a worker that finds the group empty takes it off the list only
    // while pending is 0, under this lock, so a job is never left in an unlisted group.
    ScopedLock guard(groupLock);
    if (!group.listNode)
        group.listNode = groups.pushBack(&group);
    return true;
}

void JobSystem::wait(JobCounter& counter)
{
    while (!counter.isDone()) {
        if (!runGroupJobs(threadContexts) && !tryRunOne(threadContexts, true))
            platformYield();
    }
}

bool JobSystem::tryRunOne(PtrArray<ThreadContext>* contexts, bool force)
{
    u32 before = executing.fetch_add(1);
    if (before >= maxExecutors && !force) {
        executing.fetch_sub(1);
        return false;
    }
    Job* job = nullptr;
    JobQueue* from = nullptr;
    for (JobQueue& q : queues) {
        if (q.count() == 0)
            continue;
        job = q.pop();
        if (job) {
            from = &q;
            break;
        }
    }
    if (!job) {
        executing.fetch_sub(1);
        return false;
    }
    if (!job->isReady()) {
        if (!from->push(job))
            cancelJob(job);
    } else {
        runJob(job, contexts);
    }
    executing.fetch_sub(1);
    return true;
}

bool JobSystem::runGroupJobs(PtrArray<ThreadContext>* contexts)
{
    if (groups.count.load() == 0)
        return false;
    JobGroup* first;
    {
        ScopedLock guard(groupLock);
        first = groups.head ? groups.head->item : nullptr;
    }
    if (!first)
        return false;
    if (first->runOne(contexts))
        return true;
    if (first->pending.load() == 0) {
        removeGroup(*first);
        return false;
    }
    JobGroup* second;
    {
        ScopedLock guard(groupLock);
        second = groups.head && groups.head->next ? groups.head->next->item : nullptr;
    }
    return second && second->runOne(contexts);
}

void JobSystem::removeGroup(JobGroup& group)
{
    ScopedLock guard(groupLock);
    if (group.listNode && group.pending.load() == 0) {
        groups.unlink(group.listNode);
        group.listNode = nullptr;
    }
}

void JobSystem::drainImmediate()
{
    while (immediate.pending.load() != 0) {
        u32 cancelled = immediate.jobs.cancelAll();
        if (cancelled)
            immediate.pending.fetch_sub(cancelled);
        if (immediate.pending.load() != 0)
            platformSleepMs(0);
    }
    removeGroup(immediate);
}

void JobSystem::resetBackoff()
{
    backoffCounter = BACKOFF_RESET;
}

void JobSystem::backoff()
{
    if (backoffCounter == 0) {
        platformSleepMs(1);
        return;
    }
    if (backoffCounter < 128)
        platformSleepMs(0);
    else
        platformYield();
    backoffCounter--;
}

bool JobSystem::createThreadContexts(PtrArray<ThreadContext>& list)
{
    bool ok = true;
    for (ThreadContextFactory* f : factories) {
        ThreadContext* ctx = f->create();
        if (!ctx) {
            ok = false;
            continue;
        }
        if (ctx->init() && list.push(ctx))
            continue;
        memDelete(ctx);
        ok = false;
    }
    return ok;
}

void JobSystem::destroyThreadContexts(PtrArray<ThreadContext>& list)
{
    for (ThreadContext* ctx : list)
        ctx->shutdown();
    list.clear();
}
