#include "tool/containers/ContainerXTRE.h"
#include "framework/core/ByteBuffer.h"
#include "framework/core/TextUtils.h"
#include "framework/io/FileStream.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/containers/EntryIndex.h"
#include "tool/containers/RadixSorter.h"
#include "tool/containers/XtreNames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 HEADER_SIZE = 24;
constexpr u32 DESCRIPTOR_SIZE = 8;
constexpr u32 SIZE_MASK = 0x3FFFFFFFu;
constexpr u32 FLAG_MASK = 0xC0000000u;

// A little-endian u32 at pos, 0 when it is not wholly inside the bytes.
u32 wordAt(const ByteArray& bytes, u64 pos)
{
    if (!bytes.data || pos + 4 > bytes.count)
        return 0;
    const u8* p = bytes.data + pos;
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

void putWord(u8* p, u32 v)
{
    p[0] = u8(v);
    p[1] = u8(v >> 8);
    p[2] = u8(v >> 16);
    p[3] = u8(v >> 24);
}


// The writer lays blocks out in descriptor order: each descriptor's span runs to the next
// descriptor's data offset, so only that order gives every span back its own block.
u32 writeOrderKey(const XtreEntry* e)
{
    return e->sortFlag ? e->index : e->descriptorPosition;
}

// A RefPack stream is told from an LZWX one by its first command, which must be a literal run
// or a stop (first byte 0xE0 and up). A stream that starts with a match gets four literals in
// front and the rest packed on its own.
ByteArray* packRefPack(const ByteArray& data)
{
    CodecRefPack codec;
    ByteArray* packed = codec.compress(data);
    if (!packed || packed->count == 0 || (packed->data[0] & 0xE0) == 0xE0 || data.count < 4)
        return packed;
    deleteByteArray(packed);
    ByteArray rest(data.data + 4, data.count - 4);
    ByteArray* tail = codec.compress(rest);
    if (!tail)
        return nullptr;
    ByteBuffer out(tail->count + 5);
    out.writeU8(0xE0);
    out.write(data.data, 4);
    out.write(tail->data, tail->count);
    deleteByteArray(tail);
    return out.ok() ? out.toArray() : nullptr;
}

}

namespace
{
void quietProgress(u32)
{
}

bool digestOf(const ByteArray& bytes, u8 digest[16])
{
    Md5 md5;
    for (u64 at = 0; at < bytes.count;) {
        const u32 chunk = bytes.count - at > (1u << 20) ? (1u << 20) : u32(bytes.count - at);
        md5.update(bytes.data + at, chunk);
        at += chunk;
    }
    md5.final(digest);
    return true;
}

// The digest of what the container writes now, without its detail lines; false when it cannot.
bool childDigest(Container& child, u8 digest[16])
{
    ToolOptions& options = toolOptions();
    const u32 verbosity = options.verbosity;
    options.verbosity = 0;
    ByteArray* bytes = child.serialise(quietProgress, 0);
    options.verbosity = verbosity;
    const bool ok = bytes && digestOf(*bytes, digest);
    deleteByteArray(bytes);
    return ok;
}
}

// One entry's bytes in a written archive.
struct XtreBlock
{
    XtreEntry* entry;
    ByteArray* owned; // newly built bytes, or null for the bytes as loaded
    const u8* bytes;
    u32 length;
    u32 sizeWord;
    u32 position;
};

XtreEntry::~XtreEntry()
{
    deleteByteArray(data);
    deleteByteArray(raw);
    deleteContainer(nested);
}

void XtreEntry::replaceData(ByteArray* bytes)
{
    if (sameBytes(bytes, data)) {
        deleteByteArray(bytes);
        return;
    }
    deleteByteArray(data);
    deleteByteArray(raw);
    raw = nullptr;
    data = bytes;
    storedSize = unpackedSize = dataSize();
    modified = 1;
}

String mapXtrePath(const String& name)
{
    String s(name);
    s.replaceChar('\\', '/');
    for (const char* pattern : {"../", "./"}) {
        i64 at;
        while ((at = s.indexOf(pattern)) >= 0) {
            String rest = s.from(u64(at) + strlen(pattern));
            s = s.left(u64(at)) + rest;
        }
    }
    if (s.startsWith("DATA/"))
        s = s.from(5);
    i64 colon = s.indexOf(':');
    if (colon >= 0)
        s = s.from(u64(colon) + 1);
    if (toolOptions().verbosity >= 5)
        printf("'%s' -> '%s'\n", name.c_str(), s.c_str());
    return s;
}

ContainerXTRE::ContainerXTRE(const String& name, const ByteArray& bytes) : Container(name, String(), CONTAINER_XTRE)
{
    // The entries' bytes stay where they are: the archive's bytes outlive the container.
    archive = newByteView(bytes.data, bytes.count);
}

ContainerXTRE::~ContainerXTRE()
{
    deleteByteArray(archive);
}

bool ContainerXTRE::probe(const String&, const ByteArray& bytes)
{
    return hasMagic(bytes, "XTRE");
}

XtreEntry* ContainerXTRE::readDescriptor(u32 position, const String& name, u32 hash, u8 fromClashTable, u32 index)
{
    const u32 verbosity = toolOptions().verbosity;
    const u64 p = position;
    const u64 fileSize = archive->count;
    // Descriptors sit on their 8-byte grid inside their own region; the writer rewrites them
    // in place, so one elsewhere would overwrite the header or the tables.
    if (p + DESCRIPTOR_SIZE > d || p < c || (p - c) % DESCRIPTOR_SIZE) {
        printError("ERROR: Bad XTRE file descriptor offset!\n");
        return nullptr;
    }
    const u32 dataOffset = wordAt(*archive, p);
    const u32 sizeWord = wordAt(*archive, p + 4);
    const u32 unpacked = sizeWord & SIZE_MASK;
    const bool hasNext = p + DESCRIPTOR_SIZE + 4 <= d;
    const u64 next = hasNext ? wordAt(*archive, p + DESCRIPTOR_SIZE) : fileSize;
    if (dataOffset < d || dataOffset >= fileSize || next <= dataOffset || next > fileSize) {
        printError("ERROR: Bad XTRE file data offset!\n");
        return nullptr;
    }
    const u32 span = u32(next - dataOffset);
    XtreEntry* e = memNew<XtreEntry>();
    if (!e)
        return nullptr;
    e->name = name;
    e->hash = hash;
    e->fromClashTable = fromClashTable;
    e->index = index;
    e->dataOffset = dataOffset;
    e->storedSpan = span;
    e->sizeWord = sizeWord;
    e->unpackedSize = unpacked;
    e->descriptorPosition = position;
    e->hasNextDescriptor = hasNext ? 1 : 0;
    if (span <= unpacked) {
        e->storedSize = span;
        if (span == unpacked)
            e->type = 0;
        else
            e->type = (archive->data[dataOffset] & 0xE0) == 0xE0 ? 1 : 2;
        return e;
    }
    e->storedSize = unpacked;
    if (version == 1)
        return e;
    if (verbosity >= 1)
        printf("Blank file found and ignored! Expected for the Japanese game III.\n");
    e->blank = 1;
    if (!blanks.push(e))
        memDelete(e);
    return nullptr;
}

void ContainerXTRE::resolveNames()
{
    XtreNameResolver resolver(version, path);
    for (XtreEntry* e : entries)
        resolver.resolve(e->name);
}

Container* ContainerXTRE::open(const String& name, const ByteArray& bytes)
{
    const u32 verbosity = toolOptions().verbosity;
    const u64 fileSize = bytes.data ? bytes.count : 0;
    if (verbosity >= 1)
        printf("File size: %u\n", u32(fileSize));
    if (fileSize < HEADER_SIZE) {
        printError("ERROR: This doesn't seem to be a valid XTRE file!\n");
        return nullptr;
    }
    const u32 version = wordAt(bytes, 4);
    if (version == 0) {
        if (verbosity >= 1)
            printf("Game III XTRE file.\n");
    } else if (version == 1) {
        if (verbosity >= 1)
            printf("Game IV XTRE file.\n");
    } else {
        printError("ERROR: Unknown XTRE version (%u).\n", version);
        return nullptr;
    }
    const u32 a = wordAt(bytes, 8), b = wordAt(bytes, 12), c = wordAt(bytes, 16), d = wordAt(bytes, 20);
    if (a < HEADER_SIZE || a > b || b > c || c > d || d > fileSize || (b - a) % 8 || b - a < 8) {
        printError("ERROR: This doesn't seem to be a valid XTRE file!\n");
        return nullptr;
    }
    ContainerXTRE* x = memNew<ContainerXTRE>(name, bytes);
    if (!x || !x->archive || x->archive->count != fileSize) {
        deleteContainer(x);
        return nullptr;
    }
    x->version = version;
    x->a = a;
    x->b = b;
    x->c = c;
    x->d = d;
    x->hashSlotCount = (b - a) / 8;
    if (!x->readTables()) {
        deleteContainer(x);
        return nullptr;
    }
    x->resolveNames();
    // Slots that name one descriptor share its unpacked copy.
    if (x->entries.count) {
        for (XtreEntry* e : x->entries)
            e->sortFlag = 0;
        RadixSorter sorter(x->entries.count);
        XtreEntry** byDescriptor = sorter.sortAs<XtreEntry>(x->entries.items, x->entries.count, writeOrderKey);
        if (!byDescriptor) {
            deleteContainer(x);
            return nullptr;
        }
        for (u32 k = 1; k < x->entries.count; k++)
            if (byDescriptor[k]->descriptorPosition == byDescriptor[k - 1]->descriptorPosition)
                byDescriptor[k]->sharesWith = byDescriptor[k - 1]->sharesWith ? byDescriptor[k - 1]->sharesWith
                                                                                : byDescriptor[k - 1];
    }
    printf("Reading files...\n");
    for (XtreEntry* e : x->entries) {
        if (interrupted() || !x->unpack(*e)) {
            deleteContainer(x);
            return nullptr;
        }
        if (verbosity >= 1)
            printf(" >> %s (%u bytes%s)\n", e->name.c_str(), e->dataSize(), e->type ? ", compressed" : "");
        NestingScope scope;
        e->nested = detectContainer(e->name, *e->data);
    }
    return x;
}

bool ContainerXTRE::readTables()
{
    const u32 verbosity = toolOptions().verbosity;
    const ByteArray& bytes = *archive;
    // Clash tables are read after every slot, in ascending order.
    u32* tables = static_cast<u32*>(memAlloc(u64(hashSlotCount) * sizeof(u32)));
    if (!tables)
        return false;
    u32 tableCount = 0;
    for (u32 slot = 0; slot < hashSlotCount; slot++) {
        const u64 at = u64(a) + u64(slot) * 8;
        const u32 hash = wordAt(bytes, at);
        const u32 offset = wordAt(bytes, at + 4);
        if (hash == 0)
            continue;
        if (b == c || offset >= c) {
            XtreEntry* e = readDescriptor(offset, String::format("0x%08x", hash), hash, 0, entries.count);
            if (e && !entries.push(e)) {
                memDelete(e);
                memFree(tables);
                return false;
            }
            continue;
        }
        if (offset < b) {
            printError("ERROR: Bad XTRE clash table offset!\n");
            memFree(tables);
            return false;
        }
        tables[tableCount++] = offset;
    }
    std::stable_sort(tables, tables + tableCount);
    for (u32 t = 0; t < tableCount; t++) {
        const u64 end = t + 1 < tableCount ? tables[t + 1] : c;
        u64 pos = tables[t];
        u32 records = 0;
        while (pos < end) {
            const u32 nameLength = bytes.data[pos];
            if (pos + 1 + nameLength + 4 > end)
                break;
            String clashName;
            for (u32 i = 0; i < nameLength; i++) {
                const char ch = char(bytes.data[pos + 1 + i]);
                if (ch)
                    clashName.append(ch);
            }
            const u32 descriptor = wordAt(bytes, pos + 1 + nameLength);
            if (verbosity >= 3)
                printf("Clashing file: '%s'\n", clashName.c_str());
            XtreEntry* e = readDescriptor(descriptor, clashName, 0, 1, entries.count);
            if (e && !entries.push(e)) {
                memDelete(e);
                memFree(tables);
                return false;
            }
            records++;
            pos += 1 + nameLength + 4;
        }
        if (verbosity >= 3)
            printf("Resolved clash into %u files.\n", records);
    }
    memFree(tables);
    return true;
}

bool ContainerXTRE::unpack(XtreEntry& e)
{
    // Views: the archive's bytes, and the unpacked copies the container holds, outlive the
    // entries.
    const u8* stored = archive->data + e.dataOffset;
    if (e.type == 0) {
        e.data = newByteView(stored, e.storedSize);
        return e.data != nullptr;
    }
    e.raw = newByteView(stored, e.storedSize);
    if (!e.raw)
        return false;
    if (e.sharesWith && e.sharesWith->data) {
        e.data = newByteView(e.sharesWith->data->data, e.sharesWith->data->count);
        return e.data != nullptr;
    }
    ByteArray* decoded;
    if (e.type == 1) {
        CodecRefPack codec;
        decoded = codec.decompress(*e.raw, e.unpackedSize);
    } else {
        decoded = decompressLZWX(*e.raw, e.unpackedSize);
    }
    if (!decoded) {
        if (!memAllocationFailed())
            printError("ERROR: Decompression of '%s' failed! (%u bytes @ 0x%08X -> %u bytes)\n", e.name.c_str(),
                   e.storedSize, e.dataOffset, e.unpackedSize);
        return false;
    }
    if (decoded->count != e.unpackedSize) {
        printError("ERROR: Decompression of '%s' produced %u bytes; expected %u. (%u bytes @ 0x%08X)\n", e.name.c_str(),
               decoded->count, e.unpackedSize, e.storedSize, e.dataOffset);
        deleteByteArray(decoded);
        return false;
    }
    if (!unpacked.push(decoded)) {
        deleteByteArray(decoded);
        return false;
    }
    e.data = newByteView(decoded->data, decoded->count);
    unpackedOwn += decoded->count;
    return e.data != nullptr && chargeUnpacked(decoded->count, e.name);
}

void ContainerXTRE::list(u32 indent)
{
    u64 total = 0;
    for (XtreEntry* e : entries) {
        const u32 size = e->dataSize();
        listEntry(mapXtrePath(e->name).c_str(), size, e->nested, indent);
        total += size;
    }
    if (indent == 0)
        printListTotal(entries.count, total);
}

u32 ContainerXTRE::extract(const String& directory, u32 indent)
{
    if (!makeExtractionDirectory(directory))
        return 0;
    u32 written = 0;
    if (!indexEntries())
        return 0;
    for (u32 i = 0; i < entries.count; i++) {
        const XtreEntry* e = entries[i];
        if (!extractEntry(directory, index.path(i), e->nested, e->data, indent, written))
            break;
    }
    if (indent == 0)
        printf("Done. Extracted %u/%u files.\n", written, fileCount());
    return written;
}

u32 ContainerXTRE::fileCount()
{
    return countLeafFiles(entries);
}

void ContainerXTRE::hashContents(Md5& context, u32 indent)
{
    for (XtreEntry* e : entries)
        hashEntry(context, e->nested, e->data, e->name.c_str(), indent);
}

namespace
{
// The files and folders of a repack laid over the archive's entries. An XTRE archive takes no
// new entries: a file without one ends the repack.
class XtreRepack : public EntryIndex::Visitor
{
public:
    explicit XtreRepack(ContainerXTRE& x) : x(x) {}

    bool add(const String& relativePath, const String& fullPath, const String&, u32) override
    {
        missing(relativePath, fullPath);
        printError("ERROR: Adding new files to XTRE containers is not supported.\n");
        return false;
    }

    bool file(const String& relativePath, const String& fullPath, const String& name, const EntryIndex::Match& match,
              u32 indent) override
    {
        XtreEntry* e = x.entries[match.position];
        if (match.as == FORM_DOCUMENT) {
            // A document is converted back by its own container.
            if (!repackDocument(*e->nested, name, "(Container File)", fullPath, relativePath, indent))
                return false;
            e->modified = 1;
            return true;
        }
        ByteArray* bytes = readReplacement(name, fullPath, indent);
        if (!bytes)
            return false;
        e->replaceData(bytes);
        if (e->modified && e->nested) {
            // The parsed child no longer stands for the entry's bytes.
            deleteContainer(e->nested);
            e->nested = nullptr;
        }
        return true;
    }

    bool child(const String& relativePath, const String& fullPath, const String& name, const EntryIndex::Match& match,
               u32 indent) override
    {
        XtreEntry* e = x.entries[match.position];
        // The writer keeps the stored bytes of a child that comes back as it was: as its old bytes,
        // or, for a child that does not rebuild to them (a damaged one), as it rebuilt before.
        e->hasBaseline = childDigest(*e->nested, e->baseline) ? 1 : 0;
        e->modified = 1;
        return repackChild(*e->nested, name, fullPath, relativePath, indent);
    }

private:
    ContainerXTRE& x;
};
}

bool ContainerXTRE::indexEntries()
{
    return index.buildOnce(
        entries, [](const XtreEntry& e, u32) { return EntryIndexRow{e.index, mapXtrePath(e.name), e.nested}; }, nullptr);
}

bool ContainerXTRE::repack(const String& directory, const String&, u32 indent)
{
    XtreRepack visitor(*this);
    return indexEntries() && index.repack(directory, visitor, indent);
}

ByteArray* ContainerXTRE::serialise(ProgressFunction progress, u32 depth)
{
    // Entries and blank files together, in descriptor order (equal positions keep reading order).
    const u32 total = entries.count + blanks.count;
    XtreEntry** all = static_cast<XtreEntry**>(memAlloc(u64(total ? total : 1) * sizeof(XtreEntry*)));
    XtreBlock* blocks = static_cast<XtreBlock*>(allocZeroed(u64(total ? total : 1) * sizeof(XtreBlock)));
    RadixSorter sorter(total);
    XtreEntry** ordered = nullptr;
    if (all && blocks) {
        for (u32 i = 0; i < total; i++) {
            all[i] = i < entries.count ? entries[i] : blanks[i - entries.count];
            all[i]->sortFlag = 0;
        }
        ordered = sorter.sortAs<XtreEntry>(all, total, writeOrderKey);
    }
    bool failed = !ordered && total;
    u32 blockCount = 0;
    u64 position = d;
    for (u32 i = 0; i < total && !failed; i++) {
        XtreEntry* e = ordered[i];
        if (interrupted()) {
            failed = true;
            break;
        }
        ByteArray* rebuilt = nullptr;
        bool asLoaded = !e->modified;
        if (e->modified && e->nested) {
            rebuilt = e->nested->serialise(progress, depth + 1);
            if (!rebuilt) {
                failed = true;
                break;
            }
            u8 digest[16];
            asLoaded = sameBytes(rebuilt, e->data) ||
                       (e->hasBaseline && digestOf(*rebuilt, digest) && memcmp(digest, e->baseline, 16) == 0);
        } else if (e->nested) {
            for (u32 k = e->nested->fileCount(); k; k--)
                progress(depth + 1);
        } else if (!e->blank) {
            progress(depth);
        }
        // Two slots naming one descriptor share its block; a changed one takes it over.
        if (blockCount && blocks[blockCount - 1].entry->descriptorPosition == e->descriptorPosition) {
            if (asLoaded) {
                deleteByteArray(rebuilt);
                continue;
            }
            blockCount--;
            position -= blocks[blockCount].length;
            deleteByteArray(blocks[blockCount].owned);
            blocks[blockCount] = XtreBlock();
        }
        XtreBlock& blk = blocks[blockCount];
        blk.entry = e;
        if (asLoaded) {
            blk.bytes = archive->data + e->dataOffset;
            blk.length = e->storedSpan;
            blk.sizeWord = e->sizeWord;
        } else {
            static const ByteArray nothing;
            const ByteArray& content = rebuilt ? *rebuilt : e->data ? *e->data : nothing;
            failed = !encodeChanged(*e, content, blk);
        }
        deleteByteArray(rebuilt);
        if (failed)
            break;
        blk.position = u32(position);
        position += blk.length;
        blockCount++;
        failed = !archiveSizeFits(position);
    }

    ByteArray* result = nullptr;
    if (!failed) {
        ByteBuffer out{u32(position)};
        out.write(archive->data, d);
        for (u32 i = 0; i < blockCount; i++)
            out.write(blocks[i].bytes, blocks[i].length);
        if (out.ok())
            result = out.release();
    }
    u64 unpacks = 0;
    for (u32 i = 0; result && i < blockCount; i++) {
        const XtreBlock& blk = blocks[i];
        // A block shorter than its size is a packed stream, which a reopen unpacks (once for all
        // the slots that name its descriptor).
        const u32 size = blk.sizeWord & SIZE_MASK;
        unpacks += blk.length < size ? size : 0;
        u8* descriptor = result->data + blk.entry->descriptorPosition;
        putWord(descriptor, blk.position);
        putWord(descriptor + 4, blk.sizeWord);
        // The following descriptor's offset closes this block's span, also after the last
        // block: a descriptor no slot names would otherwise keep an offset from the old file.
        if (blk.entry->hasNextDescriptor)
            putWord(descriptor + DESCRIPTOR_SIZE, blk.position + blk.length);
    }
    if (result)
        unpackedOwn = unpacks;
    for (u32 i = 0; blocks && i < blockCount; i++)
        deleteByteArray(blocks[i].owned);
    memFree(blocks);
    memFree(all);
    return result;
}

bool ContainerXTRE::encodeChanged(const XtreEntry& e, const ByteArray& content, XtreBlock& blk)
{
    const u32 length = content.count;
    const u32 flags = e.sizeWord & FLAG_MASK;
    if (length > SIZE_MASK) {
        printError("ERROR: '%s' is too large for an XTRE archive!\n", e.name.c_str());
        return false;
    }
    if (length == 0) {
        // A version 0 descriptor cannot describe an empty file: it would read back as blank.
        if (version == 0) {
            printError("ERROR: Empty files can't be stored in this XTRE archive: '%s'!\n", e.name.c_str());
            return false;
        }
        // One spare byte: a span longer than the size reads back as an empty plain file.
        blk.owned = memNew<ByteArray>(u32(1));
        if (blk.owned && blk.owned->data)
            blk.owned->data[0] = 0;
        blk.sizeWord = e.type == 0 ? flags : 0;
    } else {
        ByteArray* packed = e.type == 1 ? packRefPack(content) : e.type == 2 ? compressLZWX(content) : nullptr;
        if (packed && packed->count < length) {
            blk.owned = packed;
            blk.sizeWord = flags | length;
        } else {
            // Plain after all; only plain entries keep the flag bits then.
            deleteByteArray(packed);
            blk.owned = memNew<ByteArray>(content);
            blk.sizeWord = e.type == 0 ? flags | length : length;
        }
    }
    if (!blk.owned || !blk.owned->data)
        return false;
    blk.bytes = blk.owned->data;
    blk.length = blk.owned->count;
    return true;
}
