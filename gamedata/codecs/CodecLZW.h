#pragma once
#include "gamedata/codecs/Codec.h"

// GIF-style LZW with 8-bit roots, as PAK entries of method 1 store it. Codes are packed least
// significant bit first, 9 to 12 bits wide: 0-255 literal bytes, 256 clear, 257 end of stream,
// 258-4095 dictionary strings. A stream starts with a clear code and ends with an end code
// followed by zero bits up to the byte boundary. The decoder widens codes once it has defined
// slot 511, 1023 and 2047; the encoder, one step ahead, widens when its next slot would be
// 512, 1024 or 2048 and, with all 4096 slots taken at 12 bits, sends a clear code.
constexpr u32 LZW_BLOCK_SIZE = 32768;
constexpr u16 LZW_CLEAR_CODE = 256;
constexpr u16 LZW_END_CODE = 257;
constexpr u16 LZW_FIRST_CODE = 258;

// The working state of one encoding or decoding run. Zero-fill it before the first call and
// hand the same state to every call of the run.
struct LzwState
{
    u32 codeWidth;
    u16 nextCode;
    // Decoder: the last data code read (257 = none). Encoder: the last code written.
    u16 previousCode;
    // Bits 0-7 the string's last byte, bits 8-19 its prefix code, bits 20-31 its length - 1.
    u32 dictionary[4096];
    u16 hashHead[8192];
    u16 hashNext[4096];
    // FNV-1a of each code's whole string.
    u32 stringHash[4096];
    u8 initialised;
    u8 tableFull;
    u64 inputPosition;
    u64 outputPosition;
    u32 bitBuffer;
    u32 bitCount;
};

void lzwReset(LzwState& state);
// Bytes written into dst by this call (0 = nothing more), or -1 destination too small,
// -2 invalid code stream, -3 string table full.
i64 lzwDecode(LzwState& state, const u8* src, u64 srcLen, u8* dst, u64 dstCapacity);
// Bytes written into dst (at most LZW_BLOCK_SIZE) by this call; 0 once the stream is complete.
i64 lzwEncode(LzwState& state, const u8* src, u64 srcLen, u8* dst);
const char* lzwErrorText(i64 result);
// The most bytes a stream of inLength bytes can decode to.
u64 lzwMaxDecodedSize(u64 inLength);

class CodecLZW : public Codec
{
public:
    ByteArray* compress(const ByteArray& in) override;
    ByteArray* decompress(const ByteArray& in, u32 expectedSize) override;
};
