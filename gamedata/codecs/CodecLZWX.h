#pragma once
#include "gamedata/codecs/Codec.h"

// The LZW variant of XTRE entries (compression type 2) and "LZWX" IFF chunks. Codes are packed
// least significant bit first, 9 to 12 bits wide: 0-255 a byte, 256 reset (width 9, next free
// code 258, empty dictionary), 257 end of stream, 258 and up dictionary strings. Every code but
// the first after a reset defines the next free code as the previous string plus the first
// byte of its own; when the next free code reaches 2^width below 12 bits, the following code is
// one bit wider. A full dictionary (4096) takes no more entries. The decoder reads a code only
// while two whole bytes follow the byte it starts in, so a stream is complete once its output
// is: an end code in the last two bytes is never read. Every stream written here begins with
// 256 and ends with 257; a stream that does not decode back to its input is replaced by one of
// literal codes only.
constexpr u32 LZWX_RESET_CODE = 256;
constexpr u32 LZWX_END_CODE = 257;
constexpr u32 LZWX_FIRST_CODE = 258;
constexpr u32 LZWX_CODE_LIMIT = 4096;

// The most bytes a stream of inLength bytes can decode to.
u64 lzwxMaxDecodedSize(u64 inLength);

class CodecLZWX : public Codec
{
public:
    CodecLZWX();
    ~CodecLZWX() override;
    CodecLZWX(const CodecLZWX&) = delete;
    CodecLZWX& operator=(const CodecLZWX&) = delete;

    ByteArray* compress(const ByteArray& in) override;
    // Null unless the stream decodes to exactly expectedSize bytes. The output grows as codes
    // fill it, so a claim the stream falls short of costs no more than what it does spell.
    ByteArray* decompress(const ByteArray& in, u32 expectedSize) override;

    // Every byte as its own code; always decodable.
    static ByteArray* literalStream(const ByteArray& in);

private:
    // A string of the output being produced: strings are never copied into the dictionary.
    struct Entry
    {
        u32 position;
        u16 length;
    };

    void reset();
    void addEntry(u32 outputSize);

    Entry* dictionary;
    u32 nextCode = LZWX_FIRST_CODE;
    u32 previousPosition = 0;
    u32 previousLength = 0;
    u32 outputPosition = 0;
    u8 width = 9;
};

ByteArray* decompressLZWX(const ByteArray& in, u32 expectedSize);
ByteArray* compressLZWX(const ByteArray& in);
