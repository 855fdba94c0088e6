#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/Types.h"

// Why readFileWhole gave nothing.
enum class ReadFailure : u8
{
    None,
    Missing,   // cannot be opened
    NotRegular, // a directory, FIFO, device or socket (never waited on)
    TooLarge,  // 4 GiB or more
    Short,     // could not be read whole
    Memory,
};
// The whole regular file in a new array, in one open, one status call and one read; null with
// the reason otherwise.
ByteArray* readFileWhole(const char* path, ReadFailure& failure);

// True when both paths name one existing file (same device and inode).
bool pathsReferToSameFile(const char* a, const char* b);

// Creates or truncates the file and writes the bytes. 0 on success; otherwise the error number
// of the step that failed (the open, a write, the flush to disk or the close), and the file is
// removed, so a failed write never leaves a short file behind. A quit signal stops the write
// with ECANCELED.
int writeFileWhole(const char* path, const u8* data, u64 size);

// Writes the bytes to a temporary file beside `path`, flushes it to disk and renames it into
// place, so a failed or interrupted write never leaves a half-written file nor destroys an
// older one. 0 on success, otherwise the error number of the step that failed (ECANCELED when
// a quit signal came first).
int writeFileAtomically(const char* path, const u8* data, u64 size);

// The same for a file at `relative` below the directory `root`, never through a symbolic link
// below it: `root` is taken as given (links in it are followed, as the user chose it), while
// every directory of `relative` is made and entered with openat and O_NOFOLLOW, and the file
// is created with O_NOFOLLOW. ELOOP when a link stands where a directory or the file should go;
// nothing is then written, there or anywhere else. The directory last entered stays open for
// the next call (an extraction writes many files into one directory).
int writeFileBeneath(const char* root, const char* relative, const u8* data, u64 size);
// Makes the directory `relative` (and those above it) below `root` in the same way.
int makeDirectoryBeneath(const char* root, const char* relative);
// Closes the directory kept open by the two calls above.
void forgetDirectoryBeneath();

// Errors after which no later write can be expected to succeed either (the disk is full, the
// file-size limit is reached, the device failed).
bool isStorageExhausted(int error);

bool removeFile(const char* path);
