#pragma once
#include "framework/core/PtrArray.h"
#include "tool/containers/Container.h"
#include "tool/containers/EntryIndex.h"

constexpr u32 CRCTRE_NAME_SIZE = 256;

// One file of a CRC-TRE archive.
struct CrcTreEntry
{
    // The 256-byte name field (all of it is written back): in the archive's table, or in
    // ownedName for an added file. Not always ended by a NUL: print it with "%.256s".
    const char* storedName = nullptr;
    char* ownedName = nullptr;
    String name;                                // the stored name with '/' separators
    u32 crc = 0;
    u32 index = 0;
    u8 compressed = 0;
    // Data position as read; 0 once replaced and 0xFFFFFFFF when added, so that the writer puts
    // replaced files first and added ones last. The writer sets the new position.
    u32 offset = 0;
    u32 size = 0;                // unpacked size as read
    ByteArray* data = nullptr;   // unpacked: a view into the archive or the container's copy
    ByteArray* stored = nullptr; // a packed entry's stream as read, until an edit replaces it
    const CrcTreEntry* sharesWith = nullptr; // the entry whose unpacked copy this one shares
    u32 packedSize = 0;        // LZSS stream size of the last write
    u8 sortFlag = 0;           // sort key: 0 crc, 1 offset, 2 whether it takes bytes

    CrcTreEntry() = default;
    ~CrcTreEntry();
    CrcTreEntry(const CrcTreEntry&) = delete;
    CrcTreEntry& operator=(const CrcTreEntry&) = delete;
    u32 dataSize() const { return data ? data->count : 0; }
};

// TRE archives whose table names each file by a 256-byte path and its CRC-32; files may be
// packed with LZSS. Entries are never tested for nested containers.
class ContainerCRCTRE : public Container
{
public:
    u8 flags = 0;
    PtrArray<CrcTreEntry> entries{true}; // in table order as read, added files last
    PtrArray<ByteArray> unpacked{true};  // the packed entries' unpacked bytes, each held once

    ContainerCRCTRE(const String& name, u8 flags);

    static bool probe(const String& name, const ByteArray& bytes);
    static Container* open(const String& name, const ByteArray& bytes);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override;
    void hashContents(Md5& context, u32 indent) override;

    // The entries' places on disk, worked out on first use; false when memory ran out.
    bool indexEntries();
    // Appends the file's bytes (taken) as a new entry stored under its relative path; false when
    // memory ran out.
    bool addFile(const String& relativePath, const String& name, ByteArray* bytes);

private:
    EntryIndex index;
};

// The CRC of a name field up to its NUL (or its 256th byte): reflected CRC-32 (0xEDB88320),
// initial value 0, no final XOR, over the name lower-cased with ASCII rules.
u32 crcTreNameCrc(const char* nameField);
