#pragma once
#include "gamedata/codecs/Codec.h"

// Bit-packed LZSS of CRC-TRE entries: a 4096-byte circular window, 12-bit window positions and
// 4-bit lengths, bits packed most significant first, last byte padded with zero bits.
//
//   literal  1 bbbbbbbb             the byte itself
//   match    0 pppppppppppp llll    copy l + 2 bytes from window position p (p != 0)
//   end      0 000000000000
//
// Both sides start from a zero-filled window and store the first byte produced at position 1.
// Archives repack every compressed entry on each write, so the encoder must make exactly the
// stream the original tool made: its binary-tree search is kept quirk for quirk.
class CodecLZSS : public Codec
{
public:
    ByteArray* compress(const ByteArray& in) override;
    // Exactly expectedSize bytes, or null when the stream ends short of them.
    ByteArray* decompress(const ByteArray& in, u32 expectedSize) override;
};
