#pragma once
#include "framework/core/Types.h"
#include <new>
#include <type_traits>
#include <utility>

// Every allocation of the program goes through these, so a failure can say how much is live.
void* memAlloc(u64 size);
void memFree(void* p);
// The block grown or shrunk to `size`, its bytes kept (moved by the system where it can, so a
// large block is not copied); null when that failed, and then `p` is left as it was.
void* memRealloc(void* p, u64 size);
// n + 1 zeroed bytes holding at most n bytes of src (never read past n); null src gives "".
char* strDupN(u64 n, const char* src, u64* outCapacity);
char* allocTextBuffer(u64 n, u64* outCapacity);
void* allocZeroed(u64 n);

u64 memLiveBytes();
// The most memLiveBytes has reached since the last reset (which starts it at the bytes live
// then): what a piece of work held at its worst.
u64 memPeakBytes();
void memResetPeak();
// Set by every allocation that failed since the last clear: code that could not tell a failed
// allocation from an empty result is still never taken for a success. Inside an AllocationStop it
// answers for that work alone: a failure from before it began is not its own.
bool memAllocationFailed();
void memClearAllocationFailure();
// While one lives, an allocation on this thread after one that failed inside it fails at once,
// without asking the system or saying so again: work that ends at its first failed allocation (a
// document's conversion) takes nothing more on its way out. A failure from before it began is
// neither its own nor a reason to refuse it anything.
class AllocationStop
{
public:
    AllocationStop();
    ~AllocationStop();
    AllocationStop(const AllocationStop&) = delete;
    AllocationStop& operator=(const AllocationStop&) = delete;
    // An allocation failed while it lived.
    bool failed() const;
    // Its failures are its own to bear (a document kept raw): the run is left as it was before it
    // began, an earlier failure still standing.
    void forgive();

private:
    bool failedBefore;
    bool outerFailed;
};
// Marks the heap ready (start-up does this before anything else).
void memSetReady();

// Objects live on the tracked heap: allocate, then construct in place.
template <typename T, typename... Args>
T* memNew(Args&&... args)
{
    void* p = memAlloc(sizeof(T));
    if (!p)
        return nullptr;
    return new (p) T(std::forward<Args>(args)...);
}

template <typename T>
void memDelete(T* p)
{
    if (!p)
        return;
    // Deleting through a secondary base must free the block at the start of the whole object.
    const void* block;
    if constexpr (std::is_polymorphic_v<T>)
        block = dynamic_cast<const void*>(p);
    else
        block = static_cast<const void*>(p);
    p->~T();
    memFree(const_cast<void*>(block));
}
