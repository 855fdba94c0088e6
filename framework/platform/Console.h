#pragma once
#include "framework/core/Types.h"

#include <cstdio>

// Sets a Windows-style console text attribute (low nibble foreground, high nibble background)
// as an ANSI sequence, only when the stream is a terminal: piped output stays plain text.
void consoleSetColour(FILE* out, u8 attribute);
bool consoleIsTerminal(FILE* out);

// From here on standard output never keeps a quit signal waiting: a write that the reader does
// not take (a pipe nobody reads, a stopped terminal) waits in short steps and gives way once a
// quit signal has come in, and from then on only what can be written without waiting is written
// (the rest is dropped). Real write errors still reach the stream. False when it could not be set
// up (output then stays as it was).
bool guardStandardOutput();
// Waits until standard output takes a short write, as a write of it would wait: false once the
// grace after a quit signal is spent while it does not.
bool waitForOutputRoom();
// Writes the text to standard output only if that can be done without waiting (for the hard
// exit of a signal handler: async-signal-safe).
void writeOutputIfReady(const char* text, u64 length);
