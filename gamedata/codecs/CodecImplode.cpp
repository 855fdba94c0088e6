#include "gamedata/codecs/CodecImplode.h"
#include "framework/core/ByteBuffer.h"

#include <cstring>

namespace
{
constexpr u32 MAX_REPEAT = 516;
constexpr u32 END_LENGTH = 519;
constexpr u32 WINDOW = 4096;

// The published tables of the Data Compression Library. Codes are given as they appear in
// the stream, first bit lowest.
constexpr u8 LEN_BITS[16] = {3, 2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};
constexpr u8 LEN_CODE[16] = {5, 3, 1, 6, 10, 2, 12, 20, 4, 24, 8, 48, 16, 32, 64, 0};
constexpr u8 EXTRA_LEN_BITS[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr u16 LEN_BASE[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 14, 22, 38, 70, 134, 262};
constexpr u8 DIST_BITS[64] = {2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                              7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                              7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
constexpr u8 DIST_CODE[64] = {0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16,
                              0x26, 0x06, 0x3A, 0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C,
                              0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C, 0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44,
                              0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08, 0xF0, 0x70, 0xB0, 0x30,
                              0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};
// Code lengths of the ASCII literal table in runs: low nibble the length, high nibble the
// run length minus one. The codes are canonical with inverted bits, shortest first.
constexpr u8 ASCII_LENGTH_RUNS[] = {
    11, 124, 8,  7,  28, 7,  188, 13,  76,  4,   10,  8,   12,  10, 12, 10, 8,  23, 8,  9,  7,  6,  7,  8,
    7,  6,   55, 8,  23, 24, 12,  11,  7,   9,   11,  12,  6,   7,  22, 5,  7,  24, 6,  11, 9,  6,  7,  22,
    7,  11,  38, 7,  9,  8,  25,  11,  8,   11,  9,   12,  8,   12, 5,  38, 5,  38, 5,  11, 7,  5,  6,  21,
    6,  10,  53, 8,  7,  24, 10,  27,  44,  253, 253, 253, 252, 252, 252, 13, 12, 45, 12, 45, 12, 61, 12, 45,
    44, 173};

struct Tables
{
    u8 asciiBits[256];
    u16 asciiCode[256];
    // Decoding by the next bits of the stream: symbol in the low byte, code length above.
    u16 asciiDecode[8192];
    u16 lengthDecode[128];
    u16 distanceDecode[256];
    // Encoding of a repetition length: class and extra bits of length - 2.
    u8 lengthClass[MAX_REPEAT + 2];
};

constexpr Tables makeTables()
{
    Tables t{};
    u32 sym = 0;
    for (u8 run : ASCII_LENGTH_RUNS)
        for (u32 k = 0; k <= u32(run >> 4); k++)
            t.asciiBits[sym++] = run & 15;
    u32 code = 0;
    for (u32 len = 1; len <= 13; len++) {
        for (u32 s = 0; s < 256; s++) {
            if (t.asciiBits[s] != len)
                continue;
            u32 inverted = ~code & ((1u << len) - 1);
            u32 reversed = 0;
            for (u32 b = 0; b < len; b++)
                reversed |= ((inverted >> (len - 1 - b)) & 1) << b;
            t.asciiCode[s] = u16(reversed);
            code++;
        }
        code <<= 1;
    }
    for (u32 s = 0; s < 256; s++)
        for (u32 i = t.asciiCode[s]; i < 8192; i += 1u << t.asciiBits[s])
            t.asciiDecode[i] = u16(s | (t.asciiBits[s] << 8));
    for (u32 c = 0; c < 16; c++)
        for (u32 i = LEN_CODE[c]; i < 128; i += 1u << LEN_BITS[c])
            t.lengthDecode[i] = u16(c | (LEN_BITS[c] << 8));
    for (u32 c = 0; c < 64; c++)
        for (u32 i = DIST_CODE[c]; i < 256; i += 1u << DIST_BITS[c])
            t.distanceDecode[i] = u16(c | (DIST_BITS[c] << 8));
    for (u32 c = 0; c < 16; c++)
        for (u32 v = LEN_BASE[c]; v < LEN_BASE[c] + (1u << EXTRA_LEN_BITS[c]) && v <= MAX_REPEAT; v++)
            t.lengthClass[v] = u8(c);
    return t;
}

constexpr Tables TABLES = makeTables();

// ---- decoding -------------------------------------------------------------------------

// Tops the bit buffer up to at least 57 bits, or as far as the input goes.
void fillBits(ExplodeWork* w, ImplodeReadFn read, void* context)
{
    while (w->bitCount <= 56) {
        if (w->inputPosition == w->inputCount) {
            if (w->inputEnded)
                return;
            u32 want = sizeof(w->input);
            w->inputCount = read(w->input, &want, context);
            w->inputPosition = 0;
            if (w->inputCount > sizeof(w->input))
                w->inputCount = 0;
            if (!w->inputCount) {
                w->inputEnded = 1;
                return;
            }
        }
        w->bits |= u64(w->input[w->inputPosition++]) << w->bitCount;
        w->bitCount += 8;
    }
}

// Copies a repetition forward, so a distance below its length repeats the bytes it has just
// written. Writes whole words: up to 7 bytes past the end, which the window has room for.
inline void copyMatch(u8* to, u32 distance, u32 length)
{
    const u8* from = to - distance;
    if (distance >= 8) {
        for (u32 i = 0; i < length; i += 8)
            memcpy(to + i, from + i, 8);
        return;
    }
    if (distance == 1) {
        memset(to, from[0], length);
        return;
    }
    // The run is the last `distance` bytes over and over. A word of it at one offset, shifted
    // by 8 mod distance bytes and refilled from its own low bytes, is the word 8 bytes on.
    u8 first[8];
    memcpy(first, from, 8);
    for (u32 i = distance; i < 8; i++)
        first[i] = first[i - distance];
    u64 word;
    memcpy(&word, first, 8);
    const u32 shift = 8 * (8 % distance);
    const u32 refill = 8 * distance - shift;
    for (u32 i = 0; i < length; i += 8) {
        memcpy(to + i, &word, 8);
        word = (word >> shift) | (word << refill);
    }
}

// ---- encoding -------------------------------------------------------------------------

// Candidates are checked byte for byte, so any spread over the buckets chooses the same
// matches; these keep the chains short.
inline u32 pairHash(const u8* p)
{
    return ((u32(p[0]) << 8 | p[1]) * 2654435761u) >> 19;
}

inline u32 tripleHash(const u8* p)
{
    return ((u32(p[0]) << 16 | u32(p[1]) << 8 | p[2]) * 2654435761u) >> 18;
}

inline void putBits(ImplodeWork* w, ImplodeWriteFn write, void* context, u32 value, u32 n)
{
    w->bits |= u64(value) << w->bitCount;
    w->bitCount += n;
    while (w->bitCount >= 8) {
        w->output[w->outputCount++] = u8(w->bits);
        w->bits >>= 8;
        w->bitCount -= 8;
        if (w->outputCount == 2048) {
            u32 size = 2048;
            write(w->output, &size, context);
            w->outputCount = 0;
        }
    }
}

struct Match
{
    u32 length;
    u32 distance;
};

// Reads until `pos` has 517 bytes after it or the input ends, keeping 4096 bytes of history.
void feedWindow(ImplodeWork* w, ImplodeReadFn read, void* context, u64 pos)
{
    while (!w->inputEnded && w->windowEnd - pos < MAX_REPEAT + 2) {
        if (w->windowEnd - w->windowBase + WINDOW > sizeof(w->window) - 16) {
            u64 keepFrom = pos > WINDOW ? pos - WINDOW : 0;
            u64 drop = keepFrom - w->windowBase;
            memmove(w->window, w->window + drop, size_t(w->windowEnd - keepFrom));
            w->windowBase = keepFrom;
        }
        u32 loaded = 0;
        while (loaded < WINDOW) {
            u32 want = WINDOW - loaded;
            u32 got = read(w->window + (w->windowEnd - w->windowBase) + loaded, &want, context);
            if (!got || got > WINDOW - loaded) {
                w->inputEnded = 1;
                break;
            }
            loaded += got;
        }
        w->windowEnd += loaded;
    }
}

// Indexes position q by its first two bytes and, when there are three, by its first three.
void insertPosition(ImplodeWork* w, u64 q, bool triple)
{
    const u8* p = w->window + (q - w->windowBase);
    u32 h = pairHash(p);
    w->pairChain[q & 8191] = w->pairHead[h];
    w->pairHead[h] = u32(q + 1);
    if (triple) {
        u32 t = tripleHash(p);
        w->tripleChain[q & 8191] = w->tripleHead[t];
        w->tripleHead[t] = u32(q + 1);
    }
}

inline u16 load16(const u8* p)
{
    u16 v;
    memcpy(&v, p, 2);
    return v;
}

inline u64 load64(const u8* p)
{
    u64 v;
    memcpy(&v, p, 8);
    return v;
}

inline u32 load32(const u8* p)
{
    u32 v;
    memcpy(&v, p, 4);
    return v;
}

// The longest earlier occurrence of the bytes at pos, the nearest of equal ones. A match of
// three bytes or more starts with the same three bytes, so only that chain is searched for
// it; without one, the nearest occurrence of the first two bytes is the answer.
Match findMatch(const ImplodeWork* w, u64 pos, u32 maxDistance)
{
    Match best = {0, 0};
    u64 left = w->windowEnd - pos;
    u32 limit = left < MAX_REPEAT ? u32(left) : MAX_REPEAT;
    if (limit < 2)
        return best;
    const u8* cur = w->window + (pos - w->windowBase);
    // Distances in 32 bits: links are the low bits of position + 1.
    const u32 here = u32(pos + 1);
    if (limit >= 3) {
        const u32 triple = load32(cur) & 0xFFFFFF;
        u32 bestLength = 2;
        for (u32 link = w->tripleHead[tripleHash(cur)]; link; link = w->tripleChain[(link - 1) & 8191]) {
            u32 distance = here - link;
            if (distance > maxDistance)
                break;
            const u8* prev = cur - distance;
            // Longer than the best only if the four bytes ending at its length agree.
            if (bestLength >= 3 && load32(prev + bestLength - 3) != load32(cur + bestLength - 3))
                continue;
            if ((load32(prev) & 0xFFFFFF) != triple)
                continue;
            // Eight bytes at a time; the window has room behind its data for the last read.
            u32 length = 3;
            while (length < limit) {
                u64 diff = load64(prev + length) ^ load64(cur + length);
                if (diff) {
                    length += u32(__builtin_ctzll(diff) >> 3);
                    break;
                }
                length += 8;
            }
            if (length > limit)
                length = limit;
            if (length > bestLength) {
                bestLength = length;
                best = {length, distance};
                if (length == limit)
                    break;
            }
        }
        if (best.length)
            return best;
    }
    const u16 pair = load16(cur);
    for (u32 link = w->pairHead[pairHash(cur)]; link; link = w->pairChain[(link - 1) & 8191]) {
        u32 distance = here - link;
        if (distance > maxDistance)
            break;
        if (load16(cur - distance) == pair)
            return {2, distance};
    }
    return best;
}
}

i32 explode(ImplodeReadFn read, ImplodeWriteFn write, ExplodeWork* w, void* context)
{
    u32 want = sizeof(w->input);
    w->inputCount = read(w->input, &want, context);
    if (w->inputCount > sizeof(w->input))
        w->inputCount = 0;
    // Header and at least the first byte of an end mark; the encoder's empty stream is 4 bytes.
    if (w->inputCount < 3)
        return EXPLODE_TOO_SHORT;
    u32 type = w->input[0];
    u32 dictBits = w->input[1];
    if (dictBits < 4 || dictBits > 6)
        return EXPLODE_BAD_DICTIONARY;
    if (type != IMPLODE_BINARY && type != IMPLODE_ASCII)
        return EXPLODE_BAD_TYPE;
    const Tables& t = TABLES;
    u8* window = w->window;
    u32 out = WINDOW;
    i32 result = EXPLODE_DAMAGED;
    // The bit buffer lives in locals; bits above `count` may hold bytes read ahead.
    u64 bits = 0;
    u32 count = 0;
    u32 inPos = 2;
    auto take = [&](u32 n) {
        u32 v = u32(bits & ((1ull << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    };
    for (;;) {
        // One token takes at most 30 bits.
        if (count < 30) {
            if (w->inputCount - inPos >= 8) {
                bits |= load64(w->input + inPos) << count;
                inPos += (63 - count) >> 3;
                count |= 56;
            } else {
                w->bits = bits & ((1ull << count) - 1);
                w->bitCount = count;
                w->inputPosition = inPos;
                fillBits(w, read, context);
                bits = w->bits;
                count = w->bitCount;
                inPos = w->inputPosition;
            }
        }
        if (count < 1)
            break;
        if (!(bits & 1)) {
            u32 byte;
            if (type == IMPLODE_BINARY) {
                if (count < 9)
                    break;
                byte = u32(bits >> 1) & 0xFF;
                bits >>= 9;
                count -= 9;
            } else {
                u32 entry = t.asciiDecode[(bits >> 1) & 8191];
                u32 n = 1 + (entry >> 8);
                if (count < n)
                    break;
                byte = entry & 0xFF;
                bits >>= n;
                count -= n;
            }
            window[out++] = u8(byte);
        } else {
            u32 entry = t.lengthDecode[(bits >> 1) & 127];
            u32 n = 1 + (entry >> 8);
            if (count < n)
                break;
            take(n);
            u32 cls = entry & 0xFF;
            u32 extraBits = EXTRA_LEN_BITS[cls];
            if (count < extraBits) {
                // The end mark's extra bits are all ones and may be cut off.
                u64 mask = (1ull << count) - 1;
                if (cls == 15 && (bits & mask) == mask)
                    result = EXPLODE_OK;
                break;
            }
            u32 length = LEN_BASE[cls] + take(extraBits) + 2;
            if (length == END_LENGTH) {
                result = EXPLODE_OK;
                break;
            }
            u32 dEntry = t.distanceDecode[bits & 255];
            u32 dn = dEntry >> 8;
            u32 lowBits = length == 2 ? 2 : dictBits;
            if (count < dn + lowBits)
                break;
            take(dn);
            u32 distance = (((dEntry & 0xFF) << lowBits) | take(lowBits)) + 1;
            copyMatch(window + out, distance, length);
            out += length;
        }
        if (out >= 2 * WINDOW) {
            u32 size = WINDOW;
            write(window + WINDOW, &size, context);
            memmove(window, window + WINDOW, out - WINDOW);
            out -= WINDOW;
        }
    }
    if (out > WINDOW) {
        u32 size = out - WINDOW;
        write(window + WINDOW, &size, context);
    }
    return result;
}

i32 implode(ImplodeReadFn read, ImplodeWriteFn write, ImplodeWork* w, void* context, u32 type, u32 dictionarySize)
{
    u32 dictBits;
    if (dictionarySize == 1024)
        dictBits = 4;
    else if (dictionarySize == 2048)
        dictBits = 5;
    else if (dictionarySize == 4096)
        dictBits = 6;
    else
        return IMPLODE_BAD_DICTIONARY;
    if (type != IMPLODE_BINARY && type != IMPLODE_ASCII)
        return IMPLODE_BAD_TYPE;

    const Tables& t = TABLES;
    // The library's encoder reaches one byte less far back than the stream could.
    const u32 maxDistance = dictionarySize - 1;
    w->output[0] = u8(type);
    w->output[1] = u8(dictBits);
    w->outputCount = 2;
    w->bits = 0;
    w->bitCount = 0;
    w->windowBase = 0;
    w->windowEnd = 0;
    w->inputEnded = 0;

    auto literal = [&](u8 byte) {
        if (type == IMPLODE_BINARY)
            putBits(w, write, context, u32(byte) << 1, 9);
        else
            putBits(w, write, context, u32(t.asciiCode[byte]) << 1, 1 + t.asciiBits[byte]);
    };
    auto repeat = [&](Match m) {
        u32 cls = t.lengthClass[m.length - 2];
        putBits(w, write, context, 1u | (u32(LEN_CODE[cls]) << 1), 1 + LEN_BITS[cls]);
        if (EXTRA_LEN_BITS[cls])
            putBits(w, write, context, m.length - 2 - LEN_BASE[cls], EXTRA_LEN_BITS[cls]);
        u32 v = m.distance - 1;
        u32 lowBits = m.length == 2 ? 2 : dictBits;
        u32 dcls = v >> lowBits;
        putBits(w, write, context, DIST_CODE[dcls] | ((v & ((1u << lowBits) - 1)) << DIST_BITS[dcls]),
                DIST_BITS[dcls] + lowBits);
    };

    u64 pos = 0;
    u64 inserted = 0;
    auto insertBelow = [&](u64 limit) {
        // A position is indexed once the byte after it is in; the last byte never starts a pair.
        for (; inserted < limit && inserted + 1 < w->windowEnd; inserted++)
            insertPosition(w, inserted, inserted + 2 < w->windowEnd);
    };
    Match pending = {0, 0};
    bool havePending = false;
    for (;;) {
        feedWindow(w, read, context, pos);
        if (pos >= w->windowEnd)
            break;
        insertBelow(pos);
        Match m = havePending ? pending : findMatch(w, pos, maxDistance);
        havePending = false;
        const u8* here = w->window + (pos - w->windowBase);
        if (m.length < 2 || (m.length == 2 && m.distance > 256)) {
            literal(here[0]);
            pos++;
            continue;
        }
        if (m.length < 8 && pos + 1 < w->windowEnd) {
            // A longer match one byte on may pay for a literal here.
            insertBelow(pos + 1);
            Match next = findMatch(w, pos + 1, maxDistance);
            if (next.length >= m.length + 2 || (next.length == m.length + 1 && m.distance > 129)) {
                literal(here[0]);
                pos++;
                pending = next;
                havePending = true;
                continue;
            }
        }
        repeat(m);
        pos += m.length;
    }

    putBits(w, write, context, 1u | (u32(LEN_CODE[15]) << 1), 1 + LEN_BITS[15]);
    putBits(w, write, context, 0xFF, 8);
    if (w->bitCount)
        w->output[w->outputCount++] = u8(w->bits);
    w->bits = 0;
    w->bitCount = 0;
    if (w->outputCount) {
        u32 size = w->outputCount;
        write(w->output, &size, context);
        w->outputCount = 0;
    }
    return IMPLODE_OK;
}

u32 implodeReadCallback(u8* buffer, u32* size, void* context)
{
    ImplodeStreams* s = static_cast<ImplodeStreams*>(context);
    u64 left = s->size - s->position;
    u32 n = left < *size ? u32(left) : *size;
    if (n)
        memcpy(buffer, s->data + s->position, n);
    s->position += n;
    return n;
}

void implodeWriteCallback(const u8* buffer, u32* size, void* context)
{
    static_cast<ImplodeStreams*>(context)->output->write(buffer, *size);
}

u64 explodeMaxDecodedSize(u64 inLength)
{
    // The densest token, 518 bytes, takes 22 bits.
    return inLength * 8 / 22 * 518 + 518;
}

ByteArray* CodecImplode::compress(const ByteArray& in)
{
    ByteBuffer buffer(in.count);
    ImplodeWork* work = static_cast<ImplodeWork*>(allocZeroed(sizeof(ImplodeWork)));
    if (!work || !buffer.ok()) {
        memFree(work);
        return nullptr;
    }
    ImplodeStreams source = {in.data, in.data ? in.count : 0u, 0, &buffer};
    implode(implodeReadCallback, implodeWriteCallback, work, &source, IMPLODE_BINARY, 4096);
    memFree(work);
    return buffer.ok() ? buffer.toArray() : nullptr;
}

namespace
{
// The codec's own output of explode: a buffer that grows as blocks arrive.
struct ExplodeOutput
{
    ImplodeStreams input;
    // Where the input block being decoded starts: the bytes before it are used up. The first
    // blocks are short, so that a dense start is told by its rate rather than by a whole block.
    u64 blockStart;
    u32 reads;
    u8* data;
    u64 length;
    u64 capacity;
    // Growth stops at the claim until the bytes pass it, then at the stream's bound.
    u64 claim;
    u64 bound;
    bool failed;
};

u32 readExplodeInput(u8* buffer, u32* size, void* context)
{
    ExplodeOutput* o = static_cast<ExplodeOutput*>(context);
    const u32 most = 64u << (o->reads < 5 ? o->reads : 5);
    u32 want = *size < most ? *size : most;
    o->reads++;
    o->blockStart = o->input.position;
    return implodeReadCallback(buffer, &want, &o->input);
}

void writeExplodeOutput(const u8* buffer, u32* size, void* context)
{
    ExplodeOutput* o = static_cast<ExplodeOutput*>(context);
    const u64 needed = o->length + *size;
    if (o->failed || !*size)
        return;
    // A result holds at most 4 GiB - 1 bytes.
    if (needed > UINT32_MAX) {
        o->failed = true;
        return;
    }
    if (needed > o->capacity) {
        u64 ceiling = needed <= o->claim ? o->claim : o->bound > needed ? o->bound : needed;
        if (ceiling > UINT32_MAX)
            ceiling = UINT32_MAX;
        const u64 grown = nextOutputSize(o->capacity, needed, ceiling, o->length, o->blockStart, o->input.size);
        u8* bigger = moveOutput(o->data, o->length, grown);
        if (!bigger) {
            o->failed = true;
            return;
        }
        o->data = bigger;
        o->capacity = grown;
    }
    memcpy(o->data + o->length, buffer, *size);
    o->length = needed;
}
}

ByteArray* CodecImplode::decompress(const ByteArray& in, u32 expectedSize)
{
    // The claim only caps where the output starts; it grows as blocks arrive, past the claim
    // too, since the result is not held to it.
    const u64 n = in.data ? in.count : 0;
    const u64 bound = explodeMaxDecodedSize(n);
    const u64 claim = expectedSize < bound ? expectedSize : bound;
    const u64 first = firstOutputSize(claim, n, 8);
    ExplodeWork* work = static_cast<ExplodeWork*>(allocZeroed(sizeof(ExplodeWork)));
    u8* data = first ? static_cast<u8*>(memAlloc(first)) : nullptr;
    if (!work || (first && !data)) {
        memFree(work);
        memFree(data);
        return nullptr;
    }
    ExplodeOutput output = {{in.data, n, 0, nullptr}, 0, 0, data, 0, first, claim, bound, false};
    i32 r = explode(readExplodeInput, writeExplodeOutput, work, &output);
    memFree(work);
    if (r != EXPLODE_OK || output.failed) {
        memFree(output.data);
        return nullptr;
    }
    return takeOutput(output.data, output.capacity, u32(output.length));
}
