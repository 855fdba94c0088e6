#include "framework/platform/Console.h"

#include <unistd.h>

bool consoleIsTerminal(FILE* out)
{
    return isatty(fileno(out)) == 1;
}

void consoleSetColour(FILE* out, u8 attribute)
{
    if (!consoleIsTerminal(out))
        return;
    // Windows colour order is blue, green, red; ANSI is red, green, blue.
    static const u8 ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    u8 fg = attribute & 15, bg = attribute >> 4;
    int fgCode = (fg & 8 ? 90 : 30) + ansi[fg & 7];
    if (bg)
        fprintf(out, "\x1b[0;%d;%dm", fgCode, (bg & 8 ? 100 : 40) + ansi[bg & 7]);
    else
        fprintf(out, "\x1b[0;%dm", fgCode);
}
