#pragma once
#include "framework/core/Types.h"

#include <cstddef>

// One fuzz target: a parser of outside data driven by one input. The bodies are plain
// functions so the libFuzzer programs and the regression replay in the test runner share them.
struct FuzzTarget
{
    const char* name;
    void (*run)(const u8* data, size_t size);
};

// Every target, in a fixed order; `count` receives their number.
const FuzzTarget* fuzzTargets(u32& count);
const FuzzTarget* findFuzzTarget(const char* name);
// Quiet logging and default tool options; call once before the first input.
void setUpFuzzing();
// Stops the run with a crash the fuzzer reports, for a broken property rather than a fault.
[[noreturn]] void fuzzFailure(const char* what);

void fuzzContainer(const char* archiveName, const u8* data, size_t size);
void fuzzTre(const u8* data, size_t size);
void fuzzCrcTre(const u8* data, size_t size);
void fuzzPak(const u8* data, size_t size);
void fuzzVpk(const u8* data, size_t size);
void fuzzMpk(const u8* data, size_t size);
void fuzzXtre(const u8* data, size_t size);
void fuzzLzw(const u8* data, size_t size);
void fuzzImplode(const u8* data, size_t size);
void fuzzRefPack(const u8* data, size_t size);
void fuzzLzss(const u8* data, size_t size);
void fuzzLzwx(const u8* data, size_t size);
void fuzzXml(const u8* data, size_t size);
void fuzzConfig(const u8* data, size_t size);
void fuzzReader(const u8* data, size_t size);
void fuzzVoc(const u8* data, size_t size);
void fuzzPfc(const u8* data, size_t size);
void fuzzWav(const u8* data, size_t size);
void fuzzPackage(const u8* data, size_t size);
void fuzzIff(const u8* data, size_t size);
// A repack from edited XML, and the extract-and-repack round trip on disk of each archive kind.
void fuzzIffEdit(const u8* data, size_t size);
void fuzzPfcEdit(const u8* data, size_t size);
void fuzzTreTree(const u8* data, size_t size);
void fuzzCrcTreTree(const u8* data, size_t size);
void fuzzXtreTree(const u8* data, size_t size);
void fuzzPakTree(const u8* data, size_t size);
