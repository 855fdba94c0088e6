#pragma once
#include "framework/core/Hash.h"
#include "framework/core/Types.h"

#include <atomic>
#include <cwchar>

// Set by the console control handler and by the main loop's end; the main loop and the event
// pump stop once it is set.
extern std::atomic<u8> quitRequested;
void requestQuit();
// Quit signals (SIGINT, SIGTERM, SIGHUP) received so far; work in progress stops at the first.
u32 quitSignalsReceived();
// Says that the run was interrupted (the text, "ERROR: Interrupted!" with its line ends), once
// for the run however close a second signal comes: this or the second signal's hard exit says
// it, never both. Written only if the output takes it within what the quit leaves it.
void reportInterrupted(const char* text, u64 length);

// False when the monotonic clock cannot be read; start-up then fails.
bool initTimer();
u64 getTimeMicros();

// Bytes of physical memory, read once per run (0 when unknown).
u64 getPhysicalMemory();

// Processors the process may run on, counted once at start-up before the main thread is
// pinned, so a later pin does not shrink it.
u32 getCpuCount();

enum SystemFolder : u32
{
    FOLDER_WORKING = 0,
    FOLDER_PROFILE = 1,
    FOLDER_LOCAL_DATA = 2,
    FOLDER_ROAMING_DATA = 3,
};
constexpr u32 SYSTEM_FOLDER_SIZE = 260;
extern char systemFolders[4][SYSTEM_FOLDER_SIZE];

// Working directory, home, XDG data and XDG config folders. A folder whose path does not fit
// stays empty rather than being cut to a different path.
void initSystemFolders();
bool systemFoldersReady();
const char* getSystemFolder(SystemFolder which);

// Once per thread: names the thread and seeds its random state.
void initThread(const char* name);
// Bytes of a thread name the system keeps, never splitting a UTF-8 sequence.
u32 threadNameLength(const char* name);
// The calling thread's two random words and their xorshift128+ step (shifts 23, 17, 26).
u64* threadRandomState();
u64 nextThreadRandom();

// vswprintf into buffer; -1 on any failure.
int formatWide(wchar_t* buffer, u64 count, const wchar_t* format, ...);
