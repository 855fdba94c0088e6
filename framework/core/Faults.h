#pragma once
#include "framework/core/Types.h"

// Tests make a chosen allocation or file write fail, to see that every failure is reported.
// Nothing in the tool sets a hook, so there every operation runs as asked.
enum class FaultKind : u8
{
    Allocation,
    Write,   // a write, flush or close of a file being written, or the removal of a temporary one
    Sync,    // the flush of a written file, or of its directory, to disk
    Listing, // the reading of a directory's entries (as an I/O error would end it)
    Resolve, // opening a path beneath a handle in one step (as on a system that cannot)
};

// Answers true for an operation that is to fail.
typedef bool (*FaultHook)(FaultKind kind);
void setFaultHook(FaultHook hook);
bool faultInjected(FaultKind kind);
// The error number an injected failure reports where the system could give several (a resolve
// refused as ENOSYS, EPERM or E2BIG); 0 leaves the operation's usual one.
void setInjectedError(int error);
int injectedError(int usual);
