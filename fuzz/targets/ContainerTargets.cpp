#include "framework/core/ByteArray.h"
#include "framework/io/Md5.h"
#include "fuzz/FuzzTargets.h"
#include "tool/ToolOptions.h"
#include "tool/containers/ContainerCRCTRE.h"
#include "tool/containers/Driver.h"

#include <cstring>

namespace
{
void noProgress(u32)
{
}

void contentDigest(Container& c, u8 digest[16])
{
    Md5 md5;
    c.hashContents(md5, 0);
    md5.final(digest);
}
}

// Detection steered by the archive's name, then every read-only walk of what it opened and a
// rewrite. What the writer produced must come back from a second rewrite byte for byte (an
// unedited archive repacks onto itself). The first rewrite may legitimately differ from a
// damaged input: overlaps are written apart, data past the last entry is dropped, and a nested
// archive may then no longer be recognised. Nor is a fixed point promised once the nesting
// budget has left shared data unopened: each rewrite writes what it opened apart.
void fuzzContainer(const char* archiveName, const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    const String name(archiveName);
    ByteArray bytes(data, u32(size));
    clearToolFailure();
    Container* c = detectContainer(name, bytes);
    if (!c)
        return;
    const bool cutShort = nestingBudgetRanOut();
    ToolOptions& options = toolOptions();
    const u32 verbosity = options.verbosity;
    c->list(0);
    Md5 quiet;
    c->hashContents(quiet, 0);
    // The chatty paths print every stored name and size.
    options.verbosity = 5;
    c->list(0);
    Md5 loud;
    c->hashContents(loud, 0);
    options.verbosity = verbosity;

    ByteArray* first = c->serialise(noProgress, 0);
    deleteContainer(c);
    if (!first)
        return;
    if (cutShort) {
        deleteByteArray(first);
        return;
    }
    Container* copy = detectContainer(name, *first);
    if (!copy || nestingBudgetRanOut()) {
        deleteContainer(copy);
        deleteByteArray(first);
        return;
    }
    const u32 files = copy->fileCount();
    u8 before[16];
    contentDigest(*copy, before);
    ByteArray* second = copy->serialise(noProgress, 0);
    deleteContainer(copy);
    if (!second)
        fuzzFailure("a rewritten archive cannot be written again");
    if (second->count != first->count || (first->count && memcmp(second->data, first->data, first->count) != 0))
        fuzzFailure("a rewritten archive does not rewrite to the same bytes");
    Container* again = detectContainer(name, *second);
    if (!again)
        fuzzFailure("a rewritten archive is recognised only once");
    if (nestingBudgetRanOut())
        fuzzFailure("the same bytes opened twice ran out of nesting budget once");
    u8 after[16];
    contentDigest(*again, after);
    if (again->fileCount() != files || memcmp(before, after, 16) != 0)
        fuzzFailure("the same bytes opened twice hold different content");
    deleteContainer(again);
    deleteByteArray(second);
    deleteByteArray(first);
}

void fuzzTre(const u8* data, size_t size)
{
    fuzzContainer("FUZZ.TRE", data, size);
}

// The same name as the classic kind, for data the CRC-TRE test accepts. Anything else under that
// name (classic TRE, IFF, VOC data) is the classic target's: run here it drew the corpus into
// documents whose conversion, repeated by every open, outweighed the archive's own work.
void fuzzCrcTre(const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu || !ContainerCRCTRE::probe(String("FUZZ.TRE"), byteView(data, u32(size))))
        return;
    fuzzContainer("FUZZ.TRE", data, size);
}

void fuzzPak(const u8* data, size_t size)
{
    fuzzContainer("FUZZ.PAK", data, size);
}

// The names that choose the sound and the music variants of PAK archives.
void fuzzVpk(const u8* data, size_t size)
{
    fuzzContainer("FUZZ.VPK", data, size);
}

void fuzzMpk(const u8* data, size_t size)
{
    fuzzContainer("FUZZ.MPK", data, size);
}

// XTRE data is told by its magic alone; a name the version 1 name set knows makes the lookups run.
void fuzzXtre(const u8* data, size_t size)
{
    fuzzContainer("GAMEFLOW.TRE", data, size);
}
