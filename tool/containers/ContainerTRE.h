#pragma once
#include "framework/core/PtrArray.h"
#include "tool/containers/Container.h"
#include "tool/containers/EntryIndex.h"

// One table entry of a classic TRE archive.
struct TreEntry
{
    char storedName[66] = {};
    String name;
    u32 index = 0;
    u32 offset = 0;
    ByteArray* data = nullptr; // a view into the archive's bytes until repack replaces it
    Container* nested = nullptr;
    u32 size = 0;
    u8 sortFlag = 0;
    u32 writtenOffset = 0; // where the last serialise put the entry's bytes, and how many
    u32 writtenSize = 0;

    TreEntry() = default;
    ~TreEntry();
    TreEntry(const TreEntry&) = delete;
    TreEntry& operator=(const TreEntry&) = delete;
    u32 dataSize() const { return data ? data->count : 0; }
};

// Classic TRE: an 8-byte header, 74-byte table entries, optional anonymous "gap" bytes after the
// table, then the entries' data.
class ContainerTRE : public Container
{
public:
    PtrArray<TreEntry> entries{true};
    ByteArray* gap = nullptr;

    explicit ContainerTRE(const String& name);
    ~ContainerTRE() override;

    static bool probe(const String& name, const ByteArray& bytes);
    static Container* open(const String& name, const ByteArray& bytes);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override;
    void hashContents(Md5& context, u32 indent) override;
    u64 unpackedOnOpen() override { return nestedUnpackedOnOpen(entries); }

    // The entries' places on disk, worked out on first use; false when memory ran out.
    bool indexEntries(u32 indent);

private:
    EntryIndex index;
};

void reportUnsupportedTre(const ByteArray& bytes);
// A stored name as a relative path: '\' to '/', "../" and "./" removed, a drive prefix dropped.
String mapTrePath(const String& storedName);
