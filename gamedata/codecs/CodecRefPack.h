#pragma once
#include "gamedata/codecs/Codec.h"

// RefPack: a byte-oriented LZ77 command stream. Each command copies up to three literal bytes
// (or a run of 4 to 112) that follow its own bytes, then N bytes from O bytes back in the
// output, byte by byte so an overlapping copy repeats a pattern:
//
//   0xxxxxxx b1           literals b0&3, N 3..10,    O up to 1024
//   10xxxxxx b1 b2        literals b1>>6, N 4..67,   O up to 16384
//   110xxxxx b1 b2 b3     literals b0&3, N 5..1028,  O up to 131072
//   111xxxxx (< 0xFC)     a run of ((b0&0x1F)+1)*4 literals, no copy
//   0xFC..0xFF            b0&3 literals, then the stream ends
//
// Only the bare command stream: any size header in front of it belongs to the caller.
class CodecRefPack : public Codec
{
public:
    // The command sequence of fewest bytes, chosen by dynamic programming from the end.
    ByteArray* compress(const ByteArray& in) override;
    // Never null (short of memory): a stream that does not fill expectedSize logs a "RefPack"
    // warning and the result holds the bytes produced, so callers compare its count.
    ByteArray* decompress(const ByteArray& in, u32 expectedSize) override;
};
