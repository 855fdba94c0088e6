#include "framework/threads/SharedLock.h"
#include "framework/platform/CriticalSection.h"

namespace
{
CriticalSection& lockOf(SharedLock which)
{
    switch (which) {
    case SharedLock::Progress:
        break;
    }
    return processLock<200>();
}
}

SharedLockScope::SharedLockScope(SharedLock w) : which(w)
{
    lockOf(which).enter();
}

SharedLockScope::~SharedLockScope()
{
    lockOf(which).leave();
}
