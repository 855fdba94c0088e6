#include "fuzz/FuzzTargets.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZSS.h"
#include "gamedata/codecs/CodecLZW.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"

#include <cstring>

namespace
{
// The first four bytes are the size the caller expects (little-endian), the rest the stream.
void fuzzDecompress(Codec& codec, const u8* data, size_t size)
{
    if (size < 4 || size - 4 > 0xFFFFFFFFu)
        return;
    const u32 expected = u32(data[0]) | u32(data[1]) << 8 | u32(data[2]) << 16 | u32(data[3]) << 24;
    ByteArray in(data + 4, u32(size - 4));
    ByteArray* out = codec.decompress(in, expected);
    deleteByteArray(out);

    // The same bytes as plain data must come back whole from the codec's own stream.
    ByteArray* packed = codec.compress(in);
    if (!packed)
        fuzzFailure("compression failed");
    ByteArray* unpacked = codec.decompress(*packed, in.count);
    deleteByteArray(packed);
    if (!unpacked || unpacked->count != in.count || (in.count && memcmp(unpacked->data, in.data, in.count) != 0))
        fuzzFailure("a compressed stream does not give its data back");
    deleteByteArray(unpacked);
}
}

void fuzzLzw(const u8* data, size_t size)
{
    CodecLZW codec;
    fuzzDecompress(codec, data, size);
}

void fuzzImplode(const u8* data, size_t size)
{
    CodecImplode codec;
    fuzzDecompress(codec, data, size);
}

void fuzzRefPack(const u8* data, size_t size)
{
    CodecRefPack codec;
    fuzzDecompress(codec, data, size);
}

void fuzzLzss(const u8* data, size_t size)
{
    CodecLZSS codec;
    fuzzDecompress(codec, data, size);
}

void fuzzLzwx(const u8* data, size_t size)
{
    CodecLZWX codec;
    fuzzDecompress(codec, data, size);
}
