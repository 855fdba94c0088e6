#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"

// One entry of a directory listing: a regular file, a directory, or anything else (a symbolic
// link, FIFO, device or socket), which a walk never follows nor opens.
struct DirectoryEntry
{
    char* name = nullptr; // zero-terminated, on the tracked heap
    u64 length = 0;
    bool isDirectory = false;
    bool isOther = false;

    DirectoryEntry() = default;
    DirectoryEntry(const DirectoryEntry&) = delete;
    DirectoryEntry& operator=(const DirectoryEntry&) = delete;
    ~DirectoryEntry() { memFree(name); }
};

// "." or "..".
bool isDotName(const char* name);

// Appends the entries of `path` to `out` (an owning array), sorted with compareDirectoryNames;
// "." and ".." are left out. Symbolic links, devices, FIFOs and sockets are marked isOther, so a
// walk built on this never follows a link. With followLink clear, `path` itself is refused when
// it is a symbolic link. False when the directory cannot be opened or read to its end (what was
// read is still there).
bool listDirectory(const char* path, bool followLink, PtrArray<DirectoryEntry>& out);
// As above, asking keepListing(context, entries listed so far) before each entry: false ends the
// listing there, with what was read (still sorted). Bounds the time and memory one enormous
// directory can take.
typedef bool (*ListingCheck)(void* context, u32 listed);
// The system's error number of a failed listing into *error (0 when it was read whole).
bool listDirectory(const char* path, bool followLink, PtrArray<DirectoryEntry>& out, ListingCheck keepListing,
                   void* context, int* error = nullptr);

// The same for the directory `relative` below `dirFd` ("" for itself), opened beneath it without
// following a symbolic link at any step (ELOOP when one is on the way).
bool listDirectoryBeneath(int dirFd, const char* relative, PtrArray<DirectoryEntry>& out, ListingCheck keepListing,
                          void* context, int* error = nullptr);

// NTFS order: by the ASCII upper-cased bytes, then by the bytes themselves (repacking new
// files onto an archive depends on meeting them in the order Windows lists them).
int compareDirectoryNames(const char* a, u64 aLength, const char* b, u64 bLength);
