// The libFuzzer entry points of one target, chosen at build time by FUZZ_TARGET_NAME.
#include "fuzz/FuzzTargets.h"

#include <cstdio>
#include <cstdlib>

namespace
{
const FuzzTarget* target = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    target = findFuzzTarget(FUZZ_TARGET_NAME);
    if (!target) {
        fprintf(stderr, "unknown fuzz target '%s'\n", FUZZ_TARGET_NAME);
        exit(1);
    }
    setUpFuzzing();
    // The tool prints its listings on standard output; the fuzzer reports on standard error.
    if (!freopen("/dev/null", "w", stdout))
        fprintf(stderr, "standard output stays open\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    target->run(data, size);
    return 0;
}
