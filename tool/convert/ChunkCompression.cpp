#include "tool/convert/ChunkCompression.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 MAX_DECODED_SIZE = 0x4000000;

// RefPack gives what it produced even when that falls short; the caller compares the size.
ByteArray* refPackDecode(const ByteArray& stream, u32 size)
{
    CodecRefPack codec;
    return codec.decompress(stream, size);
}

ByteArray* refPackEncode(const ByteArray& body)
{
    CodecRefPack codec;
    return codec.compress(body);
}

ByteArray* lzwxDecode(const ByteArray& stream, u32 size)
{
    return decompressLZWX(stream, size);
}

ByteArray* lzwxEncode(const ByteArray& body)
{
    return compressLZWX(body);
}

u32 bigEndianAt(const u8* p, u32 n)
{
    u32 v = 0;
    for (u32 i = 0; i < n; i++)
        v = (v << 8) | p[i];
    return v;
}

u32 littleEndianAt(const u8* p)
{
    return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}

// A stream can only produce so much: the bound keeps a forged size field from making a large
// allocation out of a few bytes. A 4-byte RefPack command copies at most 1028 bytes plus three
// literals.
bool sizeIsReachable(u8 code, u64 streamLength, u64 size)
{
    if (code == COMPRESSION_LZWX)
        return size <= lzwxMaxDecodedSize(streamLength);
    return size <= (streamLength / 4 + 1) * 1031 + 3;
}

ByteArray* withHeader(const u8* header, u32 headerLength, const ByteArray* stream)
{
    if (!stream)
        return nullptr;
    ByteArray* out = memNew<ByteArray>(headerLength + stream->count);
    if (!out || out->count != headerLength + stream->count) {
        deleteByteArray(out);
        return nullptr;
    }
    memcpy(out->data, header, headerLength);
    if (stream->count)
        memcpy(out->data + headerLength, stream->data, stream->count);
    return out;
}
}

const char* compressionName(u8 code)
{
    switch (code) {
    case COMPRESSION_REFPACK: return "RefPack";
    case COMPRESSION_REFPACK_4: return "RefPack_4";
    case COMPRESSION_LZWX: return "LZWX";
    default: return "";
    }
}

u8 compressionCode(const String& name)
{
    for (u8 code : {COMPRESSION_REFPACK, COMPRESSION_REFPACK_4, COMPRESSION_LZWX})
        if (name.equals(compressionName(code)))
            return code;
    return COMPRESSION_NONE;
}

u8 detectChunkCompression(const ByteArray& body)
{
    if (body.count < 6 || !body.data)
        return COMPRESSION_NONE;
    const u8* b = body.data;
    if (b[0] == 0x10 && b[1] == 0xFB)
        return COMPRESSION_REFPACK;
    if (b[0] == 0x90 && b[1] == 0xFB)
        return COMPRESSION_REFPACK_4;
    if (b[0] == 'L' && b[1] == 'Z')
        return COMPRESSION_LZWX;
    return COMPRESSION_NONE;
}

ByteArray* decompressChunkBody(const ByteArray& body, u8 code)
{
    if (body.count < 6 || !body.data)
        return nullptr;
    const u8* b = body.data;
    u32 size = 0, headerLength = 6;
    switch (code) {
    case COMPRESSION_REFPACK:
        size = bigEndianAt(b + 2, 3);
        headerLength = 5;
        if (size == 0)
            return nullptr;
        break;
    case COMPRESSION_REFPACK_4:
        size = bigEndianAt(b + 2, 4);
        break;
    case COMPRESSION_LZWX:
        size = littleEndianAt(b + 2);
        break;
    default: return nullptr;
    }
    if (code != COMPRESSION_REFPACK && (size == 0 || size > MAX_DECODED_SIZE))
        return nullptr;
    const u32 streamLength = body.count - headerLength;
    if (!sizeIsReachable(code, streamLength, size))
        return nullptr;
    ByteArray stream(b + headerLength, streamLength);
    ByteArray* decoded = code == COMPRESSION_LZWX ? lzwxDecode(stream, size) : refPackDecode(stream, size);
    if (decoded && decoded->count != size) {
        deleteByteArray(decoded);
        return nullptr;
    }
    return decoded;
}

ByteArray* encodeChunkBody(const ByteArray& body, u8 code, CompressionFailure& failure)
{
    failure = COMPRESSION_OK;
    u8 header[6];
    u32 headerLength = 6;
    const u32 n = body.count;
    switch (code) {
    case COMPRESSION_REFPACK:
        if (n > 0xFFFFFF) {
            failure = COMPRESSION_TOO_LARGE;
            return nullptr;
        }
        header[0] = 0x10;
        header[1] = 0xFB;
        header[2] = u8(n >> 16);
        header[3] = u8(n >> 8);
        header[4] = u8(n);
        headerLength = 5;
        break;
    case COMPRESSION_REFPACK_4:
        header[0] = 0x90;
        header[1] = 0xFB;
        for (u32 i = 0; i < 4; i++)
            header[2 + i] = u8(n >> (24 - 8 * i));
        break;
    case COMPRESSION_LZWX:
        header[0] = 'L';
        header[1] = 'Z';
        for (u32 i = 0; i < 4; i++)
            header[2 + i] = u8(n >> (8 * i));
        break;
    default: failure = COMPRESSION_UNKNOWN; return nullptr;
    }
    ByteArray* stream = code == COMPRESSION_LZWX ? lzwxEncode(body) : refPackEncode(body);
    ByteArray* out = withHeader(header, headerLength, stream);
    deleteByteArray(stream);
    if (!out)
        failure = COMPRESSION_FAILED;
    return out;
}

ByteArray* compressChunkBody(const ByteArray& body, const String& name)
{
    CompressionFailure failure;
    const u8 code = compressionCode(name);
    ByteArray* out = encodeChunkBody(body, code, failure);
    if (failure == COMPRESSION_UNKNOWN)
        printf("ERROR: IFF chunk compression '%s' cannot be written yet.\n", name.c_str());
    else if (failure == COMPRESSION_TOO_LARGE)
        printf("ERROR: IFF RefPack chunk is too large for 24-bit size header.\n");
    return out;
}
