#pragma once
#include "tool/containers/Container.h"

// Nested containers are opened to this depth; deeper entries stay plain files. So do entries
// past a budget: below one top-level detection, the nested containers together may hold 64
// times its bytes (at least 16 MiB), however often entries share or unpack the same data.
constexpr u32 MAX_NESTING_DEPTH = 32;

// One kind of file the tool understands: a test on the data (and name) and the function that
// opens it. A kind that recognises data but fails to open it ends the search.
struct ContainerKind
{
    const char* name;
    bool (*probe)(const String& name, const ByteArray& bytes);
    Container* (*open)(const String& name, const ByteArray& bytes);
};

Container* openContainer(const String& path);
Container* detectContainer(const String& name, const ByteArray& bytes);
// Same, with the kinds given (tests use stand-ins).
Container* detectContainerWith(const ContainerKind* kinds, u32 count, const String& name, const ByteArray& bytes);

// The nesting depth of the container being opened: archives raise it around the detection of
// their entries, so hostile nesting stops at MAX_NESTING_DEPTH.
class NestingScope
{
public:
    NestingScope();
    ~NestingScope();
    NestingScope(const NestingScope&) = delete;
    NestingScope& operator=(const NestingScope&) = delete;
};
u32 nestingDepth();
// True when the last top-level detection left a nested container unopened for want of budget.
bool nestingBudgetRanOut();

void printProgress(u32 depth);
// The output name: outPath, '.', the container's extension.
String outputFileName(const Container& container, const String& outPath);
// False on every failure (nothing written, write failed, checksums differ).
bool writeContainer(Container& container, const String& outPath, bool verify);

u32 readU32IfAvailable(class MemoryStream& stream);
u16 readU16IfAvailable(class MemoryStream& stream);
bool hasMagic(const ByteArray& bytes, const char magic[4]);
