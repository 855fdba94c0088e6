#pragma once
#include "framework/core/PtrArray.h"
#include "tool/containers/Container.h"
#include "tool/containers/EntryIndex.h"

class MemoryStream;
class Stream;

enum PakMethod : u8
{
    PAK_STORED = 0,
    PAK_LZW = 1,
    PAK_REFPACK = 2,
    PAK_IMPLODE = 3,
};

// Flag bytes of the offset words that select a codec.
constexpr u8 PAK_FLAG_LZW = 0x20;
constexpr u8 PAK_FLAG_IMPLODE = 0x60;
constexpr u8 PAK_FLAG_UNKNOWN = 0xA0;

// One entry of a PAK archive. Entries have no stored names: the name is made up of the index
// and a guessed extension.
struct PakEntry
{
    String name;
    u8 flag = 0;
    u8 method = PAK_STORED;
    u32 offset = 0;
    ByteArray* content = nullptr;      // as the user sees it (unpacked when unpacking worked); a view
                                       // into the archive or the container's copy until replaced
    ByteArray* archiveBytes = nullptr; // exactly as stored (a view); null for added entries
    u8 changed = 0;
    Container* nested = nullptr;
    ByteArray* nestedImage = nullptr; // the child's bytes from the last serialise
    u32 encodedSize = 0;
    u8 keptStored = 0; // packed, but the stream did not unpack: content holds the stored bytes

    PakEntry() = default;
    ~PakEntry();
    PakEntry(const PakEntry&) = delete;
    PakEntry& operator=(const PakEntry&) = delete;
    u32 contentSize() const { return content ? content->count : 0; }
};

// A size word, a table of 24-bit offsets each with a flag byte, then the entries' data.
class ContainerPAK : public Container
{
public:
    u8 variant = 0;
    PtrArray<PakEntry> entries{true};
    // Data too short to hold a table: written back as it was unless entries are added.
    ByteArray* keptBytes = nullptr;
    PtrArray<ByteArray> unpacked{true}; // the packed entries' unpacked bytes, each held once

    explicit ContainerPAK(const String& name);
    ~ContainerPAK() override;

    static bool detect(const String& name, const ByteArray& bytes);
    static Container* open(const String& name, const ByteArray& bytes);
    // The entry of the table's slot at index; null only when memory ran out or the budget of
    // unpacked bytes did.
    PakEntry* readEntry(MemoryStream& stream, u32 offset, u32 index, u32 size, u8 flag);
    // The extension (with its dot) guessed from the n bytes at the stream's position and the
    // archive's name; empty when nothing matches.
    static String guessEntryName(Stream& stream, u32 n, const String& archiveName);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override;
    void hashContents(Md5& context, u32 indent) override;
    u64 unpackedOnOpen() override { return unpackedOwn + nestedUnpackedOnOpen(entries); }

private:
    EntryIndex index;
    bool indexEntries();
};

// The entry index a repack file name stands for: 1 to 9 digits, then nothing, a '.' or a '['
// part (as in "007[???]"). -1 otherwise.
i64 fileEntryIndex(const String& fileName);
