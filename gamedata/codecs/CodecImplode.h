#pragma once
#include "gamedata/codecs/Codec.h"

// The PKWARE Data Compression Library "implode" stream, as PAK entries of method 3 store it.
// Byte 0 is the literal coding (0 binary, 1 ASCII), byte 1 the dictionary size in bits (4, 5
// or 6 for 1024, 2048 or 4096 bytes); then a bit stream read least significant bit first.
// Each token starts with one bit. 0: a literal, the next 8 bits in binary mode or a code of the
// ASCII literal table. 1: a repetition: a length class code with its extra bits gives 2 to 518
// (519 marks the end), then a distance class code and its low bits (2 bits for length 2, else
// the dictionary size bits) give the distance minus one. Copies may overlap their own output
// and, before the first byte, copy zeros.
constexpr u32 IMPLODE_BINARY = 0;
constexpr u32 IMPLODE_ASCII = 1;

enum ExplodeResult : i32
{
    EXPLODE_OK = 0,
    EXPLODE_BAD_DICTIONARY = 1,
    EXPLODE_BAD_TYPE = 2,
    EXPLODE_TOO_SHORT = 3,
    EXPLODE_DAMAGED = 4,
};

enum ImplodeResult : i32
{
    IMPLODE_OK = 0,
    IMPLODE_BAD_DICTIONARY = 1,
    IMPLODE_BAD_TYPE = 2,
};

// Fills at most *size bytes; returns how many it delivered, 0 once the input is exhausted.
typedef u32 (*ImplodeReadFn)(u8* buffer, u32* size, void* context);
// Takes *size bytes of output.
typedef void (*ImplodeWriteFn)(const u8* buffer, u32* size, void* context);

// Work areas: zero-fill before each run.
struct ExplodeWork
{
    u8 input[2048];
    u32 inputCount;
    u32 inputPosition;
    u8 inputEnded;
    u64 bits;
    u32 bitCount;
    // 4096 bytes of history, up to 4096 new bytes, one more token, room for 8-byte copies.
    u8 window[4096 + 4096 + 518 + 8];
};

struct ImplodeWork
{
    // Absolute input position of window[0]; the window holds history, block and look-ahead.
    u64 windowBase;
    u64 windowEnd;
    u8 inputEnded;
    // Behind the data, 16 bytes for word-wide compares.
    u8 window[3 * 4096 + 1024 + 16];
    // Heads per hash of the first two and of the first three bytes, and a chain per position
    // for each, all holding the low 32 bits of position + 1 (0 = none).
    u32 pairHead[8192];
    u32 pairChain[8192];
    u32 tripleHead[16384];
    u32 tripleChain[8192];
    u64 bits;
    u32 bitCount;
    u32 outputCount;
    u8 output[2048 + 16];
};

i32 explode(ImplodeReadFn read, ImplodeWriteFn write, ExplodeWork* work, void* context);
i32 implode(ImplodeReadFn read, ImplodeWriteFn write, ImplodeWork* work, void* context, u32 type,
            u32 dictionarySize);

// The context of the codec operations' callbacks: input read from the front of a byte range,
// output appended to a buffer.
class ByteBuffer;
struct ImplodeStreams
{
    const u8* data;
    u64 size;
    u64 position;
    ByteBuffer* output;
};
u32 implodeReadCallback(u8* buffer, u32* size, void* context);
void implodeWriteCallback(const u8* buffer, u32* size, void* context);
// The most bytes a stream of inLength bytes can decode to.
u64 explodeMaxDecodedSize(u64 inLength);

class CodecImplode : public Codec
{
public:
    ByteArray* compress(const ByteArray& in) override;
    // The result's size is not compared with expectedSize, which only caps where the output
    // starts: it grows as blocks arrive.
    ByteArray* decompress(const ByteArray& in, u32 expectedSize) override;
};
