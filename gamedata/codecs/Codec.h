#pragma once
#include "framework/core/ByteArray.h"

// The one interface through which every container packs and unpacks entry data. The result is
// a new ByteArray owned by the caller (deleteByteArray); null means failure. Codecs keep no
// state between calls; callers construct one on their own stack for each use.
class Codec
{
public:
    virtual ByteArray* compress(const ByteArray& in) = 0;
    // expectedSize is what the caller knows from its own header (0 = not known).
    virtual ByteArray* decompress(const ByteArray& in, u32 expectedSize) = 0;
    virtual ~Codec();
};

// How a decoder sizes its output: a claimed size is a ceiling, never an allocation. A claim of
// no more than `ratio` times the input (or 1 MiB) is what such a stream commonly holds and is
// allocated at once; past that the output starts at 64 KiB.
u64 firstOutputSize(u64 limit, u64 inLength, u64 ratio);
// The next size once `needed` bytes no longer fit: `limit` when the stream's rate so far
// (`produced` bytes from `consumed` of `inLength` input bytes) carries it there, else double (at
// least `needed`, at most `limit`).
u64 nextOutputSize(u64 capacity, u64 needed, u64 limit, u64 produced, u64 consumed, u64 inLength);
// A new block of `size` bytes holding the first `used` bytes of `out`, which is freed; null (and
// `out` kept) when memory ran out.
u8* moveOutput(u8* out, u64 used, u64 size);
// The first `length` bytes of a decoder's buffer as the result: the buffer itself unless much
// of it is unused, then a copy of the right size. The buffer is freed or taken over either way.
ByteArray* takeOutput(u8* out, u64 capacity, u32 length);
