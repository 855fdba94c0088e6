#include "tool/containers/ContainerPAK.h"
#include "framework/core/ByteBuffer.h"
#include "framework/io/DirectoryTree.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZW.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 PAK_MAX_ENTRIES = 1000;
constexpr u64 PAK_OFFSET_LIMIT = 1u << 24;
constexpr u32 PAK_TINY_SIZE = 12;

const char* const terrainExtensions[] = {".IFF", ".ELV", ".MED", ".LOW", ".TRI", ".OBJ", ".AVG"};

u32 wordAt(const ByteArray& bytes, u64 at)
{
    if (at + 4 > bytes.count)
        return 0;
    const u8* p = bytes.data + at;
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

bool textAt(const ByteArray& bytes, u64 at, const char text[4])
{
    return at + 4 <= bytes.count && memcmp(bytes.data + at, text, 4) == 0;
}

// The first word is the entry's size and the second carries a PAK flag byte.
bool hasNestedPakShape(const ByteArray& bytes)
{
    u8 top = u8(wordAt(bytes, 4) >> 24);
    return wordAt(bytes, 0) == bytes.count && (top == 0x20 || top == 0xA0 || top == 0xE0 || top == 0xFF);
}

u8 variantFromName(const String& name)
{
    // Compared on the file name alone, so a bare "SPEECH.PAK" is known as well as a path.
    String file = getFileName(name);
    if (name.endsWithNoCase(".VPK") || name.endsWithNoCase(".VPF") || file.equalsNoCase("DSOUNDFX.PAK") ||
        file.equalsNoCase("SPEECH.PAK"))
        return 2;
    for (const char* suffix : {".MPK", ".ADL", ".MID", ".ROL", ".GEN"})
        if (name.endsWithNoCase(suffix))
            return 3;
    return 0;
}

const char* methodLabel(u8 method)
{
    switch (method) {
    case PAK_LZW:
        return "(LZW)";
    case PAK_REFPACK:
        return "(RefPack)";
    case PAK_IMPLODE:
        return "(Implode)";
    default:
        return "";
    }
}

// Unpacks a packed entry: a u32 unpacked size, then the codec stream. Null when it does not decode.
ByteArray* unpackEntry(const ByteArray& stored, u8 method)
{
    u32 expected = wordAt(stored, 0);
    const ByteArray stream = byteView(stored.data + 4, stored.count - 4);
    if (method == PAK_LZW) {
        CodecLZW codec;
        return codec.decompress(stream, expected);
    }
    CodecImplode codec;
    return codec.decompress(stream, expected);
}

// The stored form of bytes under a method: their count, then the codec's stream.
ByteArray* packEntry(const ByteArray& content, u8 method)
{
    ByteArray* packed = nullptr;
    if (method == PAK_LZW) {
        CodecLZW codec;
        packed = codec.compress(content);
    } else if (method == PAK_REFPACK) {
        CodecRefPack codec;
        packed = codec.compress(content);
    } else if (method == PAK_IMPLODE) {
        CodecImplode codec;
        packed = codec.compress(content);
    }
    if (!packed)
        return nullptr;
    ByteBuffer out(packed->count + 4);
    out.writeU32(content.count);
    out.write(packed->data, packed->count);
    deleteByteArray(packed);
    return out.ok() ? out.toArray() : nullptr;
}

String nameBeforeFirstDot(const String& name)
{
    i64 dot = name.indexOf('.');
    return dot < 0 ? name : name.left(u64(dot));
}

}

i64 fileEntryIndex(const String& fileName)
{
    u64 digits = 0;
    while (digits < fileName.length && fileName[digits] >= '0' && fileName[digits] <= '9')
        digits++;
    const char after = fileName[digits];
    if (digits == 0 || digits > 9 || (after && after != '.' && after != '['))
        return -1;
    i64 value = 0;
    for (u64 i = 0; i < digits; i++)
        value = value * 10 + (fileName[i] - '0');
    return value;
}

PakEntry::~PakEntry()
{
    deleteByteArray(content);
    deleteByteArray(archiveBytes);
    deleteContainer(nested);
    deleteByteArray(nestedImage);
}

ContainerPAK::ContainerPAK(const String& name) : Container(name, String(), CONTAINER_PAK)
{
}

ContainerPAK::~ContainerPAK()
{
    deleteByteArray(keptBytes);
}

bool ContainerPAK::detect(const String& name, const ByteArray& bytes)
{
    static const char* const suffixes[] = {".PAK", ".VPK", ".VPF", ".MPK", ".ELV", ".ROL",
                                           ".GEN", ".ADL", ".TRI", ".MID", ".PAL"};
    bool named = false;
    for (const char* suffix : suffixes)
        named = named || name.endsWithNoCase(suffix);
    if (!named)
        return false;
    u64 word = wordAt(bytes, 0);
    return word == bytes.count || word + 1 == bytes.count;
}

Container* ContainerPAK::open(const String& name, const ByteArray& bytes)
{
    const u64 size = bytes.count;
    u64 sizeWord = wordAt(bytes, 0);
    if (sizeWord != size && sizeWord + 1 != size) {
        printError("ERROR: Aborted '%s' - not a (recognised) PAK! (Bad size!)\n", name.c_str());
        return nullptr;
    }
    u8 variant = variantFromName(name);
    if (size <= PAK_TINY_SIZE) {
        ContainerPAK* pak = memNew<ContainerPAK>(name);
        if (pak)
            pak->keptBytes = newByteView(bytes.data, bytes.count);
        if (pak && !pak->keptBytes) {
            deleteContainer(pak);
            return nullptr;
        }
        return pak;
    }
    const u32 first = wordAt(bytes, 4) & 0xFFFFFF;
    i64 paktAt = i64(first < size ? first : size) - 8;
    if (paktAt < 8)
        paktAt = 0;
    if (textAt(bytes, u64(paktAt), "PAKT")) {
        printError("ERROR: Aborted '%s' - PAKT not yet supported!\n", name.c_str());
        return nullptr;
    }
    const u32 count = first / 4 - 1;
    if (count >= PAK_MAX_ENTRIES) {
        printError("ERROR: Aborted '%s' - not a (recognised) PAK! (Too many entries!)\n", name.c_str());
        return nullptr;
    }
    // The first entry would begin inside its own offset word: not a table at all.
    if (count == 0) {
        printError("ERROR: Aborted '%s' - not a (recognised) PAK! (No entries!)\n", name.c_str());
        return nullptr;
    }
    u32 offsets[PAK_MAX_ENTRIES];
    u8 flags[PAK_MAX_ENTRIES];
    bool implodeFlag = false;
    for (u32 i = 0; i < count; i++) {
        u32 word = wordAt(bytes, 4 + 4 * u64(i));
        offsets[i] = word & 0xFFFFFF;
        flags[i] = u8(word >> 24);
        implodeFlag = implodeFlag || flags[i] == PAK_FLAG_IMPLODE;
        if (offsets[i] > size) {
            printError("ERROR: Aborted '%s' - not a (recognised) PAK! (Offset out of range!)\n", name.c_str());
            return nullptr;
        }
    }
    if (variant == 0) {
        if (implodeFlag) {
            variant = 5;
            if (toolOptions().verbosity >= 1)
                printf("Implode PAK detected.\n");
        } else {
            for (u32 i = 0; i + 1 < count; i++) {
                if (textAt(bytes, offsets[i], "FORM") && textAt(bytes, u64(offsets[i]) + 8, "TERA")) {
                    variant = 1;
                    break;
                }
            }
        }
    }
    ContainerPAK* pak = memNew<ContainerPAK>(name);
    if (!pak)
        return nullptr;
    pak->variant = variant;
    MemoryStream stream(bytes);
    for (u32 i = 0; i < count; i++) {
        if (interrupted()) {
            deleteContainer(pak);
            return nullptr;
        }
        u64 end = i + 1 < count ? offsets[i + 1] : size;
        // Offsets that go backwards leave the entry empty rather than wrapping its size.
        u32 length = end > offsets[i] ? u32(end - offsets[i]) : 0;
        // Null only when memory ran out, which the caller reports.
        PakEntry* e = pak->readEntry(stream, offsets[i], i, length, flags[i]);
        if (!e || !pak->entries.push(e)) {
            memDelete(e);
            deleteContainer(pak);
            return nullptr;
        }
    }
    return pak;
}

PakEntry* ContainerPAK::readEntry(MemoryStream& stream, u32 offset, u32 index, u32 size, u8 flag)
{
    const String& archiveName = path;
    stream.seek(offset);
    if (size > stream.bytesLeft())
        size = u32(stream.bytesLeft());
    PakEntry* e = memNew<PakEntry>();
    if (!e)
        return nullptr;
    e->flag = flag;
    e->offset = offset;
    // Views: the archive's bytes, and the unpacked copies the container holds, outlive the
    // entries.
    e->archiveBytes = newByteView(stream.data + stream.position, size);
    if (!e->archiveBytes) {
        memDelete(e);
        return nullptr;
    }
    String name = String::format("%03u", index);
    if (size < 4) {
        e->content = newByteView(e->archiveBytes->data, size);
        e->name = name;
        if (!e->content) {
            memDelete(e);
            return nullptr;
        }
    } else {
        const ByteArray& stored = *e->archiveBytes;
        const bool shaped = hasNestedPakShape(stored);
        u8 method = PAK_STORED;
        if (flag == PAK_FLAG_LZW && !(variant == 2 && shaped))
            method = PAK_LZW;
        else if (flag == PAK_FLAG_IMPLODE && variant != 1 && variant != 2)
            method = PAK_IMPLODE;
        e->method = method;
        // Entries that share their stored bytes share one unpacked copy.
        for (const PakEntry* other : entries) {
            if (method != PAK_STORED && other->method == method && !other->keptStored && other->offset == offset &&
                other->archiveBytes && other->archiveBytes->count == size && other->content) {
                e->content = newByteView(other->content->data, other->content->count);
                if (!e->content) {
                    memDelete(e);
                    return nullptr;
                }
                break;
            }
        }
        if (method != PAK_STORED && !e->content) {
            ByteArray* decoded = unpackEntry(stored, method);
            if (decoded && !unpacked.push(decoded)) {
                deleteByteArray(decoded);
                memDelete(e);
                return nullptr;
            }
            if (decoded && !chargeUnpacked(decoded->count, name)) {
                memDelete(e);
                return nullptr;
            }
            unpackedOwn += decoded ? decoded->count : 0;
            if (decoded)
                e->content = newByteView(decoded->data, decoded->count);
            if (decoded && !e->content) {
                memDelete(e);
                return nullptr;
            }
        }
        const bool unpacked = e->content != nullptr;
        if (!unpacked) {
            e->content = newByteView(stored.data, stored.count);
            e->keptStored = method != PAK_STORED;
            if (!e->content) {
                memDelete(e);
                return nullptr;
            }
        }
        String extension;
        switch (variant) {
        case 1:
            extension = index < 7 ? terrainExtensions[index] : ".???";
            break;
        case 2:
            if (flag == PAK_FLAG_UNKNOWN)
                name += "[???]";
            if (shaped)
                extension = ".VPK";
            else if (method == PAK_LZW && unpacked && e->content->count >= 20 &&
                     memcmp(e->content->data, "Creative Voice File\x1A", 20) == 0)
                extension = ".VOC";
            break;
        case 3:
            extension = hasNestedPakShape(*e->content) ? ".MPK" : ".XMI";
            break;
        default: {
            MemoryStream content(*e->content);
            extension = guessEntryName(content, e->content->count, archiveName);
            break;
        }
        }
        e->name = name + extension;
    }
    NestingScope scope;
    e->nested = detectContainer(e->name, *e->content);
    return e;
}

void ContainerPAK::list(u32 indent)
{
    u64 total = 0;
    for (PakEntry* e : entries) {
        const u32 size = e->contentSize();
        listEntry(e->name.c_str(), size, e->nested, indent);
        total += size;
    }
    if (indent == 0)
        printListTotal(entries.count, total);
}

bool ContainerPAK::indexEntries()
{
    // An entry's place in the table is its number.
    return index.buildOnce(entries, [](const PakEntry& e, u32 i) { return EntryIndexRow{i, e.name, e.nested}; },
                           nullptr);
}

u32 ContainerPAK::extract(const String& directory, u32 indent)
{
    if (!makeExtractionDirectory(directory) || !indexEntries())
        return 0;
    u32 written = 0;
    for (u32 i = 0; i < entries.count; i++) {
        PakEntry* e = entries[i];
        if (!extractEntry(directory, index.path(i), e->nested, e->content, indent, written))
            break;
    }
    if (indent == 0)
        printf("Done. Extracted %u/%u files.\n", written, fileCount());
    return written;
}

namespace
{
// The files and folders of a repack laid over the archive's entries. Entries have no names of
// their own: a file stands for one only under the exact name extraction gives it (or that name
// in another case), so a backup copy beside it ("001.orig") is a file with no entry.
class PakRepack : public EntryIndex::Visitor
{
public:
    explicit PakRepack(ContainerPAK& pak) : pak(pak), tableSize(pak.entries.count) {}

    bool file(const String& relativePath, const String& fullPath, const String& name, const EntryIndex::Match& match,
              u32 indent) override
    {
        PakEntry* e = pak.entries[match.position];
        if (match.as == FORM_DOCUMENT)
            return repackDocument(*e->nested, nameBeforeFirstDot(name), "(Container)", fullPath, relativePath, indent);
        // Raw bytes, also of an archive extracted as one file.
        ByteArray* bytes = readReplacement(nameBeforeFirstDot(name), fullPath, indent, "", "packet file ");
        if (!bytes)
            return false;
        if (sameBytes(bytes, e->content)) {
            deleteByteArray(bytes);
            return true;
        }
        deleteByteArray(e->content);
        e->content = bytes;
        e->changed = 1;
        // The user's bytes now, packed when written whatever the stored ones did.
        e->keptStored = 0;
        // The parsed child no longer stands for the entry's bytes.
        deleteContainer(e->nested);
        e->nested = nullptr;
        return true;
    }

    bool child(const String& relativePath, const String& fullPath, const String& name, const EntryIndex::Match& match,
               u32 indent) override
    {
        return repackChild(*pak.entries[match.position]->nested, nameBeforeFirstDot(name), fullPath, relativePath,
                           indent);
    }

    // A number past the table names a new entry; anything else is a file a PAK cannot place.
    // Only files at the archive's own level come here: the walk enters no folder of a PAK's.
    bool add(const String& relativePath, const String& fullPath, const String& name, u32 indent) override
    {
        const i64 number = fileEntryIndex(name);
        if (number < i64(tableSize)) {
            printError("ERROR: File '%s' can't be added: a PAK adds only files named by a number past its last "
                       "entry!\n",
                       relativePath.c_str());
            return false;
        }
        ByteArray* bytes = readReplacement(nameBeforeFirstDot(name), fullPath, indent, " (NEW FILE)", "packet file ");
        if (!bytes)
            return false;
        PakEntry* e = memNew<PakEntry>();
        if (!e || !pak.entries.push(e)) {
            memDelete(e);
            deleteByteArray(bytes);
            return false;
        }
        e->name = nameBeforeFirstDot(name);
        e->content = bytes;
        e->changed = 1;
        e->offset = u32(number);
        return true;
    }

    void missing(const String& relativePath, const String& fullPath) override
    {
        if (relativePath.indexOf('/') < 0 && fileEntryIndex(getFileName(relativePath)) >= i64(tableSize))
            printError("ERROR: Packet file '%s' is out of index range!\n", fullPath.c_str());
        else
            EntryIndex::Visitor::missing(relativePath, fullPath);
    }

    // A folder that is no nested archive's: a PAK has no folders of its own.
    bool enter(const String& relativePath, const String& fullPath, const String&, u32) override
    {
        if (toolOptions().addNewFiles)
            printError("ERROR: Cannot (yet) add new directory/sub-container '%s' to PAK!\n", fullPath.c_str());
        else
            missing(relativePath, fullPath);
        return false;
    }

private:
    ContainerPAK& pak;
    u32 tableSize;
};
}

bool ContainerPAK::repack(const String& directory, const String&, u32 indent)
{
    if (toolOptions().verbosity >= 5) {
        printIndent(indent);
        printf("Repacking '%s'...\n", directory.c_str());
    }
    const u32 before = entries.count;
    PakRepack visitor(*this);
    if (!indexEntries() || !index.repack(directory, visitor, indent))
        return false;
    // New entries go last, in numeric order whatever order their names sort in ("15" before
    // "013"); their offsets hold the numbers until the archive is written.
    std::stable_sort(entries.items + before, entries.items + entries.count,
                     [](const PakEntry* a, const PakEntry* b) { return a->offset < b->offset; });
    return true;
}

ByteArray* ContainerPAK::serialise(ProgressFunction progress, u32 depth)
{
    const u32 verbosity = toolOptions().verbosity;
    if (keptBytes && entries.count == 0) {
        ByteArray* copy = memNew<ByteArray>(*keptBytes);
        return copy && copy->count == keptBytes->count ? copy : nullptr;
    }
    if (!withinEntryLimit("A PAK", entries.count, PAK_MAX_ENTRIES - 1, "entries"))
        return nullptr;
    for (PakEntry* e : entries) {
        if (!e->nested)
            continue;
        deleteByteArray(e->nestedImage);
        e->nestedImage = e->nested->serialise(progress, depth + 1);
        // A child that cannot be built leaves the archive unbuildable, never silently short.
        if (!e->nestedImage)
            return nullptr;
    }
    // Each entry's stored bytes: borrowed from the entry, or newly encoded (owned here); none for
    // an entry that points at an earlier one's.
    PtrArray<ByteArray> encoded(true);
    const ByteArray** stored = static_cast<const ByteArray**>(allocZeroed(sizeof(ByteArray*) * (entries.count + 1)));
    if (!stored)
        return nullptr;
    const u64 firstOffset = u64(entries.count) * 4 + 4;
    u64 position = firstOffset;
    bool failed = false;
    // The entry whose stored bytes were written last, with its offset as read, and whether the
    // entry before the current one took no bytes where the data stood then.
    const PakEntry* last = nullptr;
    u32 lastReadOffset = 0;
    bool emptyBefore = false;
    // What a reopen unpacks from the streams written here; a shared stream is unpacked once.
    u64 unpacks = 0;
    for (u32 i = 0; i < entries.count && !failed; i++) {
        PakEntry* e = entries[i];
        if (interrupted()) {
            failed = true;
            break;
        }
        const ByteArray* source = e->nested ? e->nestedImage : e->content;
        if (verbosity >= 1) {
            printMarker('<', depth);
            if (e->nested)
                printf(" [%s] %s\n", e->name.c_str(), methodLabel(e->method));
            else
                printf(" %s %s\n", e->name.c_str(), methodLabel(e->method));
        }
        const bool unedited = !e->changed && e->archiveBytes && (!e->nested || sameBytes(e->nestedImage, e->content));
        const u32 readOffset = e->offset;
        // Unedited entries that shared one stored stream (same offset, size and method) still do:
        // possible when that stream is the last data written and the entry before this one took
        // no bytes there, so that reading the offsets back gives each entry its size again.
        if (unedited && last && emptyBefore && readOffset == lastReadOffset && last->method == e->method &&
            e->archiveBytes->count == last->archiveBytes->count && e->archiveBytes->count &&
            u64(last->offset) + last->encodedSize == position) {
            e->offset = last->offset;
            e->encodedSize = last->encodedSize;
            emptyBefore = false;
            if (!e->nested)
                progress(depth);
            continue;
        }
        const ByteArray* out = nullptr;
        if (unedited) {
            out = e->archiveBytes;
            unpacks += e->method != PAK_STORED && !e->keptStored ? e->contentSize() : 0;
        } else if (e->method == PAK_STORED || (e->nested && e->keptStored)) {
            // A child found in bytes that did not unpack was found in their stored form and goes
            // back in it: packing its image would wrap one more layer round it at every level.
            out = source;
        } else {
            ByteArray* packed = packEntry(*source, e->method);
            if (!packed) {
                printError("ERROR: Couldn't pack '%s' %s!\n", e->name.c_str(), methodLabel(e->method));
                failed = true;
                break;
            }
            encoded.push(packed);
            out = packed;
            unpacks += source->count;
        }
        stored[i] = out;
        e->encodedSize = out->count;
        if (position >= PAK_OFFSET_LIMIT) {
            printError("ERROR: Offset out of range; PAK data is too big!\n");
            failed = true;
            break;
        }
        e->offset = u32(position);
        position += out->count;
        emptyBefore = out->count == 0;
        if (out->count) {
            last = unedited ? e : nullptr;
            lastReadOffset = readOffset;
        }
        if (!e->nested)
            progress(depth);
    }
    const u64 dataLength = position - firstOffset;
    const u64 total = firstOffset + dataLength;
    failed = failed || !archiveSizeFits(total);
    if (!failed && entries.count && total <= PAK_TINY_SIZE) {
        // A file that short is read as an empty PAK: its entries would be lost.
        printError("ERROR: A PAK of %u entries would be only %u bytes long, which reads back as an empty PAK!\n",
                   entries.count, u32(total));
        failed = true;
    }
    ByteArray* result = nullptr;
    if (!failed) {
        ByteBuffer buffer{u32(total)};
        // Kept because the stored file of this name carries its size less one.
        buffer.writeU32(path.endsWithNoCase("MID1TXT.PAK") ? u32(total - 1) : u32(total));
        for (PakEntry* e : entries)
            buffer.writeU32(u32(e->flag) << 24 | e->offset);
        for (u32 i = 0; i < entries.count; i++)
            if (stored[i])
                buffer.write(stored[i]->data, stored[i]->count);
        // The size was checked above: a failed buffer ran out of memory, which the caller reports.
        if (buffer.ok())
            result = buffer.release();
    }
    if (result)
        unpackedOwn = unpacks;
    memFree(stored);
    // The children's images were needed only to compare and to copy.
    for (PakEntry* e : entries) {
        deleteByteArray(e->nestedImage);
        e->nestedImage = nullptr;
    }
    return result;
}

u32 ContainerPAK::fileCount()
{
    return countLeafFiles(entries);
}

void ContainerPAK::hashContents(Md5& context, u32 indent)
{
    const u32 verbosity = toolOptions().verbosity;
    for (PakEntry* e : entries) {
        if (e->nested) {
            if (verbosity >= 2) {
                printIndent(indent);
                printf("%s\n", e->name.c_str());
            }
            e->nested->hashContents(context, indent + 1);
            if (verbosity >= 2) {
                printIndent(indent);
                printf("^ %llu\n", (unsigned long long)peekDigest(context));
            }
            continue;
        }
        u32 size = e->contentSize();
        if (size)
            context.update(e->content->data, size);
        if (verbosity >= 2) {
            printIndent(indent);
            printf("%s (%u bytes) -> %llu\n", e->name.c_str(), size, (unsigned long long)peekDigest(context));
        }
    }
}
