#include "tool/containers/ContainerTRE.h"
#include "framework/core/ByteBuffer.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/containers/EntryIndex.h"
#include "tool/containers/RadixSorter.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 TRE_ENTRY_SIZE = 74;
constexpr u32 TRE_MAX_FILES = 4096;

u32 keyOf(const TreEntry* e)
{
    return e->sortFlag ? e->index : e->offset;
}

u32 holdsData(const TreEntry* e)
{
    return e->dataSize() ? 1 : 0;
}

// Orders entries by offset (sortFlag clear) or by index (set); stable. At one offset, empty
// entries come before the one with data: they end where it starts, so they neither overlap it
// nor move behind it when the archive is written again.
void sortEntries(PtrArray<TreEntry>& entries, u8 sortFlag)
{
    for (u32 i = 0; i < entries.count; i++)
        entries[i]->sortFlag = sortFlag;
    RadixSorter sorter(entries.count);
    if (!sortFlag) {
        TreEntry** byData = sorter.sortAs<TreEntry>(entries.items, entries.count, holdsData);
        if (byData && entries.count)
            memcpy(entries.items, byData, sizeof(TreEntry*) * entries.count);
    }
    TreEntry** sorted = sorter.sortAs<TreEntry>(entries.items, entries.count, keyOf);
    if (sorted && entries.count)
        memcpy(entries.items, sorted, sizeof(TreEntry*) * entries.count);
}

}

TreEntry::~TreEntry()
{
    // The nested container may look into the data: it goes first.
    deleteContainer(nested);
    deleteByteArray(data);
}

ContainerTRE::ContainerTRE(const String& name) : Container(name, String(), CONTAINER_TRE)
{
}

ContainerTRE::~ContainerTRE()
{
    deleteByteArray(gap);
}

String mapTrePath(const String& storedName)
{
    String s(storedName);
    s.replaceChar('\\', '/');
    for (const char* pattern : {"../", "./"}) {
        i64 at;
        while ((at = s.indexOf(pattern)) >= 0) {
            String rest = s.from(u64(at) + strlen(pattern));
            s = s.left(u64(at)) + rest;
        }
    }
    i64 colon = s.indexOf(':');
    if (colon >= 0)
        s = s.from(u64(colon) + 1);
    if (toolOptions().verbosity >= 5)
        printf("'%s' -> '%s'\n", storedName.c_str(), s.c_str());
    return s;
}

void reportUnsupportedTre(const ByteArray& bytes)
{
    if (hasMagic(bytes, "SKNK"))
        printError("ERROR: This is a SKNK TRE file. Not (yet) supported!\n");
    else
        printError("ERROR: This is an unrecognised / unsupported TRE format!\n");
}

bool ContainerTRE::probe(const String& name, const ByteArray& bytes)
{
    if (!name.endsWithNoCase(".TRE") && !name.endsWithNoCase(".DAT"))
        return false;
    MemoryStream s(bytes);
    u32 w[4];
    for (u32& v : w)
        v = readU32IfAvailable(s);
    if (hasMagic(bytes, "SKNK") || hasMagic(bytes, "XTRE"))
        return false;
    if (w[1] < 2 && w[2] == 0 && w[3] == 0)
        return false;
    if (w[0] > TRE_MAX_FILES)
        return false;
    return bytes.count >= 8 && w[1] >= 8 && w[1] < bytes.count;
}

Container* ContainerTRE::open(const String& name, const ByteArray& bytes)
{
    const u32 verbosity = toolOptions().verbosity;
    const u64 fileSize = bytes.count;
    MemoryStream s(bytes);
    if (verbosity >= 1)
        printf("File size: %u\nReading header...\n", bytes.count);
    u32 fileCount = readU32IfAvailable(s);
    u32 headerSize = readU32IfAvailable(s);
    if (verbosity >= 2)
        printf(" -> Header size: %u\n", headerSize);
    if (verbosity >= 1)
        printf(" -> Number of files: %u\n", fileCount);
    if (headerSize < 8 || fileCount > TRE_MAX_FILES || headerSize >= fileSize) {
        printError("ERROR: This doesn't seem to be a valid TRE file!\n");
        return nullptr;
    }
    ContainerTRE* tre = memNew<ContainerTRE>(name);
    if (!tre)
        return nullptr;
    if (verbosity >= 1)
        printf("Reading Table of Contents...\n");
    u64 lowest = fileSize;
    u32 lowestIndex = 0;
    String lowestName;
    for (u32 i = 0; i < fileCount; i++) {
        u8 flag = s.readU8IfAvailable();
        char raw[66] = {};
        u64 nameBytes = s.bytesLeft() < 65 ? s.bytesLeft() : 65;
        s.read(raw, nameBytes);
        bool haveOffset = s.bytesLeft() >= 4;
        u32 offset = readU32IfAvailable(s);
        u32 size = readU32IfAvailable(s);
        // An empty last entry sits exactly at the end of the file; the writer produces those.
        if (flag != 1 || !haveOffset || offset < headerSize || offset > fileSize || size >= fileSize) {
            printError("ERROR: Bad file entry!\n");
            deleteContainer(tre);
            return nullptr;
        }
        TreEntry* e = memNew<TreEntry>();
        if (!e || !tre->entries.push(e)) {
            memDelete(e);
            deleteContainer(tre);
            return nullptr;
        }
        memcpy(e->storedName, raw, 65);
        e->name = String(raw, 65);
        e->index = i;
        e->offset = offset;
        e->size = size;
        if (verbosity >= 3)
            printf(" -> 0x%08X %s (%u bytes)\n", offset, e->name.c_str(), size);
        if (offset < lowest) {
            lowest = offset;
            lowestIndex = i;
            lowestName = e->name;
        }
    }
    const u64 tocEnd = s.tell();
    if (verbosity >= 3) {
        printf(" -> End of TOC: %u\n", u32(tocEnd));
        printf(" -> First file: offset %u, index %u, '%s'\n", u32(lowest), lowestIndex, lowestName.c_str());
    }
    // Data that starts inside the table leaves no room for a gap.
    u64 gapLength = lowest > tocEnd ? lowest - tocEnd : 0;
    if (gapLength) {
        if (verbosity >= 3)
            printf(" -> Post-TOC \"gap\" data: %u bytes\n", u32(gapLength));
        tre->gap = newByteView(bytes.data + tocEnd, u32(gapLength));
        if (!tre->gap) {
            deleteContainer(tre);
            return nullptr;
        }
    } else if (verbosity >= 4) {
        printf(" -> No gap!\n");
    }
    if (tre->entries.count == 0) {
        deleteContainer(tre);
        return nullptr;
    }
    printf("Reading files...\n");
    for (u32 i = 0; i < tre->entries.count; i++) {
        TreEntry* e = tre->entries[i];
        if (interrupted()) {
            deleteContainer(tre);
            return nullptr;
        }
        if (verbosity >= 1)
            printf(" >> %s\n", e->name.c_str());
        if (u64(e->offset) + e->size > fileSize) {
            printError("ERROR: Read failure! (%u bytes @ 0x%X)\n", e->size, e->offset);
            deleteContainer(tre);
            return nullptr;
        }
        // A view: the archive's bytes outlive their entries.
        e->data = newByteView(bytes.data + e->offset, e->size);
        if (!e->data) {
            deleteContainer(tre);
            return nullptr;
        }
        NestingScope scope;
        e->nested = detectContainer(e->name, *e->data);
    }
    sortEntries(tre->entries, 0);
    bool reported = false;
    for (u32 i = 0; i < tre->entries.count; i++) {
        const TreEntry* e = tre->entries[i];
        u64 end = u64(e->offset) + e->dataSize();
        u64 next = i + 1 < tre->entries.count ? tre->entries[i + 1]->offset : fileSize;
        if (end == next)
            continue;
        reported = true;
        if (end > next)
            printError("ERROR: Found overlap! %u bytes @ 0x%02X\n", u32(end - next), u32(next));
        else if (i + 1 < tre->entries.count)
            printError("ERROR: Found gap! %u bytes @ 0x%02X\n", u32(next - end), u32(end));
        else
            printError("ERROR: EOF gap! %u bytes @ 0x%02X\n", u32(next - end), u32(end));
    }
    if (!reported && verbosity >= 4)
        printf(" -> No file gaps.\n");
    return tre;
}

void ContainerTRE::list(u32 indent)
{
    u64 total = 0;
    for (TreEntry* e : entries) {
        const u32 size = e->dataSize();
        listEntry(mapTrePath(e->name).c_str(), size, e->nested, indent);
        total += size;
    }
    if (indent == 0)
        printListTotal(entries.count, total);
}

u32 ContainerTRE::extract(const String& directory, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    if (!makeExtractionDirectory(directory))
        return 0;
    u32 written = 0;
    if (!indexEntries(indent))
        return 0;
    for (u32 i = 0; i < entries.count; i++) {
        const TreEntry* e = entries[i];
        if (!extractEntry(directory, index.path(i), e->nested, e->data, indent, written))
            break;
    }
    if (opt.dumpGap && !runHalted()) {
        if (opt.verbosity >= 1)
            printf("Writing gap data for analysis...\n");
        String gapPath = directory + GAP_SUFFIX;
        writeExtractedFile(gapPath, gap ? gap->data : nullptr, gap ? gap->count : 0);
    }
    if (indent == 0)
        printf("Done. Extracted %u/%u files.\n", written, fileCount());
    return written;
}

u32 ContainerTRE::fileCount()
{
    return countLeafFiles(entries);
}

void ContainerTRE::hashContents(Md5& context, u32 indent)
{
    for (TreEntry* e : entries)
        hashEntry(context, e->nested, e->data, e->storedName, indent);
}

namespace
{
// The files and folders of a repack laid over the archive's entries.
class TreRepack : public EntryIndex::Visitor
{
public:
    explicit TreRepack(ContainerTRE& tre) : tre(tre) {}

    bool file(const String& relativePath, const String& fullPath, const String& name, const EntryIndex::Match& match,
              u32 indent) override
    {
        TreEntry* e = tre.entries[match.position];
        // A document is converted back by its own container.
        if (match.as == FORM_DOCUMENT)
            return repackDocument(*e->nested, name, "(Container File)", fullPath, relativePath, indent);
        ByteArray* bytes = readReplacement(name, fullPath, indent);
        if (!bytes)
            return false;
        // Bytes that did not change stay where they are (in the archive's image).
        if (sameBytes(bytes, e->data)) {
            deleteByteArray(bytes);
        } else {
            deleteByteArray(e->data);
            e->data = bytes;
        }
        // The raw bytes now stand for the entry; its parsed copy must not be written back.
        deleteContainer(e->nested);
        e->nested = nullptr;
        return true;
    }

    bool add(const String&, const String& fullPath, const String& name, u32 indent) override
    {
        ByteArray* bytes = readReplacement(name, fullPath, indent, " (NEW FILE)");
        if (!bytes)
            return false;
        TreEntry* e = memNew<TreEntry>();
        if (!e || !tre.entries.push(e)) {
            memDelete(e);
            deleteByteArray(bytes);
            return false;
        }
        copyStringBounded(e->storedName, 66, name.c_str());
        e->name = String("../../") + name.c_str();
        e->index = tre.entries.count - 1;
        e->offset = 0xFFFFFFFFu;
        e->data = bytes;
        return true;
    }

    bool child(const String& relativePath, const String& fullPath, const String& name, const EntryIndex::Match& match,
               u32 indent) override
    {
        if (repackChild(*tre.entries[match.position]->nested, name, fullPath, relativePath, indent))
            return true;
        reportFailedFolder(name, &fullPath);
        return false;
    }

    bool leave(const String& name, bool ok) override
    {
        if (!ok)
            reportFailedFolder(name);
        return ok;
    }

private:
    ContainerTRE& tre;
};
}

bool ContainerTRE::indexEntries(u32 indent)
{
    // The top-level archive writes its gap file inside the chosen directory, as ".GAP", with -g or
    // not: extraction and repack agree on which file is an entry whatever the options.
    return index.buildOnce(
        entries, [](const TreEntry& e, u32) { return EntryIndexRow{e.index, mapTrePath(e.name), e.nested}; },
        indent == 0 ? GAP_SUFFIX : nullptr);
}

bool ContainerTRE::repack(const String& directory, const String&, u32 indent)
{
    TreRepack visitor(*this);
    return indexEntries(indent) && index.repack(directory, visitor, indent);
}

ByteArray* ContainerTRE::serialise(ProgressFunction progress, u32 depth)
{
    const u32 verbosity = toolOptions().verbosity;
    const u32 n = entries.count;
    if (!withinEntryLimit("A TRE archive", n, TRE_MAX_FILES, "entries"))
        return nullptr;
    const u64 gapLength = gap ? gap->count : 0;
    const u64 headerSize = u64(TRE_ENTRY_SIZE) * n + 8 + gapLength;
    // Each entry's bytes in the new archive, in data order: its own (shared with the entry), or
    // what its nested container built (owned here). Every byte is then copied once.
    const ByteArray** sources = static_cast<const ByteArray**>(allocZeroed(u64(n + 1) * sizeof(ByteArray*)));
    PtrArray<ByteArray> built(true);
    u64 offset = headerSize;
    bool failed = !sources;
    for (u32 i = 0; i < n && !failed; i++) {
        TreEntry* e = entries[i];
        if (interrupted()) {
            failed = true;
            break;
        }
        if (verbosity) {
            printMarker('<', depth);
            printf(e->nested ? " [%s]\n" : " %s\n", e->name.c_str());
        }
        if (e->nested) {
            ByteArray* child = e->nested->serialise(progress, depth + 1);
            if (!child || !built.push(child)) {
                deleteByteArray(child);
                failed = true;
                break;
            }
            sources[i] = child;
        } else {
            sources[i] = e->data;
            progress(depth);
        }
        e->writtenOffset = u32(offset);
        e->writtenSize = sources[i] ? sources[i]->count : 0;
        offset += e->writtenSize;
        failed = !archiveSizeFits(offset);
    }
    // The table keeps the order read from the archive (added entries last).
    PtrArray<TreEntry> table(false);
    for (u32 i = 0; i < n && !failed; i++)
        failed = !table.push(entries[i]);
    if (!failed)
        sortEntries(table, 1);
    if (!failed && offset == headerSize) {
        // An archive whose data area is empty is not read as one.
        printError("ERROR: A TRE archive needs at least one byte of entry data; every entry here would be empty!\n");
        failed = true;
    }
    ByteArray* result = failed ? nullptr : newByteArray(nullptr, u32(offset));
    if (result) {
        u8* at = result->data;
        putU32LE(at, n);
        putU32LE(at, u32(headerSize));
        for (TreEntry* e : table) {
            *at++ = 1;
            memcpy(at, e->storedName, 65);
            at += 65;
            putU32LE(at, e->writtenOffset);
            putU32LE(at, e->writtenSize);
        }
        if (gapLength) {
            memcpy(at, gap->data, size_t(gapLength));
            at += gapLength;
        }
        putEach(at, sources, n);
    }
    memFree(sources);
    return result;
}
