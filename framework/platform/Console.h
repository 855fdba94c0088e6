#pragma once
#include "framework/core/Types.h"

#include <cstdio>

// Sets a Windows-style console text attribute (low nibble foreground, high nibble background)
// as an ANSI sequence, only when the stream is a terminal: piped output stays plain text.
void consoleSetColour(FILE* out, u8 attribute);
bool consoleIsTerminal(FILE* out);
