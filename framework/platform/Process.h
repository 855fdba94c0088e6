#pragma once
#include "framework/core/Types.h"

// Operating-system calls behind the process-wide utilities.

// Microseconds of CLOCK_MONOTONIC; false when the clock cannot be read.
bool platformMonotonicMicros(u64* out);
// Processors this process may run on (its affinity set); at least 1.
u32 platformAllowedCpuCount();
// Bytes of physical memory the machine has; 0 when unknown.
u64 platformPhysicalMemory();
// Copies the working directory into buffer; false (buffer "") when it does not fit.
bool platformWorkingDirectory(char* buffer, u64 size);
// The user's home folder (HOME, else the password database); null when unknown.
const char* platformHomeFolder();
// An environment variable; null when unset.
const char* platformEnv(const char* name);
// Names the calling thread (the system keeps at most 15 bytes).
void platformSetThreadName(const char* name);
