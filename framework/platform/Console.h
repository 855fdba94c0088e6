#pragma once
#include "framework/core/Types.h"

#include <cstdio>

// Sets a Windows-style console text attribute (low nibble foreground, high nibble background)
// as an ANSI sequence, only when the stream is a terminal: piped output stays plain text.
void consoleSetColour(FILE* out, u8 attribute);
bool consoleIsTerminal(FILE* out);

// From here on standard output and standard error never keep a quit signal waiting, whatever
// they are (a pipe nobody reads, a stopped terminal, a socket, a slow reader): a write that the
// reader does not take waits in short steps and gives way once a quit signal has come in, and
// after a short grace only what can be written without waiting is written (the rest is
// dropped). Output that is taken arrives whole and in order; real write errors still reach the
// stream. False when standard output could not be set up (it then stays as it was).
bool guardStandardOutput();
// Waits until standard output takes a short write, as a write of it would wait: false once the
// grace after a quit signal is spent while it does not.
bool waitForOutputRoom();
// Writes the text to standard output only if that can be done without waiting (for the hard
// exit of a signal handler: async-signal-safe).
void writeOutputIfReady(const char* text, u64 length);
// Writes the text to standard output (standardFd 1) or standard error (2) past the stream's
// buffer, waiting for room as the guarded stream does and giving way to a quit as it does. For
// the crash handler: async-signal-safe.
void writeStandardText(int standardFd, const char* text, u64 length);
