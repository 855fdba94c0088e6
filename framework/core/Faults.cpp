#include "framework/core/Faults.h"

namespace
{
constinit FaultHook currentHook = nullptr;
constinit int chosenError = 0;
}

void setInjectedError(int error)
{
    chosenError = error;
}

int injectedError(int usual)
{
    return chosenError ? chosenError : usual;
}

void setFaultHook(FaultHook hook)
{
    currentHook = hook;
}

bool faultInjected(FaultKind kind)
{
    return currentHook && currentHook(kind);
}
