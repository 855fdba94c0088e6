#pragma once
#include "framework/core/Types.h"

#include <atomic>

// Code passed to crashHandler for a pure virtual call (no signal has that number).
constexpr int CRASH_PURE_CALL = 10101;

// SIGINT, SIGTERM and SIGHUP set the flag (the main loop then ends in order); SIGPIPE and SIGXFSZ
// are ignored so that a piped run, or a write past a file-size limit, reports a failed write
// instead of dying half-way.
// False when a handler could not be installed; errno-style code in *errorCode.
bool installQuitSignals(std::atomic<u8>* quitFlag, u32* errorCode);
// SIGILL, SIGFPE, SIGSEGV, SIGABRT and SIGBUS end in crashHandler, on an alternate stack so
// that a stack overflow is still reported; a SIGBUS inside a mapped file that shrank does not
// (FileMapping.h), and files are mapped only from here on.
bool installCrashHandlers();
// Routes pure virtual calls to onPureCall from now on.
void installPureCallHandler();

// Logs the FATAL line on "Core", writes "crash.mdmp", prints the termination line, _exit(1).
// A crash inside it exits at once.
[[noreturn]] void crashHandler(int code);
[[noreturn]] void onPureCall();
// The quit-signal handler: sets the flag given to installQuitSignals. A second quit signal ends
// the process at once: the files recorded below are removed, the interruption is reported
// unless it already was, and the process exits with status 1.
void onConsoleCtrl(int signal);
// Quit signals received so far.
u32 quitSignalCount();

// Files that must not outlive a process ended by a second quit signal: the temporary archive
// (slot 0) and a file being extracted (slot 1). The tool's temporary files are recorded before
// they are created and cleared once they have their final names, so a signal at any moment
// leaves none behind. `name` is
// taken in the directory `dirFd` (an open handle; -100 for the working directory).
enum RemovableFile : u32
{
    REMOVABLE_TEMPORARY = 0,
    REMOVABLE_EXTRACTING = 1,
};
void recordRemovableFile(RemovableFile slot, const char* name, int dirFd = -100);
void clearRemovableFile(RemovableFile slot);

// While one lives, quit signals wait for the calling thread: a file's creation and its record
// above happen as one step, so the hard exit removes only a file this run created.
class QuitSignalsHeld
{
public:
    QuitSignalsHeld();
    ~QuitSignalsHeld();
    QuitSignalsHeld(const QuitSignalsHeld&) = delete;
    QuitSignalsHeld& operator=(const QuitSignalsHeld&) = delete;

private:
    alignas(8) unsigned char saved[128]; // the thread's mask before
    bool held = false;
};
// Writes the text that says the run was interrupted, unless the hard exit of a second signal
// said it already; once written, the hard exit does not say it again.
void reportInterruptOnce(const char* text, u64 length);

// Every thread's own stack for the crash handler, so that a stack overflow on any thread is
// still reported. False when the stack could not be set up.
bool installThreadCrashStack();
void removeThreadCrashStack();
