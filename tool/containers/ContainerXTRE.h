#pragma once
#include "framework/core/PtrArray.h"
#include "tool/containers/Container.h"
#include "tool/containers/EntryIndex.h"

struct XtreBlock;

// One file of an XTRE archive, found through a hash slot or a clash-table record.
struct XtreEntry
{
    String name;   // "0x" and the hash in hex until a dictionary names it, or the clash-table name
    u32 hash = 0;  // 0 for clash-table entries
    u8 fromClashTable = 0;
    u32 index = 0; // order of reading
    u32 dataOffset = 0;
    u32 storedSpan = 0; // bytes from the data offset to the next descriptor's
    ByteArray* data = nullptr; // a view: into the archive, or the container's unpacked copy
    ByteArray* raw = nullptr;  // a view of a packed entry's stored bytes
    const XtreEntry* sharesWith = nullptr; // an entry of the same descriptor, unpacked before it
    Container* nested = nullptr;
    u32 storedSize = 0;
    u32 unpackedSize = 0;
    u32 sizeWord = 0;
    u32 descriptorPosition = 0;
    u8 hasNextDescriptor = 0;
    u8 type = 0; // 0 plain, 1 RefPack, 2 LZWX
    u8 sortFlag = 0;
    u8 modified = 0;
    // What a nested child wrote before a repack reached it (hasBaseline): the same bytes after
    // it mean the repack changed nothing.
    u8 hasBaseline = 0;
    u8 baseline[16] = {};
    // A version 0 "blank" file: never listed, but written back as it was so that its
    // descriptor keeps describing the same bytes.
    u8 blank = 0;

    XtreEntry() = default;
    ~XtreEntry();
    XtreEntry(const XtreEntry&) = delete;
    XtreEntry& operator=(const XtreEntry&) = delete;

    // Takes the bytes. Bytes equal to the current data leave the entry as it is.
    void replaceData(ByteArray* bytes);
    u32 dataSize() const { return data ? data->count : 0; }
};

// XTRE: a header of six words, a table of hash slots, clash tables of named records, 8-byte
// file descriptors and the file data, each packed plain, with RefPack or with LZWX.
class ContainerXTRE : public Container
{
public:
    u32 version = 0;
    u32 a = 0, b = 0, c = 0, d = 0;
    u32 hashSlotCount = 0;
    PtrArray<XtreEntry> entries{true};
    PtrArray<XtreEntry> blanks{true};
    PtrArray<ByteArray> unpacked{true}; // the packed entries' unpacked bytes, each held once
    ByteArray* archive = nullptr;       // the archive's bytes (a view)

    ContainerXTRE(const String& name, const ByteArray& bytes);
    ~ContainerXTRE() override;

    static bool probe(const String& name, const ByteArray& bytes);
    static Container* open(const String& name, const ByteArray& bytes);

    // The entry whose descriptor is at `position`; null (after an error line) when the
    // descriptor or its data offsets are bad, and for a version 0 blank file, which goes to
    // `blanks` instead.
    XtreEntry* readDescriptor(u32 position, const String& name, u32 hash, u8 fromClashTable, u32 index);
    // Gives entries still named by their hash the dictionary's path.
    void resolveNames();

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override;
    void hashContents(Md5& context, u32 indent) override;
    u64 unpackedOnOpen() override { return unpackedOwn + nestedUnpackedOnOpen(entries); }

    // The entries' places on disk, worked out on first use; false when memory ran out.
    bool indexEntries();

private:
    EntryIndex index;
    // The hash slots and clash tables, each naming a descriptor; false when a slot names a
    // clash table before its region.
    bool readTables();
    // Takes the entry's stored bytes and unpacks them; false (after an error line) on failure.
    bool unpack(XtreEntry& e);
    // A changed entry's bytes and size word, packed as the entry was; false (after an error
    // line) when the archive cannot hold them.
    bool encodeChanged(const XtreEntry& e, const ByteArray& content, XtreBlock& block);
};

// An entry name as the relative path of listings: '\' to '/', "../" and "./" removed, a leading
// "DATA/" and a drive prefix dropped.
String mapXtrePath(const String& name);
