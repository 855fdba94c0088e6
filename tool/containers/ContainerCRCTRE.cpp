#include "tool/containers/ContainerCRCTRE.h"
#include "framework/core/ByteBuffer.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "gamedata/codecs/CodecLZSS.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/containers/EntryIndex.h"
#include "tool/containers/RadixSorter.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 CRCTRE_HEADER_SIZE = 16;
constexpr u32 CRCTRE_ENTRY_SIZE = 16 + CRCTRE_NAME_SIZE;
constexpr u32 CRCTRE_MAX_FILES = 65535;

struct CrcTable
{
    u32 v[256];
    constexpr CrcTable() : v()
    {
        for (u32 i = 0; i < 256; i++) {
            u32 c = i;
            for (int k = 0; k < 8; k++)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            v[i] = c;
        }
    }
};
constexpr CrcTable crcTable;

enum : u8
{
    SORT_BY_CRC = 0,
    SORT_BY_OFFSET = 1,
    SORT_BY_SPACE = 2, // files that take no bytes in the archive first
};

u32 keyOf(const CrcTreEntry* e)
{
    switch (e->sortFlag) {
    case SORT_BY_OFFSET:
        return e->offset;
    case SORT_BY_SPACE:
        return e->compressed || e->dataSize() ? 1 : 0;
    default:
        return e->crc;
    }
}

// The entries in a stable order on the key sortFlag selects; `order` receives the result.
bool sortEntries(CrcTreEntry* const* items, u32 n, u8 sortFlag, PtrArray<CrcTreEntry>& order)
{
    for (u32 i = 0; i < n; i++)
        items[i]->sortFlag = sortFlag;
    RadixSorter sorter(n);
    CrcTreEntry** sorted = sorter.sortAs<CrcTreEntry>(items, n, keyOf);
    if (!sorted)
        return false;
    order.clear();
    for (u32 i = 0; i < n; i++)
        if (!order.push(sorted[i]))
            return false;
    return true;
}

String displayName(const char* nameField)
{
    String s(nameField, CRCTRE_NAME_SIZE);
    s.replaceChar('\\', '/');
    return s;
}


}

u32 crcTreNameCrc(const char* nameField)
{
    u32 crc = 0;
    for (u32 i = 0; i < CRCTRE_NAME_SIZE && nameField[i]; i++)
        crc = (crc >> 8) ^ crcTable.v[(crc ^ asciiLower(u8(nameField[i]))) & 0xFF];
    return crc;
}

CrcTreEntry::~CrcTreEntry()
{
    memFree(ownedName);
    deleteByteArray(data);
    deleteByteArray(stored);
}

ContainerCRCTRE::ContainerCRCTRE(const String& name, u8 f) : Container(name, String(), CONTAINER_CRCTRE), flags(f)
{
}

bool ContainerCRCTRE::probe(const String& name, const ByteArray& bytes)
{
    if (!name.endsWithNoCase(".tre"))
        return false;
    if (bytes.count < 4)
        return false;
    MemoryStream s(bytes);
    u32 w[4];
    for (u32& v : w)
        v = readU32IfAvailable(s);
    if (w[0] < 1 || w[0] > CRCTRE_MAX_FILES)
        return false;
    if (hasMagic(bytes, "SKNK") || hasMagic(bytes, "XTRE"))
        return false;
    return w[1] < 2 && w[2] == 0 && w[3] == 0;
}

Container* ContainerCRCTRE::open(const String& name, const ByteArray& bytes)
{
    const u32 verbosity = toolOptions().verbosity;
    const u64 fileSize = bytes.count;
    MemoryStream s(bytes);
    if (verbosity >= 1)
        printf("File size: %u\nReading header...\n", bytes.count);
    u32 count = readU32IfAvailable(s);
    if (verbosity >= 1)
        printf(" -> Number of files: %u\n", count);
    u8 flags = s.readU8IfAvailable();
    if (verbosity >= 2)
        printf(" -> Flags: %u\n", flags);
    s.skip(11);
    // The table must be present before any entry is made from it.
    if (count > CRCTRE_MAX_FILES || u64(CRCTRE_HEADER_SIZE) + u64(count) * CRCTRE_ENTRY_SIZE > fileSize) {
        printError("ERROR: This doesn't seem to be a valid CRC-TRE file!\n");
        return nullptr;
    }
    if (verbosity >= 1)
        printf("Reading Table of Contents...\n");
    ContainerCRCTRE* tre = memNew<ContainerCRCTRE>(name, flags);
    if (!tre)
        return nullptr;
    u32 lowest = 0xFFFFFFFFu;
    for (u32 i = 0; i < count; i++) {
        CrcTreEntry* e = memNew<CrcTreEntry>();
        if (!e || !tre->entries.push(e)) {
            memDelete(e);
            deleteContainer(tre);
            return nullptr;
        }
        e->crc = s.readU32();
        e->size = s.readU32();
        e->offset = s.readU32();
        e->packedSize = s.readU32();
        // The whole table is present (checked above): the field is read where it lies.
        e->storedName = reinterpret_cast<const char*>(bytes.data + s.tell());
        s.skip(CRCTRE_NAME_SIZE);
        e->name = displayName(e->storedName);
        e->index = i;
        e->compressed = e->packedSize != 0;
        if (verbosity >= 3)
            printf(" -> 0x%08X [0x%08X] %.256s (%u bytes%s)\n", e->offset, e->crc, e->storedName,
                   e->compressed ? e->packedSize : e->size, e->compressed ? " LZSS" : "");
        if (e->offset < lowest)
            lowest = e->offset;
    }
    if (verbosity >= 3) {
        printf(" -> End of TOC: %u\n", u32(s.tell()));
        printf(" -> First file: offset %u\n", lowest);
    }
    printf("Reading files...\n");
    // Packed entries that share their stream (same offset, sizes) share one unpacked copy.
    PtrArray<CrcTreEntry> byOffset(false);
    if (!sortEntries(tre->entries.items, tre->entries.count, SORT_BY_OFFSET, byOffset)) {
        deleteContainer(tre);
        return nullptr;
    }
    for (u32 k = 1; k < byOffset.count; k++) {
        CrcTreEntry* e = byOffset[k];
        const CrcTreEntry* before = byOffset[k - 1];
        if (e->compressed && before->compressed && e->offset == before->offset &&
            e->packedSize == before->packedSize && e->size == before->size)
            e->sharesWith = before->sharesWith ? before->sharesWith : before;
    }
    for (u32 i = 0; i < tre->entries.count; i++) {
        CrcTreEntry* e = tre->entries[i];
        const u32 size = e->size;
        if (interrupted()) {
            deleteContainer(tre);
            return nullptr;
        }
        if (verbosity >= 1)
            printf(" >> %.256s\n", e->storedName);
        const u32 span = e->compressed ? e->packedSize : size;
        if (span && u64(e->offset) + span > fileSize) {
            printError("ERROR: Read failure! (%u bytes @ 0x%X)\n", span, e->offset);
            deleteContainer(tre);
            return nullptr;
        }
        const u8* at = span ? bytes.data + e->offset : nullptr;
        // Views: the archive's bytes, and the unpacked copies the container holds, outlive the
        // entries. A packed entry keeps its stream, written again as it was while unedited.
        const ByteArray* unpacked = e->sharesWith ? e->sharesWith->data : nullptr;
        if (e->compressed && !unpacked) {
            CodecLZSS lzss;
            ByteArray* decoded = lzss.decompress(byteView(at, span), size);
            if (!decoded || !tre->unpacked.push(decoded)) {
                if (!decoded && !memAllocationFailed())
                    printError("ERROR: Decompression of '%.256s' failed!\n", e->storedName);
                deleteByteArray(decoded);
                deleteContainer(tre);
                return nullptr;
            }
            unpacked = decoded;
            if (!chargeUnpacked(decoded->count, e->name)) {
                deleteContainer(tre);
                return nullptr;
            }
            tre->unpackedOwn += decoded->count;
        }
        e->data = unpacked ? newByteView(unpacked->data, unpacked->count) : newByteView(at, span);
        e->stored = e->compressed ? newByteView(at, span) : nullptr;
        if (!e->data || (e->compressed && !e->stored)) {
            deleteContainer(tre);
            return nullptr;
        }
        u32 computed = crcTreNameCrc(e->storedName);
        if (computed != e->crc && verbosity >= 2)
            printf(" --> CRC mismatch! (0x%08X vs 0x%08X)\n", computed, e->crc);
    }
    return tre;
}

void ContainerCRCTRE::list(u32 indent)
{
    u64 total = 0;
    for (CrcTreEntry* e : entries) {
        const u32 size = e->dataSize();
        listEntry(e->name.c_str(), size, nullptr, indent);
        total += size;
    }
    if (indent == 0)
        printListTotal(entries.count, total);
}

u32 ContainerCRCTRE::extract(const String& directory, u32 indent)
{
    if (!makeExtractionDirectory(directory))
        return 0;
    u32 written = 0;
    if (!indexEntries())
        return 0;
    for (u32 i = 0; i < entries.count; i++) {
        if (!extractEntry(directory, index.path(i), nullptr, entries[i]->data, indent, written))
            break;
    }
    if (indent == 0)
        printf("Done. Extracted %u/%u files.\n", written, fileCount());
    return written;
}

u32 ContainerCRCTRE::fileCount()
{
    return entries.count;
}

void ContainerCRCTRE::hashContents(Md5& context, u32 indent)
{
    for (CrcTreEntry* e : entries)
        hashEntry(context, nullptr, e->data, e->name.c_str(), indent);
}

namespace
{
// The files of a repack laid over the archive's entries; entries here are never nested.
class CrcTreRepack : public EntryIndex::Visitor
{
public:
    explicit CrcTreRepack(ContainerCRCTRE& tre) : tre(tre) {}

    bool file(const String&, const String& fullPath, const String& name, const EntryIndex::Match& match,
              u32 indent) override
    {
        ByteArray* bytes = readReplacement(name, fullPath, indent);
        if (!bytes)
            return false;
        // Unchanged bytes keep their place, so an extracted tree repacked without edits gives
        // back the same archive; changed ones move to the front of the data.
        CrcTreEntry* e = tre.entries[match.position];
        if (sameBytes(bytes, e->data)) {
            deleteByteArray(bytes);
            return true;
        }
        deleteByteArray(e->data);
        e->data = bytes;
        e->offset = 0;
        // Edited: packed again when written.
        deleteByteArray(e->stored);
        e->stored = nullptr;
        return true;
    }

    bool add(const String& relativePath, const String& fullPath, const String& name, u32 indent) override
    {
        ByteArray* bytes = readReplacement(name, fullPath, indent, " (NEW FILE)");
        return bytes && tre.addFile(relativePath, name, bytes);
    }

private:
    ContainerCRCTRE& tre;
};
}

bool ContainerCRCTRE::indexEntries()
{
    return index.buildOnce(entries, [](const CrcTreEntry& e, u32) { return EntryIndexRow{e.index, e.name, nullptr}; },
                           nullptr);
}

bool ContainerCRCTRE::repack(const String& directory, const String&, u32 indent)
{
    CrcTreRepack visitor(*this);
    return indexEntries() && index.repack(directory, visitor, indent);
}

bool ContainerCRCTRE::addFile(const String& relativePath, const String& name, ByteArray* bytes)
{
    CrcTreEntry* e = memNew<CrcTreEntry>();
    if (!e || !entries.push(e)) {
        memDelete(e);
        deleteByteArray(bytes);
        return false;
    }
    e->data = bytes;
    // Stored under its path in the tree, so that extracting puts it back where it was found.
    e->ownedName = static_cast<char*>(allocZeroed(CRCTRE_NAME_SIZE));
    if (!e->ownedName)
        return false;
    copyStringBounded(e->ownedName, CRCTRE_NAME_SIZE + 1, relativePath.c_str());
    for (char* c = e->ownedName; *c; c++)
        if (*c == '/')
            *c = '\\';
    e->storedName = e->ownedName;
    e->crc = crcTreNameCrc(e->storedName);
    e->name = displayName(e->storedName);
    // Packed like the first entry of the same extension.
    const String suffix = String(".") + ::getExtension(name);
    for (u32 i = 0; i + 1 < entries.count; i++) {
        if (entries[i]->name.endsWithNoCase(suffix.c_str())) {
            e->compressed = entries[i]->compressed;
            break;
        }
    }
    if (e->compressed && toolOptions().verbosity >= 2)
        printf(" --> Will compress file.\n");
    e->index = entries.count - 1;
    e->offset = 0xFFFFFFFFu;
    return true;
}

ByteArray* ContainerCRCTRE::serialise(ProgressFunction progress, u32 depth)
{
    const u32 n = entries.count;
    if (!withinEntryLimit("A CRC-TRE archive", n, CRCTRE_MAX_FILES, "files"))
        return nullptr;
    const u64 dataStart = CRCTRE_HEADER_SIZE + u64(n) * CRCTRE_ENTRY_SIZE;
    // By offset; among equal offsets a file that takes no bytes goes first. Such a file shares its
    // offset with the data after it, and placing it after that data would move it on every
    // rewrite of an archive the games' writer made.
    PtrArray<CrcTreEntry> bySpace(false);
    PtrArray<CrcTreEntry> dataOrder(false);
    if (!sortEntries(entries.items, n, SORT_BY_SPACE, bySpace) ||
        !sortEntries(bySpace.items, n, SORT_BY_OFFSET, dataOrder))
        return nullptr;
    // Each entry's bytes in the new archive, in data order: an unchanged packed entry's stream as
    // it was stored (nothing is packed again that was not edited), a changed one's new stream
    // (owned here), a stored entry's own bytes. Every byte is then copied once.
    const ByteArray** sources = static_cast<const ByteArray**>(allocZeroed(u64(n + 1) * sizeof(ByteArray*)));
    PtrArray<ByteArray> built(true);
    u64 position = dataStart;
    bool failed = !sources;
    // Unedited entries that shared one stored stream (same place and sizes) still share it: the
    // group's first entry as read and where its stream went.
    const CrcTreEntry* group = nullptr;
    u32 groupReadOffset = 0;
    // What a reopen unpacks: every packed stream written, once however many entries share it.
    u64 unpacks = 0;
    for (u32 i = 0; i < n && !failed; i++) {
        CrcTreEntry* e = dataOrder[i];
        if (interrupted()) {
            failed = true;
            break;
        }
        // Edits and additions moved their entries to offsets no data can have.
        const bool unedited = e->offset != 0 && e->offset != 0xFFFFFFFFu && (!e->compressed || e->stored);
        const u32 readOffset = e->offset;
        if (unedited && group && readOffset == groupReadOffset && e->compressed == group->compressed &&
            e->dataSize() == group->dataSize() && (!e->compressed || e->stored->count == group->stored->count)) {
            e->offset = group->offset;
            e->packedSize = group->packedSize;
            if (progress)
                progress(depth);
            continue;
        }
        group = unedited ? e : nullptr;
        groupReadOffset = readOffset;
        const ByteArray* source = e->data;
        if (e->compressed && e->stored) {
            source = e->stored;
        } else if (e->compressed) {
            static const ByteArray empty;
            CodecLZSS lzss;
            ByteArray* block = lzss.compress(e->data ? *e->data : empty);
            if (!block || !built.push(block)) {
                if (!block && !memAllocationFailed())
                    printError("ERROR: Failed to compress '%s'!\n", e->name.c_str());
                deleteByteArray(block);
                failed = true;
                break;
            }
            source = block;
        }
        if (e->compressed) {
            e->packedSize = source ? source->count : 0;
            unpacks += e->dataSize();
        }
        sources[i] = source;
        e->offset = u32(position);
        position += source ? source->count : 0;
        failed = !archiveSizeFits(position);
        if (progress)
            progress(depth);
    }
    // Equal CRCs (names that differ only in case, or only after their NUL) keep their order in
    // the table: an edit moves an entry's data to the front, but must not put it before the
    // entry that the game finds first.
    PtrArray<CrcTreEntry> tableOrder(false);
    ByteArray* result = nullptr;
    if (!failed && sortEntries(entries.items, n, SORT_BY_CRC, tableOrder))
        result = newByteArray(nullptr, u32(position));
    if (result) {
        u8* at = result->data;
        putU32LE(at, n);
        *at++ = flags;
        memset(at, 0, 11);
        at += 11;
        for (CrcTreEntry* e : tableOrder) {
            putU32LE(at, e->crc);
            putU32LE(at, e->dataSize());
            putU32LE(at, e->offset);
            putU32LE(at, e->compressed ? e->packedSize : 0);
            memcpy(at, e->storedName, CRCTRE_NAME_SIZE);
            at += CRCTRE_NAME_SIZE;
        }
        putEach(at, sources, n);
        unpackedOwn = unpacks;
    }
    memFree(sources);
    return result;
}
