#include "framework/vfs/Package.h"
#include "framework/io/DirectoryTree.h"
#include "framework/io/MemoryStream.h"
#include "framework/log/Log.h"
#include "framework/vfs/SubStream.h"

#include <cstring>

namespace
{
InternalPackage* packageHead = nullptr;

// The table of contents with its key taken off, read front to back. Past its end there is
// nothing: every read then fails.
struct TocCursor
{
    const u8* data;
    u64 size;
    u64 pos = 0;

    u64 left() const { return size - pos; }
    bool u32At(u32& out)
    {
        if (left() < 4)
            return false;
        out = u32(data[pos]) | u32(data[pos + 1]) << 8 | u32(data[pos + 2]) << 16 | u32(data[pos + 3]) << 24;
        pos += 4;
        return true;
    }
    bool u8At(u8& out)
    {
        if (left() < 1)
            return false;
        out = data[pos++];
        return true;
    }
    // A name up to its 0 byte; false when the data ends first.
    bool name(String& out, u64& used)
    {
        const void* zero = memchr(data + pos, 0, size_t(left()));
        if (!zero)
            return false;
        u64 n = u64(static_cast<const u8*>(zero) - (data + pos));
        out.assign(reinterpret_cast<const char*>(data + pos), n);
        pos += n + 1;
        used = n + 1;
        return true;
    }
};
}

InternalPackage* internalPackages()
{
    return packageHead;
}

void registerInternalPackage(InternalPackage* record)
{
    if (!record)
        return;
    record->next = nullptr;
    InternalPackage** tail = &packageHead;
    while (*tail) {
        if (*tail == record)
            return;
        tail = &(*tail)->next;
    }
    *tail = record;
}

void unregisterInternalPackage(InternalPackage* record)
{
    for (InternalPackage** p = &packageHead; *p; p = &(*p)->next) {
        if (*p == record) {
            *p = record->next;
            record->next = nullptr;
            return;
        }
    }
}

PackageSource::PackageSource(const InternalPackage* packageRecord, const String& name, bool keep)
    : record(packageRecord), keepData(keep ? 1 : 0), sourceName(name)
{
}

PackageSource::~PackageSource()
{
    memDelete(stream);
    memDelete(data);
}

Stream* PackageSource::open()
{
    if (!data) {
        data = record && record->load ? record->load(this) : nullptr;
        if (!data)
            return nullptr;
    }
    memDelete(stream);
    stream = memNew<MemoryStream>(*data);
    return stream;
}

void PackageSource::close()
{
    memDelete(stream);
    stream = nullptr;
    if (!keepData) {
        memDelete(data);
        data = nullptr;
    }
}

PackageSource* PackageSource::clone()
{
    return memNew<PackageSource>(record, sourceName, false);
}

Package::Package(PackageSource* packageSource) : source(packageSource) {}

Package::Package(PackageSource* packageSource, const ByteArray& scrambleKey) : source(packageSource), key(scrambleKey)
{
}

Package::~Package()
{
    entries.clear();
    memDelete(source);
}

bool Package::fail(const char* format)
{
    logError("Package", format, name().c_str());
    source->close();
    return false;
}

bool Package::addEntry(const String& entryName, u64 offset, u64 endOffset, u64 tocStart, u32 unpackedSize,
                       bool sized, u8 method)
{
    // Entries lie in the data before the table, in file order.
    if (offset > endOffset || endOffset > tocStart) {
        logError("Package", "Entry '%s' lies outside the data of '%s'!", entryName.c_str(), name().c_str());
        return false;
    }
    PackageEntry* e = memNew<PackageEntry>();
    if (!e)
        return false;
    e->name = entryName;
    e->offset = u32(offset);
    e->storedSize = u32(endOffset - offset);
    e->unpackedSize = sized ? unpackedSize : e->storedSize;
    e->method = method;
    if (!entries.push(e)) {
        memDelete(e);
        return false;
    }
    return true;
}

bool Package::load()
{
    entries.clear();
    if (!source->isAvailable())
        return false;
    Stream* s = source->open();
    if (!s) {
        logError("Package", "Couldn't open '%s' for reading!", name().c_str());
        return false;
    }
    const u64 size = s->size();
    const u8* k = key.data;
    const u32 keyLength = k ? key.count : 0;
    if (size < 4)
        return fail("Length read failed for '%s'!");
    // Offsets and sizes are 32-bit: a larger file is no package.
    if (size > 0xFFFFFFFFull)
        return fail("Failed TOC sanity check for '%s'!");
    s->seek(size - 4);
    u8 trailer[4] = {};
    if (s->read(trailer, 4) != 4)
        return fail("Length read failed for '%s'!");
    u32 tocLength = 0;
    for (u32 j = 0; j < 4; j++)
        tocLength |= u32(trailer[j] ^ (keyLength ? k[j % keyLength] : 0)) << (8 * j);
    if (u64(tocLength) + 4 > size)
        return fail("Failed TOC sanity check for '%s'!");

    // The table and the trailer behind it, unscrambled as one run: a name that is not ended
    // inside the table reads on into the trailer, and no further.
    const u64 tocStart = size - tocLength - 4;
    const u64 tailBytes = u64(tocLength) + 4;
    ByteArray toc{u32(tailBytes)};
    if (!toc.data)
        return fail("Couldn't read version for '%s'!");
    s->seek(tocStart);
    if (s->bytesLeft() == 0 || s->readInto(toc, 0, tailBytes) != tailBytes)
        return fail("Couldn't read version for '%s'!");
    for (u64 i = 0; keyLength && i < tailBytes; i++)
        toc.data[i] ^= k[i % keyLength];

    TocCursor c{toc.data, tailBytes};
    u8 version = 0;
    c.u8At(version);
    if (version != 1 && version != 2) {
        logError("Package", "Bad package version %u for '%s'!", u32(version), name().c_str());
        source->close();
        return false;
    }
    u64 consumed = 1;
    String entryName;
    u64 used = 0;
    // Offsets, sizes and methods come from inside the table: a record cut off by the table's
    // end makes no entry. Only a name may read on past it, up to the end of the file.
    auto tableHolds = [&](u64 n) { return consumed + n <= tocLength; };
    if (version == 1) {
        String previousName;
        u64 previousOffset = 0;
        while (tocLength >= 2 && consumed < tocLength) {
            u32 offset = 0;
            if (!tableHolds(4) || !c.u32At(offset))
                break;
            consumed += 4;
            if (!c.name(entryName, used))
                return fail("EOF before string terminator in '%s'!");
            consumed += used;
            if (offset != 0 && !addEntry(previousName, previousOffset, offset, tocStart, 0, false, 0)) {
                source->close();
                return false;
            }
            previousName = entryName;
            previousOffset = offset;
        }
        if (!addEntry(previousName, previousOffset, tocStart, tocStart, 0, false, 0)) {
            source->close();
            return false;
        }
    } else {
        u32 offset = 0;
        if (!tableHolds(4) || !c.u32At(offset))
            return fail("EOF before string terminator in '%s'!");
        consumed += 4;
        while (consumed < tocLength) {
            u32 unpacked = 0;
            u8 method = 0;
            if (!tableHolds(5) || !c.u32At(unpacked) || !c.u8At(method))
                break;
            consumed += 5;
            if (!c.name(entryName, used))
                return fail("EOF before string terminator in '%s'!");
            consumed += used;
            u32 next = 0;
            const bool last = consumed >= tocLength;
            if (!last) {
                if (!tableHolds(4) || !c.u32At(next))
                    break;
                consumed += 4;
            }
            if (!addEntry(entryName, offset, last ? tocStart : next, tocStart, unpacked, true, method)) {
                source->close();
                return false;
            }
            if (last)
                break;
            offset = next;
        }
    }
    if (consumed != tocLength)
        logError("Package", "TOC corrupt for '%s'!", name().c_str());
    source->close();
    logDebug("Package", "'%s' contains %u files.", name().c_str(), entries.count);
    return true;
}

PackageEntry* Package::findEntry(const String& path) const
{
    for (PackageEntry* e : entries)
        if (e->name.length == path.length && e->name.equalsNoCase(path))
            return e;
    return nullptr;
}

void Package::listDirectories(DirectoryTree* tree)
{
    if (!tree)
        return;
    for (PackageEntry* e : entries) {
        DirectoryTree* node = tree;
        const String& n = e->name;
        u64 from = 0;
        for (i64 slash = n.indexOf('/'); slash >= 0 && node; slash = n.indexOf('/', from)) {
            // Empty components ("a//b", a leading "/") name no directory.
            if (u64(slash) > from)
                node = node->addPath(n.left(u64(slash)));
            from = u64(slash) + 1;
        }
        if (node)
            node->addFile(n);
    }
}

ByteArray* Package::readFile(const String& path)
{
    PackageEntry* e = findEntry(path);
    if (!e)
        return nullptr;
    ByteArray* stored = memNew<ByteArray>(e->storedSize);
    if (!stored)
        return nullptr;
    if (e->storedSize && !stored->data) {
        memDelete(stored);
        return nullptr;
    }
    Stream* s = source->open();
    if (!s) {
        memDelete(stored);
        return nullptr;
    }
    s->seek(e->offset);
    if (e->storedSize && s->readInto(*stored, 0, e->storedSize) != e->storedSize) {
        memDelete(stored);
        source->close();
        return nullptr;
    }
    if (key.data && key.count) {
        for (u32 i = 0; i < e->storedSize; i++)
            stored->data[i] ^= key.data[i % key.count];
    }
    source->close();
    if (e->storedSize == e->unpackedSize)
        return stored;
    ByteArray* unpacked = decompressor ? decompressor->decompress(stored, e->unpackedSize, e->method) : nullptr;
    memDelete(stored);
    return unpacked;
}

Stream* Package::openFile(const String& path)
{
    PackageEntry* e = findEntry(path);
    if (!e)
        return nullptr;
    if (e->storedSize == e->unpackedSize) {
        PackageSource* again = source->clone();
        if (!again)
            return nullptr;
        SubStream* s = memNew<SubStream>(again, e->offset, e->unpackedSize, key.count ? &key : nullptr);
        if (!s) {
            memDelete(again);
            return nullptr;
        }
        if (!s->current) {
            memDelete(s);
            return nullptr;
        }
        return s;
    }
    ByteArray* bytes = readFile(path);
    if (!bytes)
        return nullptr;
    SubStream* s = memNew<SubStream>(bytes, 0);
    if (!s)
        memDelete(bytes);
    return s;
}

PackageLoadJob::PackageLoadJob(const InternalPackage* packageRecord, ByteArray* scrambleKey, bool owns,
                               const String& name)
    : record(packageRecord), key(scrambleKey), ownsKey(owns ? 1 : 0), jobName(name)
{
}

PackageLoadJob::~PackageLoadJob()
{
    if (ownsKey)
        memDelete(key);
}

Package* PackageLoadJob::run()
{
    PackageSource* source = memNew<PackageSource>(record, jobName, true);
    if (!source)
        return nullptr;
    Package* package = key ? memNew<Package>(source, *key) : memNew<Package>(source);
    if (!package) {
        memDelete(source);
        return nullptr;
    }
    package->decompressor = decompressor;
    if (package->load())
        return package;
    logError("Loader", "Error unpacking package '%s'!", jobName.c_str());
    memDelete(package);
    return nullptr;
}
