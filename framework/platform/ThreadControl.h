#pragma once
#include "framework/core/Types.h"

// The calling thread's system identifier.
u32 platformCurrentThreadId();

// Affinity masks count the processors this process may use, not the machine's: bit 0 is the
// first allowed processor, bit 1 the second, and so on. The allowed set is taken once, before
// any thread is pinned, so later threads can still be given all of it.

// Number of processors in the process's allowed set (at least 1).
u32 platformProcessorCount();
// Pins the calling thread to the allowed processors named by mask; a mask of 0 or one naming
// no allowed processor is refused.
bool platformSetThreadAffinity(u64 mask);
// Gives the calling thread the whole allowed set again.
bool platformResetThreadAffinity();
