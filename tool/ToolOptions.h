#pragma once
#include "framework/core/Types.h"

enum RunMode : u8
{
    MODE_LIST = 0,
    MODE_EXTRACT = 1,
    MODE_REPACK = 2,
    MODE_REWRITE = 3,
};

// The option fields every container reads. The tool's application holds the live set; until it
// exists (and in tests) a default set with everything off stands in.
struct ToolOptions
{
    u8 mode = MODE_LIST;
    u32 verbosity = 0;
    u8 dumpGap = 0;
    u8 noConvert = 0;
    u8 noRecurse = 0;
    u8 addNewFiles = 0;
};

ToolOptions& toolOptions();
void setToolOptions(ToolOptions* options);
