#pragma once
#include "tool/containers/Container.h"

// Nested containers are opened to this depth; deeper entries stay plain files. So do entries
// past a budget of nested files: below one top-level detection, nested containers may hold one
// file per 64 bytes of it (at least NESTED_FILES_FLOOR), counted once per entry that holds one
// however often entries share the same data, so a small archive cannot open the same nested
// one 2^32 times. The budget counts what the archive holds, not memory, so the same archive
// always opens the same way.
constexpr u32 MAX_NESTING_DEPTH = 32;
constexpr u64 NESTED_FILES_FLOOR = 1 << 10;
// Bytes unpacked from packed entries below one top-level archive may reach this many times its
// size (at least the floor: UNPACKED_FLOOR or a quarter of the machine's memory, whichever is
// larger); an entry past that is refused and the run fails. Documents converted on the way hold
// memory against the same budget while they convert.
constexpr u64 UNPACKED_PER_BYTE = 256;
constexpr u64 UNPACKED_FLOOR = u64(256) << 20;

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
// True when the last top-level detection left a nested container unopened for want of budget,
// or refused an entry past the unpacked-bytes budget.
bool nestingBudgetRanOut();
// Counts bytes just unpacked for an entry against the budget of the archive being opened;
// false, after an error line that halts the run, once they pass it. Outside a detection
// nothing is counted.
bool chargeUnpacked(u64 bytes, const String& entryName);
// The size the next top-level detections take their budgets from, instead of the size of the
// bytes detected (0 goes back to that): a verification reopens the written copy under the
// original's budgets, so budgets never decide it.
void setArchiveBudgets(u64 archiveBytes);
// The budget of unpacked bytes that opening an archive of this size gives.
u64 unpackedBudgetFor(u64 archiveBytes);
// Sets the floor of that budget (0: the machine's own, UNPACKED_FLOOR or a quarter of its memory).
// Fuzzing keeps it low, whatever the machine.
void setUnpackedFloor(u64 bytes);
// Room in the budget of the archive being opened for memory held only for a while (a document's
// conversion): true, with the bytes held until releaseTransient, when they fit; false, with
// nothing printed, when they do not. Outside a detection everything fits.
bool reserveTransient(u64 bytes);
void releaseTransient(u64 bytes);

void printProgress(u32 depth);
// The output name: outPath, '.', the container's extension.
String outputFileName(const Container& container, const String& outPath);
// False on every failure (nothing written, write failed, checksums differ).
bool writeContainer(Container& container, const String& outPath, bool verify);

u32 readU32IfAvailable(class MemoryStream& stream);
u16 readU16IfAvailable(class MemoryStream& stream);
bool hasMagic(const ByteArray& bytes, const char magic[4]);
