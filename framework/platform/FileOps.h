#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/Types.h"

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

// Errors after which no later write can be expected to succeed either (the disk is full, the
// file-size limit is reached, the device failed).
bool isStorageExhausted(int error);

bool removeFile(const char* path);
