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
// that a stack overflow is still reported.
bool installCrashHandlers();
// Routes pure virtual calls to onPureCall from now on.
void installPureCallHandler();

// Logs the FATAL line on "Core", writes "crash.mdmp", prints the termination line, _exit(1).
// A crash inside it exits at once.
[[noreturn]] void crashHandler(int code);
[[noreturn]] void onPureCall();
// The quit-signal handler: sets the flag given to installQuitSignals.
void onConsoleCtrl(int signal);
