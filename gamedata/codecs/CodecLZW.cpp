#include "gamedata/codecs/CodecLZW.h"
#include "framework/core/ByteBuffer.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 FNV_BASIS = 0x811C9DC5u;
constexpr u32 FNV_PRIME = 16777619u;
constexpr u16 NO_CODE = 0xFFFF;
constexpr u32 MAX_WIDTH = 12;

inline u32 wordLength(u32 word)
{
    return (word >> 20) + 1;
}

inline u32 wordPrefix(u32 word)
{
    return (word >> 8) & 0xFFF;
}

inline u32 makeWord(u32 length, u32 prefix, u32 last)
{
    return ((length - 1) << 20) | (prefix << 8) | last;
}
}

void lzwReset(LzwState& s)
{
    for (u32 i = 0; i < 256; i++) {
        s.dictionary[i] = i;
        s.stringHash[i] = (i ^ FNV_BASIS) * FNV_PRIME;
    }
    s.inputPosition = 0;
    s.outputPosition = 0;
    s.bitBuffer = 0;
    s.bitCount = 0;
    s.initialised = 1;
    s.tableFull = 0;
    s.nextCode = LZW_FIRST_CODE;
    s.previousCode = LZW_END_CODE;
    s.codeWidth = 9;
    memset(s.hashHead, 0xFF, sizeof(s.hashHead));
}

const char* lzwErrorText(i64 result)
{
    switch (result) {
    case 0:
        return "No error";
    case -1:
        return "Destination buffer too small";
    case -2:
        return "Invalid code stream";
    case -3:
        return "String table full";
    default:
        return "Unknown error";
    }
}

u64 lzwMaxDecodedSize(u64 inLength)
{
    // The k-th code after a clear defines at most k - 1 slots before it, so it spells at
    // most k bytes; no string is longer than 4096.
    u64 codes = inLength * 8 / 9;
    u64 triangle = codes * (codes + 1) / 2;
    u64 flat = codes * 4096;
    return triangle < flat ? triangle : flat;
}

namespace
{
inline u64 load64(const u8* p)
{
    u64 v;
    memcpy(&v, p, 8);
    return v;
}

// Slack the fast decoder may write behind its capacity.
constexpr u64 LZW_COPY_SLACK = 16;

// Decodes into out[start, capacity). With `positions` every earlier output byte of the run is
// at out[0, start), positions[c] is the offset at which code c's string was last spelled and
// positions[4096] the offset of the previous code's string: strings are then copied from the
// output instead of walked along their prefix chains, and up to LZW_COPY_SLACK bytes behind
// `capacity` may be written.
template <bool FAST>
i64 decodeCore(LzwState& s, const u8* src, u64 srcLen, u8* out, u64 start, u64 capacity, u32* positions)
{
    if (!s.initialised)
        lzwReset(s);
    u64 in = s.inputPosition;
    u64 bits = s.bitBuffer;
    u32 pending = s.bitCount;
    u32 width = s.codeWidth;
    u32 next = s.nextCode;
    u32 previous = s.previousCode;
    bool full = s.tableFull != 0;
    u32* dict = s.dictionary;
    u8* dst = out + start;
    const u64 dstCapacity = capacity - start;
    u64 written = 0;
    u32 previousAt = FAST ? positions[4096] : 0;
    i64 result;

    for (;;) {
        if (pending < width) {
            if (in <= srcLen && srcLen - in >= 8) {
                bits |= load64(src + in) << pending;
                in += (63 - pending) >> 3;
                pending |= 56;
            } else {
                while (pending < width && in < srcLen) {
                    bits |= u64(src[in++]) << pending;
                    pending += 8;
                }
                if (pending < width) {
                    // Out of data before the end code: the stream was cut short. Empty input
                    // is the one exception, an empty stream.
                    // Bytes already out in this call are handed over first; the next call fails.
                    result = srcLen == 0 ? 0 : written ? i64(written) : -2;
                    break;
                }
            }
        }
        u32 readWidth = width;
        u32 code = u32(bits) & ((1u << width) - 1);
        if (code == LZW_CLEAR_CODE) {
            // A clear right after a clear changes nothing; stored streams depend on it.
            if (next != LZW_FIRST_CODE) {
                next = LZW_FIRST_CODE;
                previous = LZW_END_CODE;
                width = 9;
                full = false;
            }
            bits >>= readWidth;
            pending -= readWidth;
            continue;
        }
        if (code == LZW_END_CODE) {
            // Left pending, so every later call meets it again; bytes after it are never read.
            result = i64(written);
            break;
        }
        if (full) {
            result = -3;
            break;
        }
        bool repeatsPrevious = code == next;
        if (code > next || (repeatsPrevious && previous == LZW_END_CODE)) {
            result = -2;
            break;
        }
        u32 source = repeatsPrevious ? previous : code;
        u32 sourceLength = wordLength(dict[source]);
        u64 length = u64(sourceLength) + (repeatsPrevious ? 1 : 0);
        if (length > dstCapacity) {
            result = -1;
            break;
        }
        if (length > dstCapacity - written) {
            result = i64(written);
            break;
        }
        u8* to = dst + written;
        // The string's first byte is kept from the copy, not read back from where it was
        // just stored.
        u8 first;
        if (FAST && source >= 256) {
            const u8* from = out + positions[source];
            // Both words are loaded before either store: the source ends where `to` starts.
            u64 a = load64(from), b = load64(from + 8);
            memcpy(to, &a, 8);
            memcpy(to + 8, &b, 8);
            if (sourceLength > 16)
                memmove(to + 16, from + 16, sourceLength - 16);
            first = u8(a);
        } else if (FAST) {
            first = u8(source);
            to[0] = first;
        } else {
            u8* p = to + sourceLength;
            for (u32 c = source;;) {
                u32 word = dict[c];
                *--p = u8(word);
                if (c < 256)
                    break;
                c = wordPrefix(word);
            }
            first = to[0];
        }
        if (repeatsPrevious)
            to[sourceLength] = first;
        if (previous != LZW_END_CODE) {
            dict[next] = makeWord(wordLength(dict[previous]) + 1, previous, first);
            if (FAST)
                positions[next] = previousAt;
            if (next >= (1u << width) - 1) {
                if (width < MAX_WIDTH) {
                    width++;
                    next++;
                } else {
                    full = true;
                }
            } else {
                next++;
            }
        }
        if (FAST)
            previousAt = u32(start + written);
        previous = code;
        written += length;
        bits >>= readWidth;
        pending -= readWidth;
    }

    // Whole bytes read ahead go back to the input.
    in -= pending >> 3;
    pending &= 7;
    s.inputPosition = in;
    s.bitBuffer = u32(bits & ((1u << pending) - 1));
    s.bitCount = pending;
    s.codeWidth = width;
    s.nextCode = u16(next);
    s.previousCode = u16(previous);
    s.tableFull = full ? 1 : 0;
    if (FAST)
        positions[4096] = previousAt;
    return result;
}
}

i64 lzwDecode(LzwState& s, const u8* src, u64 srcLen, u8* dst, u64 dstCapacity)
{
    return decodeCore<false>(s, src, srcLen, dst, 0, dstCapacity, nullptr);
}

i64 lzwEncode(LzwState& s, const u8* src, u64 srcLen, u8* dst)
{
    if (!s.initialised) {
        lzwReset(s);
        s.bitBuffer = LZW_CLEAR_CODE;
        s.bitCount = 9;
        s.previousCode = LZW_CLEAR_CODE;
    }
    if (s.previousCode == LZW_END_CODE)
        return 0;

    u64 out = 0;
    u64 pos = s.inputPosition;
    u32 bits = s.bitBuffer;
    u32 pending = s.bitCount;
    u32 width = s.codeWidth;
    u32 next = s.nextCode;
    u32 last = s.previousCode;
    u32* dict = s.dictionary;
    bool stopped = false;

    auto put = [&](u32 code) {
        bits |= code << pending;
        pending += width;
        last = code;
    };
    auto flushBytes = [&]() {
        while (pending >= 8) {
            dst[out++] = u8(bits);
            bits >>= 8;
            pending -= 8;
        }
    };

    while (pos < srcLen) {
        // Room for a code, a clear code and the end code behind it.
        if (width / 8 + 5 + out > LZW_BLOCK_SIZE) {
            stopped = true;
            break;
        }
        u32 current = src[pos];
        u32 length = 1;
        u32 hash = (current ^ FNV_BASIS) * FNV_PRIME;
        u64 i = pos + 1;
        for (; i < srcLen; i++) {
            u32 byte = src[i];
            u32 h = (byte ^ hash) * FNV_PRIME;
            // Strings are unique per dictionary, so prefix and last byte identify the slot.
            u32 want = makeWord(length + 1, current, byte);
            u32 found = NO_CODE;
            for (u32 c = s.hashHead[h & 0x1FFF]; c != NO_CODE; c = s.hashNext[c]) {
                if (s.stringHash[c] == h && dict[c] == want) {
                    found = c;
                    break;
                }
            }
            if (found == NO_CODE)
                break;
            current = found;
            length++;
            hash = h;
        }
        put(current);
        if (i == srcLen) {
            pos = srcLen;
            flushBytes();
            break;
        }
        bool cleared = false;
        if (next == (1u << width)) {
            if (width < MAX_WIDTH) {
                width++;
            } else {
                flushBytes();
                put(LZW_CLEAR_CODE);
                width = 9;
                next = LZW_FIRST_CODE;
                memset(s.hashHead, 0xFF, sizeof(s.hashHead));
                cleared = true;
            }
        }
        if (!cleared) {
            u32 byte = src[i];
            u32 h = (byte ^ s.stringHash[current]) * FNV_PRIME;
            dict[next] = makeWord(length + 1, current, byte);
            s.stringHash[next] = h;
            s.hashNext[next] = s.hashHead[h & 0x1FFF];
            s.hashHead[h & 0x1FFF] = u16(next);
            next++;
        }
        pos += length;
        flushBytes();
    }

    if (!stopped) {
        // The decoder defines a slot on reading the last code and may widen after it, so the
        // end code must follow at the width it will then read.
        if (next == (1u << width) && width < MAX_WIDTH)
            width++;
        put(LZW_END_CODE);
        flushBytes();
        if (pending)
            dst[out++] = u8(bits);
        bits = 0;
        pending = 0;
    }

    s.inputPosition = pos;
    s.outputPosition = out;
    s.bitBuffer = bits;
    s.bitCount = pending;
    s.codeWidth = width;
    s.nextCode = u16(next);
    s.previousCode = u16(last);
    return i64(out);
}

ByteArray* CodecLZW::compress(const ByteArray& in)
{
    ByteBuffer buffer(in.count);
    LzwState* state = static_cast<LzwState*>(allocZeroed(sizeof(LzwState)));
    u8* scratch = static_cast<u8*>(memAlloc(LZW_BLOCK_SIZE));
    if (!state || !scratch || !buffer.ok()) {
        memFree(state);
        memFree(scratch);
        return nullptr;
    }
    for (;;) {
        i64 r = lzwEncode(*state, in.data, in.count, scratch);
        if (r < 0) {
            printf("LZW COMPRESSION ERROR: %s\n", lzwErrorText(r));
            break;
        }
        if (r == 0)
            break;
        buffer.write(scratch, u64(r));
    }
    memFree(state);
    memFree(scratch);
    return buffer.ok() ? buffer.toArray() : nullptr;
}

ByteArray* CodecLZW::decompress(const ByteArray& in, u32 expectedSize)
{
    // A known size is only a ceiling, and never beyond what the input can spell: the output
    // grows as strings fill it.
    const u64 bound = lzwMaxDecodedSize(in.count);
    const u64 limit = expectedSize && expectedSize < bound ? expectedSize : bound;
    u64 capacity = expectedSize ? firstOutputSize(limit, in.count, 8) : u64(in.count) * 4 + 4096;
    if (capacity > bound)
        capacity = bound;
    if (capacity > UINT32_MAX)
        capacity = UINT32_MAX;

    LzwState* state = static_cast<LzwState*>(allocZeroed(sizeof(LzwState)));
    u32* positions = static_cast<u32*>(memAlloc(4097 * sizeof(u32)));
    u8* out = static_cast<u8*>(memAlloc(capacity + LZW_COPY_SLACK));
    if (!state || !positions || !out) {
        memFree(state);
        memFree(positions);
        memFree(out);
        return nullptr;
    }

    u64 produced = 0;
    bool ok = true;
    for (;;) {
        i64 r = decodeCore<true>(*state, in.data, in.count, out, produced, capacity, positions);
        if (r > 0) {
            produced += u64(r);
            continue;
        }
        if (r == 0)
            break;
        if (r == -1) {
            // The next string does not fit: grow, up to a known size (past it the result is
            // wrong anyway) or, without one, up to what the input can spell.
            u64 grown;
            if (expectedSize) {
                grown = nextOutputSize(capacity, produced + 4096, limit, produced, state->inputPosition, in.count);
            } else {
                grown = capacity * 2 > produced + 4096 ? capacity * 2 : produced + 4096;
                if (grown > bound)
                    grown = bound;
            }
            if (grown > UINT32_MAX || grown <= capacity) {
                ok = false;
                break;
            }
            u8* bigger = moveOutput(out, produced, grown + LZW_COPY_SLACK);
            if (!bigger) {
                ok = false;
                break;
            }
            out = bigger;
            capacity = grown;
            continue;
        }
        printf("LZW DECOMPRESSION ERROR: %s\n", lzwErrorText(r));
        // Some packers write the end code at the width before the last increase, so the stream
        // runs out of bits once every byte is out: a known size that is complete still counts.
        ok = expectedSize && produced == expectedSize;
        break;
    }
    memFree(state);
    memFree(positions);

    if (!ok || (expectedSize && produced != expectedSize)) {
        memFree(out);
        return nullptr;
    }
    return takeOutput(out, capacity + LZW_COPY_SLACK, u32(produced));
}
