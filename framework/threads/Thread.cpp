#include "framework/threads/Thread.h"
#include "framework/app/Frame.h"
#include "framework/app/ProcessUtils.h"
#include "framework/platform/ThreadControl.h"
#include "framework/platform/ThreadPlatform.h"

namespace
{
u32 entryPoint(void* argument)
{
    return Thread::threadMain(static_cast<Thread*>(argument));
}

void closeHandle(Thread& t)
{
    platformCloseThread(t.handle);
    t.handle = nullptr;
}
}

Thread::Thread(const char* threadName) : logger(String(threadName)), name(threadName), state(memNew<ThreadState>())
{
}

void Thread::release()
{
    // The thread has ended (its owner stopped it); this only collects it.
    if (handle)
        closeHandle(*this);
    memDelete(state);
    state = nullptr;
}

bool Thread::start()
{
    return launch() && awaitStart();
}

bool Thread::launch()
{
    if (!state)
        return false;
    if (state->running.load())
        return true;
    // A thread that ended in onStart left its handle behind.
    if (handle)
        closeHandle(*this);
    state->stopRequested.exchange(0);
    state->finished.exchange(0);
    handle = platformStartThread(entryPoint, this, STACK_SIZE);
    if (!handle) {
        state->finished.exchange(1);
        return false;
    }
    return true;
}

bool Thread::awaitStart()
{
    if (!state)
        return false;
    while (!state->running.load()) {
        if (state->finished.load())
            break;
        platformYield();
    }
    if (state->running.load())
        return true;
    if (handle)
        closeHandle(*this);
    return false;
}

void Thread::stop()
{
    requestStop();
    awaitStop();
}

void Thread::requestStop()
{
    if (isFinished())
        return;
    logger.debug("Thread terminating...");
    state->stopRequested.exchange(1);
}

void Thread::awaitStop()
{
    while (!isFinished())
        platformYield();
}

bool Thread::stopWithin(u64 timeoutMicros)
{
    if (isFinished())
        return true;
    logger.debug("Thread terminating...");
    state->stopRequested.exchange(1);
    const u64 deadline = getTimeMicros() + timeoutMicros;
    while (!state->finished.load()) {
        if (getTimeMicros() >= deadline)
            return false;
        platformYield();
    }
    return true;
}

u32 Thread::threadMain(Thread* thread)
{
    thread->threadId = platformCurrentThreadId();
    initThread(thread->name.c_str());
    ThreadState& s = *thread->state;
    s.running.exchange(0);
    s.stopRequested.exchange(0);
    s.finished.exchange(0);
    thread->logger.debug("Beginning thread (%s / 0x%X)...", thread->name.c_str(), thread->threadId);
    if (thread->onStart()) {
        runThreadStartHooks();
        s.running.exchange(1);
        while (!s.stopRequested.load()) {
            if (!thread->step())
                break;
        }
        runThreadEndHooks();
        thread->onStop();
    }
    thread->logger.debug("Thread terminated.");
    s.finished.exchange(1);
    return 0;
}
