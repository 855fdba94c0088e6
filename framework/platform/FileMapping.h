#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/Types.h"

// Read-only mappings of whole files, so that a large file costs no copy and no page faulted in
// on its own. A file that shrinks under its mapping would make every access past its new end a
// SIGBUS: once the crash handlers guard mappings, such pages read as zeros instead and the
// mapping records that its file changed.

// A file's size and time of change, as one status call gave them.
struct FileStamp
{
    u64 size = 0;
    i64 seconds = 0;
    i64 nanoseconds = 0;
};

// The first `stamp.size` bytes (more than 0) of the open regular file `fd`, mapped read-only and
// read in, in a new array that unmaps them when it is deleted; a later change is judged against
// the stamp. Null when the file cannot be mapped safely (no guard against a SIGBUS yet, the system
// refused, a page could not be read); then `memoryFailed` says whether it was the array's own
// allocation that failed.
ByteArray* mapFileBytes(int fd, const FileStamp& stamp, bool& memoryFailed);
// True when the file of a mapped array changed after it was mapped: it shrank (the missing bytes
// read as zeros) or was written. False for any other array.
bool mappedFileChanged(const ByteArray* bytes);

// For the crash handlers: mappings are guarded from now on.
void guardMappedFiles();
// For the SIGBUS handler: zero pages over a guarded mapping from the page at `address` to its
// end, the change recorded; false when no mapping holds the address. Async-signal-safe.
bool coverLostMappedPages(void* address);
