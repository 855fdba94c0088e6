#include "framework/core/Heap.h"
#include "framework/core/Faults.h"
#include "framework/log/Log.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

namespace
{
// Constant-initialised: static constructors may allocate before main.
constinit std::atomic<u64> liveBytes{0};
constinit std::atomic<u64> peakBytes{0};
constinit u8 trackingFlag = 1;
constinit u8 heapReady = 0;
constinit std::atomic<bool> allocationFailed{false};
// Nonzero while a piece of work that stops at its first failed allocation runs on this thread.
thread_local u32 stopsAtFailure = 0;
// An allocation on this thread failed since the innermost such work began: only its own failure
// stops it, never one from before it began.
thread_local bool failedInStop = false;

// Such work, once an allocation of its own has failed, is refused at once: unasked and unsaid.
bool refusedAfterFailure()
{
    return stopsAtFailure && failedInStop;
}
}

namespace
{
void* failedAllocation(u64 size)
{
    allocationFailed.store(true);
    failedInStop = true;
    logError("Memory", "Failed to allocate %llu bytes! (Memory allocated: %llu)", (unsigned long long)size,
             (unsigned long long)liveBytes.load());
    return nullptr;
}

// Counts the block's bytes (less those of the block it replaced) and keeps the peak.
void counted(void* block, u64 replaced)
{
    const u64 usable = malloc_usable_size(block);
    liveBytes.fetch_sub(replaced);
    const u64 live = liveBytes.fetch_add(usable) + usable;
    u64 peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}
}

void* memAlloc(u64 size)
{
    if (refusedAfterFailure())
        return nullptr;
    void* block = (size > SIZE_MAX || faultInjected(FaultKind::Allocation)) ? nullptr : malloc(size_t(size));
    if (trackingFlag && !heapReady) {
        liveBytes.exchange(0);
        heapReady = 1;
    }
    if (!block)
        return failedAllocation(size);
    counted(block, 0);
    return block;
}

void memFree(void* p)
{
    if (!p)
        return;
    if (trackingFlag && !heapReady)
        return;
    liveBytes.fetch_sub(malloc_usable_size(p));
    free(p);
}

void* memRealloc(void* p, u64 size)
{
    if (!p)
        return memAlloc(size);
    if (refusedAfterFailure())
        return nullptr;
    const u64 before = malloc_usable_size(p);
    void* block = (size > SIZE_MAX || faultInjected(FaultKind::Allocation)) ? nullptr : realloc(p, size_t(size));
    if (!block)
        return failedAllocation(size);
    counted(block, before);
    return block;
}

AllocationStop::AllocationStop() : failedBefore(allocationFailed.load()), outerFailed(failedInStop)
{
    failedInStop = false;
    stopsAtFailure++;
}

AllocationStop::~AllocationStop()
{
    stopsAtFailure--;
    // A failure inside is one of the work around it too.
    failedInStop = outerFailed || failedInStop;
}

bool AllocationStop::failed() const
{
    return failedInStop;
}

void AllocationStop::forgive()
{
    failedInStop = false;
    if (!failedBefore)
        allocationFailed.store(false);
}

bool memAllocationFailed()
{
    return stopsAtFailure ? failedInStop : allocationFailed.load();
}

void memClearAllocationFailure()
{
    allocationFailed.store(false);
    failedInStop = false;
}

u64 memLiveBytes()
{
    return liveBytes.load();
}

u64 memPeakBytes()
{
    return peakBytes.load();
}

void memResetPeak()
{
    peakBytes.store(liveBytes.load());
}

void memSetReady()
{
    if (!heapReady) {
        liveBytes.exchange(0);
        heapReady = 1;
    }
}

char* allocTextBuffer(u64 n, u64* outCapacity)
{
    if (n == UINT64_MAX) {
        failedAllocation(n);
        if (outCapacity)
            *outCapacity = 0;
        return nullptr;
    }
    char* p = static_cast<char*>(memAlloc(n + 1));
    if (!p) {
        if (outCapacity)
            *outCapacity = 0;
        return nullptr;
    }
    memset(p, 0, size_t(n + 1));
    if (outCapacity)
        *outCapacity = n + 1;
    return p;
}

char* strDupN(u64 n, const char* src, u64* outCapacity)
{
    char* p = allocTextBuffer(n, outCapacity);
    if (!p)
        return nullptr;
    if (src) {
        size_t len = strnlen(src, n > SIZE_MAX ? SIZE_MAX : size_t(n));
        memcpy(p, src, len);
    }
    return p;
}

void* allocZeroed(u64 n)
{
    return allocTextBuffer(n, nullptr);
}
