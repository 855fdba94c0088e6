#include "framework/log/Log.h"
#include "fuzz/FuzzTargets.h"
#include "tool/containers/Driver.h"
#include "tool/ToolOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
const FuzzTarget targets[] = {
    {"tre", fuzzTre},     {"crctre", fuzzCrcTre},   {"pak", fuzzPak},         {"vpk", fuzzVpk},
    {"mpk", fuzzMpk},     {"voc", fuzzVoc},         {"lzw", fuzzLzw},         {"implode", fuzzImplode},
    {"refpack", fuzzRefPack}, {"lzss", fuzzLzss},   {"xml", fuzzXml},         {"config", fuzzConfig},
    {"reader", fuzzReader},   {"wav", fuzzWav},         {"package", fuzzPackage},
    {"iff", fuzzIff},         {"pfc", fuzzPfc},         {"xtre", fuzzXtre},       {"lzwx", fuzzLzwx},
    {"iffedit", fuzzIffEdit}, {"pfcedit", fuzzPfcEdit}, {"tretree", fuzzTreTree}, {"crctretree", fuzzCrcTreTree},
    {"xtretree", fuzzXtreTree}, {"paktree", fuzzPakTree},
};

ToolOptions quietOptions;
}

const FuzzTarget* fuzzTargets(u32& count)
{
    count = sizeof(targets) / sizeof(targets[0]);
    return targets;
}

const FuzzTarget* findFuzzTarget(const char* name)
{
    for (const FuzzTarget& t : targets)
        if (strcmp(t.name, name) == 0)
            return &t;
    return nullptr;
}

void setUpFuzzing()
{
    // Error lines are expected by the thousand; only the parsers' work is of interest.
    consoleLogLevel = LOG_FATAL + 1;
    fileLogLevel = LOG_FATAL + 1;
    quietOptions = ToolOptions();
    setToolOptions(&quietOptions);
    // Whatever the machine, an input may unpack no more than the smallest budget allows: the
    // fuzzer's own memory limit stays the judge of real leaks and blow-ups.
    setUnpackedFloor(UNPACKED_FLOOR);
}

void fuzzFailure(const char* what)
{
    fprintf(stderr, "fuzz property failed: %s\n", what);
    fflush(stderr);
    abort();
}
