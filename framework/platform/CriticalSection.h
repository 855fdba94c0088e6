#pragma once
#include <new>
#include <pthread.h>

// A recursive lock; the thread that holds it may enter again.
class CriticalSection
{
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void enter();
    void leave();

private:
    pthread_mutex_t mutex;
};

class ScopedLock
{
public:
    explicit ScopedLock(CriticalSection& cs) : lock(cs) { lock.enter(); }
    ~ScopedLock() { lock.leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& lock;
};

// Process-wide locks are built on first use and never destroyed, so a line logged late in
// exit (after static destructors have started) still finds its lock.
template <int Id>
CriticalSection& processLock()
{
    alignas(CriticalSection) static unsigned char storage[sizeof(CriticalSection)];
    static CriticalSection* cs = new (storage) CriticalSection();
    return *cs;
}
