#include "framework/threads/JobQueue.h"

void runJob(Job* job, PtrArray<ThreadContext>* contexts)
{
    job->contexts = contexts;
    job->run();
    job->contexts = nullptr;
    job->busy.store(0);
    JobCounter* counter = job->counter;
    const bool keep = (job->flags & Job::KEEP) != 0;
    if (!keep)
        memDelete(job);
    // Last: a waiter may free a kept job as soon as its counter drops.
    if (counter)
        counter->count.fetch_sub(1);
}

void cancelJob(Job* job)
{
    job->busy.store(0);
    JobCounter* counter = job->counter;
    if (!(job->flags & Job::KEEP))
        memDelete(job);
    // A waiter must not wait for a job that will never run.
    if (counter)
        counter->count.fetch_sub(1);
}

JobQueue::~JobQueue()
{
    clear(ownsJobs != 0);
}

bool JobQueue::push(Job* job)
{
    ScopedLock guard(lock);
    return list.pushBack(job) != nullptr;
}

Job* JobQueue::pop()
{
    ScopedLock guard(lock);
    return list.popFront();
}

void JobQueue::clear(bool deleteJobs)
{
    ScopedLock guard(lock);
    list.clear(deleteJobs);
}

u32 JobQueue::cancelAll()
{
    ScopedLock guard(lock);
    u32 n = 0;
    while (Job* job = list.popFront()) {
        cancelJob(job);
        n++;
    }
    return n;
}

JobGroup::JobGroup(const String& groupName) : name(groupName) {}

JobGroup::~JobGroup()
{
    jobs.cancelAll();
}

bool JobGroup::runOne(PtrArray<ThreadContext>* contexts)
{
    if (jobs.count() == 0)
        return false;
    Job* job = jobs.pop();
    if (!job)
        return false;
    if (!job->isReady()) {
        if (!jobs.push(job)) {
            cancelJob(job);
            pending.fetch_sub(1);
        }
        return true;
    }
    runJob(job, contexts);
    pending.fetch_sub(1);
    return true;
}
