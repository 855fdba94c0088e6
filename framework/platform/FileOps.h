#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/Types.h"

// True when both paths name one existing file (same device and inode).
bool pathsReferToSameFile(const char* a, const char* b);

// Writes the bytes to a temporary file beside `path` and renames it into place once complete,
// so a failed or interrupted write never leaves a half-written file nor destroys an older one.
bool writeFileAtomically(const char* path, const u8* data, u64 size);
