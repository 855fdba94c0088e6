#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/String.h"

// Compressed IFF chunk bodies carry a small header of their own in front of the stream:
//   RefPack    0x10 0xFB, decoded size as 24 bits big-endian (not 0), RefPack stream
//   RefPack_4  0x90 0xFB, decoded size as 32 bits big-endian (1..0x4000000), RefPack stream
//   LZWX       'L' 'Z', decoded size as 32 bits little-endian (1..0x4000000), LZWX stream
enum ChunkCompression : u8
{
    COMPRESSION_NONE = 0,
    COMPRESSION_REFPACK = 1,
    COMPRESSION_REFPACK_4 = 2,
    COMPRESSION_LZWX = 7,
};

// "RefPack", "RefPack_4", "LZWX"; "" for any other code.
const char* compressionName(u8 code);
// The code of a name compared exactly; COMPRESSION_NONE when it names none.
u8 compressionCode(const String& name);
// The code a stored body's first bytes announce (bodies of at least 6 bytes), else none.
u8 detectChunkCompression(const ByteArray& body);
// The decoded body when the size field is valid and the stream decodes to exactly that size.
ByteArray* decompressChunkBody(const ByteArray& body, u8 code);

enum CompressionFailure : u8
{
    COMPRESSION_OK = 0,
    COMPRESSION_UNKNOWN,   // no codec of that name can be written
    COMPRESSION_TOO_LARGE, // RefPack's 24-bit size field cannot hold the length
    COMPRESSION_FAILED,    // the codec gave nothing
};
// The stored form of a body (header and stream), or null with the reason.
ByteArray* encodeChunkBody(const ByteArray& body, u8 code, CompressionFailure& failure);
// As encodeChunkBody by name, printing why a body cannot be compressed; null then.
ByteArray* compressChunkBody(const ByteArray& body, const String& name);

// The compressed chunks of one file as they are stored: for each, its code, the length of its
// decoded bytes and where its stored body (header and stream) lies in the file. A chunk written
// back with the same decoded bytes and compression takes its stored body again, so an unedited
// chunk round-trips exactly whichever encoder made it, and only an edited one is encoded. The
// stored bodies are not copied: each lookup is given the file they lie in.
class StoredStreams
{
public:
    StoredStreams() = default;
    ~StoredStreams();
    StoredStreams(const StoredStreams&) = delete;
    StoredStreams& operator=(const StoredStreams&) = delete;

    // Records the chunk stored at [offset, offset + length) of the file, decoding to
    // decodedLength bytes with `code`, in the order the chunks are met. False when memory ran
    // out.
    bool add(u8 code, u32 decodedLength, u64 offset, u32 length);
    // Starts a pass over a document's chunks in order.
    void rewind();
    // The stored body (in `file`) of a chunk that decodes to `plain` with `code`. Only a body
    // that lies inside the file and decodes to exactly `plain` is given.
    bool find(u8 code, const ByteArray& plain, const ByteArray& file, const u8*& stored, u32& length);
    u32 size() const { return count; }
    // How many bytes more the recorded chunks hold decoded than stored.
    u64 decodedGrowth() const;

private:
    struct Entry
    {
        u8 digest[16]; // MD5 of the decoded bytes, made by the first lookup by content
        u32 decodedLength;
        u8 code;
        u32 taken; // of the first entry of a run of equal keys: how many this pass has used
        u64 offset;
        u32 length;
    };
    Entry* entries = nullptr; // in the order recorded
    u32 count = 0;
    u32 capacity = 0;
    u32 next = 0;          // the entry a pass over an unedited document meets next
    u32* order = nullptr;  // entries by code, length and digest; made when first needed

    bool decodesTo(const Entry& e, u8 code, const ByteArray& plain, const ByteArray& file) const;
    bool makeOrder(const ByteArray& file);
};
