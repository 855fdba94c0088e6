#pragma once
#include "framework/core/String.h"
#include "framework/core/Types.h"
#include "framework/log/Logger.h"

#include <atomic>

struct PlatformThread;

// The three bytes through which a thread and its owner hand over start and stop.
struct ThreadState
{
    std::atomic<u8> running{0};
    std::atomic<u8> stopRequested{0};
    std::atomic<u8> finished{1};
};

// Base of every thread the framework starts. A subclass sets up in onStart (false abandons the
// thread), works in step (false ends the loop) and cleans up in onStop, all on the new thread.
// Start and stop are handshakes over atomic flags; each side waits by yielding. An owner stops
// a thread before deleting it.
class Thread
{
public:
    static constexpr u64 STACK_SIZE = 0x20000;

    Logger logger;
    String name;
    ThreadState* state;
    PlatformThread* handle = nullptr;
    u32 threadId = 0;

    explicit Thread(const char* name);
    // Inline, like every virtual of the class, so that code built with run-time type
    // information (the tests) can derive from it although the library is built without.
    virtual ~Thread() { release(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    virtual bool onStart() = 0;
    virtual bool step() = 0;
    virtual void onStop() = 0;

    // Starts the thread and waits until it runs (true) or has given up in onStart (false). A
    // thread that has run once reports true again without starting anything.
    bool start();
    // Asks the thread to stop and waits until it has ended; the current step finishes first.
    void stop();
    // Asks the thread to stop and waits at most timeoutMicros; true when it has ended.
    bool stopWithin(u64 timeoutMicros);

    // The two halves of start and stop, so that an owner of many threads can start or stop
    // them all at once and then wait for each in turn. launch is false when no thread could
    // be made; awaitStart then reports what start would have.
    bool launch();
    bool awaitStart();
    void requestStop();
    void awaitStop();

    bool isRunning() const { return state && state->running.load() != 0; }
    bool isStopRequested() const { return state && state->stopRequested.load() != 0; }
    bool isFinished() const { return !state || state->finished.load() != 0; }

    static u32 threadMain(Thread* thread);

private:
    void release();
};
