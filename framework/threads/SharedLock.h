#pragma once
#include "framework/core/Types.h"

// Process-wide locks for state that callers outside the framework share between threads; each
// is built on first use and never destroyed.
enum class SharedLock : u8
{
    Progress, // the progress counter of a write
};

// Holds the lock for its scope.
class SharedLockScope
{
public:
    explicit SharedLockScope(SharedLock which);
    ~SharedLockScope();
    SharedLockScope(const SharedLockScope&) = delete;
    SharedLockScope& operator=(const SharedLockScope&) = delete;

private:
    SharedLock which;
};
