#include "gamedata/codecs/CodecLZWX.h"

#include <cstring>

namespace
{
constexpr u32 MAX_WIDTH = 12;
constexpr u32 TABLE_SLOTS = 8192;
// A claim up to this many times the input is allocated at once (see firstOutputSize).
constexpr u64 PLAUSIBLE_RATIO = 4;

// Codes written least significant bit first into a zero-filled buffer sized by the caller.
struct BitWriter
{
    u8* out;
    u64 bits = 0;

    void put(u32 code, u32 width)
    {
        u64 at = bits >> 3;
        u32 v = code << (bits & 7);
        out[at] |= u8(v);
        out[at + 1] |= u8(v >> 8);
        out[at + 2] |= u8(v >> 16);
        bits += width;
    }
    u64 bytes() const { return (bits + 7) >> 3; }
};

// The decoder's count of codes and width, which the encoder keeps in step: every code but the
// first after a reset defines one entry.
struct WidthRule
{
    u32 next = LZWX_FIRST_CODE;
    u32 width = 9;
    bool first = true;

    void afterCode()
    {
        if (!first && next < LZWX_CODE_LIMIT) {
            next++;
            if (next == (1u << width) && width < MAX_WIDTH)
                width++;
        }
        first = false;
    }
    void reset()
    {
        next = LZWX_FIRST_CODE;
        width = 9;
        first = true;
    }
};

// The encoder's dictionary: open addressing on (prefix code, byte).
struct Slot
{
    u32 prefix;
    u32 code;
    u8 byte;
    u8 used;
};

ByteArray* takeBits(u8* buffer, const BitWriter& w)
{
    ByteArray* result = memNew<ByteArray>(buffer, u32(w.bytes()));
    memFree(buffer);
    if (result && !result->data) {
        deleteByteArray(result);
        return nullptr;
    }
    return result;
}
}

u64 lzwxMaxDecodedSize(u64 inLength)
{
    // The k-th code spells at most k bytes (each entry is one longer than a string before it),
    // and no string is longer than the dictionary holds.
    u64 codes = inLength * 8 / 9;
    u64 triangle = codes * (codes + 1) / 2;
    u64 flat = codes * LZWX_CODE_LIMIT;
    return triangle < flat ? triangle : flat;
}

CodecLZWX::CodecLZWX() : dictionary(static_cast<Entry*>(allocZeroed(sizeof(Entry) * LZWX_CODE_LIMIT)))
{
}

CodecLZWX::~CodecLZWX()
{
    memFree(dictionary);
}

// Entries from the next free code up are never read, so a reset leaves them as they are: a
// stream of nothing but resets costs no more than its length.
void CodecLZWX::reset()
{
    nextCode = LZWX_FIRST_CODE;
    width = 9;
    previousPosition = 0;
    previousLength = 0;
}

// The previous string plus the byte that follows it, cut at the end of the output.
void CodecLZWX::addEntry(u32 outputSize)
{
    if (!previousLength || nextCode >= LZWX_CODE_LIMIT)
        return;
    u32 length = previousLength + 1;
    if (length > outputSize - previousPosition)
        length = outputSize - previousPosition;
    dictionary[nextCode] = {previousPosition, u16(length)};
    nextCode++;
    if (nextCode == (1u << width) && width < MAX_WIDTH)
        width++;
}

ByteArray* CodecLZWX::decompress(const ByteArray& in, u32 expectedSize)
{
    const u8* src = in.data;
    const u64 size = in.data ? in.count : 0;
    // A size claimed by a header is not trusted beyond what the stream could spell, and even
    // then only as a ceiling: the output grows as codes fill it.
    if (!dictionary || expectedSize > lzwxMaxDecodedSize(size))
        return nullptr;
    u64 capacity = firstOutputSize(expectedSize, size, PLAUSIBLE_RATIO);
    u8* out = capacity ? static_cast<u8*>(memAlloc(capacity)) : nullptr;
    if (capacity && !out)
        return nullptr;
    reset();
    outputPosition = 0;
    u64 bit = 0;
    while ((bit >> 3) + 2 < size) {
        const u8* p = src + (bit >> 3);
        u32 code = ((u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16) >> (bit & 7)) & ((1u << width) - 1);
        bit += width;
        if (code == LZWX_END_CODE)
            break;
        if (code == LZWX_RESET_CODE) {
            reset();
            continue;
        }
        // The code being defined is the previous string and its own first byte.
        const bool defining = code == nextCode;
        if (defining)
            addEntry(expectedSize);
        u32 from = 0, length = 0;
        if (code < 256) {
            length = 1;
        } else if (code < nextCode) {
            from = dictionary[code].position;
            length = dictionary[code].length;
        }
        // The capacity never passes the claim: a string that fits the buffer fits the claim.
        if (length > capacity - outputPosition) {
            if (length > expectedSize - outputPosition)
                break;
            const u64 want = nextOutputSize(capacity, u64(outputPosition) + length, expectedSize, outputPosition,
                                            bit >> 3, size);
            u8* bigger = moveOutput(out, outputPosition, want);
            if (!bigger)
                break;
            out = bigger;
            capacity = want;
        }
        if (code < 256) {
            out[outputPosition] = u8(code);
        } else if (length && from + length <= outputPosition) {
            memcpy(out + outputPosition, out + from, length);
        } else {
            // Reaches into its own output: forward, byte by byte, so its last byte is its first.
            for (u32 i = 0; i < length; i++)
                out[outputPosition + i] = out[from + i];
        }
        if (!defining)
            addEntry(expectedSize);
        previousPosition = outputPosition;
        previousLength = length;
        outputPosition += length;
    }
    // A complete output fills the buffer exactly: the capacity never passes the claim.
    if (outputPosition != expectedSize) {
        memFree(out);
        return nullptr;
    }
    return takeOutput(out, capacity, expectedSize);
}

ByteArray* CodecLZWX::literalStream(const ByteArray& in)
{
    const u64 n = in.data ? in.count : 0;
    // 12 bits per byte at most, a reset per 3839 bytes, and the codes around them.
    u8* buffer = static_cast<u8*>(allocZeroed(2 * n + 16));
    if (!buffer)
        return nullptr;
    BitWriter w{buffer};
    WidthRule rule;
    w.put(LZWX_RESET_CODE, rule.width);
    for (u64 i = 0; i < n; i++) {
        w.put(in.data[i], rule.width);
        rule.afterCode();
        if (rule.next == LZWX_CODE_LIMIT && i + 1 < n) {
            w.put(LZWX_RESET_CODE, rule.width);
            rule.reset();
        }
    }
    w.put(LZWX_END_CODE, rule.width);
    return takeBits(buffer, w);
}

ByteArray* CodecLZWX::compress(const ByteArray& in)
{
    const u64 n = in.data ? in.count : 0;
    if (n == 0)
        return literalStream(in);
    u8* buffer = static_cast<u8*>(allocZeroed(2 * n + 16));
    Slot* table = static_cast<Slot*>(allocZeroed(sizeof(Slot) * TABLE_SLOTS));
    if (!buffer || !table) {
        memFree(buffer);
        memFree(table);
        return nullptr;
    }
    BitWriter w{buffer};
    WidthRule rule;
    // One ahead of the decoder: it learns each entry from the code after the one that made it.
    u32 nextEntry = LZWX_FIRST_CODE;
    w.put(LZWX_RESET_CODE, rule.width);
    u32 current = in.data[0];
    for (u64 i = 1; i < n; i++) {
        const u8 c = in.data[i];
        u32 h = (current * 31 + c) & (TABLE_SLOTS - 1);
        bool found = false;
        for (u32 k = 0; k < TABLE_SLOTS && table[h].used; k++) {
            if (table[h].prefix == current && table[h].byte == c) {
                found = true;
                break;
            }
            h = (h + 1) & (TABLE_SLOTS - 1);
        }
        if (found) {
            current = table[h].code;
            continue;
        }
        w.put(current, rule.width);
        rule.afterCode();
        if (nextEntry < LZWX_CODE_LIMIT && !table[h].used) {
            table[h] = {current, nextEntry, c, 1};
            nextEntry++;
        } else {
            w.put(LZWX_RESET_CODE, rule.width);
            rule.reset();
            nextEntry = LZWX_FIRST_CODE;
            memset(table, 0, sizeof(Slot) * TABLE_SLOTS);
        }
        current = c;
    }
    w.put(current, rule.width);
    rule.afterCode();
    w.put(LZWX_END_CODE, rule.width);
    memFree(table);
    ByteArray* stream = takeBits(buffer, w);
    if (!stream)
        return nullptr;

    ByteArray* check = decompress(*stream, u32(n));
    bool good = check && memcmp(check->data, in.data, size_t(n)) == 0;
    deleteByteArray(check);
    if (good)
        return stream;
    deleteByteArray(stream);
    return literalStream(in);
}

ByteArray* decompressLZWX(const ByteArray& in, u32 expectedSize)
{
    CodecLZWX codec;
    return codec.decompress(in, expectedSize);
}

ByteArray* compressLZWX(const ByteArray& in)
{
    CodecLZWX codec;
    return codec.compress(in);
}
