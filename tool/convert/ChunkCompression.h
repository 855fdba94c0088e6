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
