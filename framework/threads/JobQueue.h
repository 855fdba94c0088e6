#pragma once
#include "framework/core/String.h"
#include "framework/platform/CriticalSection.h"
#include "framework/threads/Job.h"
#include "framework/threads/PooledList.h"

// A locked FIFO of jobs. Its count may be read without the lock to pass over an empty queue.
class JobQueue
{
public:
    PooledList<Job> list;
    CriticalSection lock;
    u8 ownsJobs = 0;

    JobQueue() = default;
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;
    ~JobQueue();

    u32 count() const { return list.count.load(); }
    // False when memory runs out; the job is not taken then.
    bool push(Job* job);
    Job* pop();
    void clear(bool deleteJobs);
    // Deletes every queued job unrun (unless it is to be kept), taking it off its counter;
    // returns how many there were.
    u32 cancelAll();
};

class JobGroup;

// A named set of jobs that workers reach through the job system's group list while it holds
// jobs. `pending` counts the jobs queued and those running.
class JobGroup
{
public:
    String name;
    JobQueue jobs;
    PooledList<JobGroup>::Node* listNode = nullptr;
    std::atomic<u32> pending{0};

    explicit JobGroup(const String& name);
    virtual ~JobGroup();
    JobGroup(const JobGroup&) = delete;
    JobGroup& operator=(const JobGroup&) = delete;

    // Runs one job of the group; false when the group had none ready to take.
    bool runOne(PtrArray<ThreadContext>* contexts);
};

// Runs a job taken from a queue: contexts set during the run, counter and busy flag settled
// afterwards, the job deleted unless it is to be kept.
void runJob(Job* job, PtrArray<ThreadContext>* contexts);
// Settles a job that will never run.
void cancelJob(Job* job);
