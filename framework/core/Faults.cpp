#include "framework/core/Faults.h"

namespace
{
constinit FaultHook currentHook = nullptr;
}

void setFaultHook(FaultHook hook)
{
    currentHook = hook;
}

bool faultInjected(FaultKind kind)
{
    return currentHook && currentHook(kind);
}
