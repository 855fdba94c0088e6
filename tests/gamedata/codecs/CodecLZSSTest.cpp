#include "gamedata/codecs/CodecLZSS.h"

#include "PackTestData.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace packtest;

namespace
{
std::optional<Bytes> decompressBytes(const Bytes& in, u32 expectedSize)
{
    CodecLZSS codec;
    auto a = toArray(in);
    ByteArray* out = codec.decompress(*a, expectedSize);
    if (!out)
        return std::nullopt;
    Bytes result = toBytes(out);
    EXPECT_EQ(out->count, expectedSize);
    deleteByteArray(out);
    return result;
}

Bytes compressBytes(const Bytes& in)
{
    CodecLZSS codec;
    auto a = toArray(in);
    ByteArray* out = codec.compress(*a);
    EXPECT_NE(out, nullptr);
    Bytes result = toBytes(out);
    deleteByteArray(out);
    return result;
}

// A decoder written from the token table alone: the stream as a string of bits, the history as
// the whole output. Window position P of output byte k is (k + 1) mod 4096, so a match from P
// copies the latest byte written at that position, or zero if none was.
std::optional<Bytes> tokenTableDecode(const Bytes& s)
{
    std::string bits;
    for (u8 v : s)
        for (int k = 7; k >= 0; k--)
            bits += char('0' + ((v >> k) & 1));
    size_t at = 0;
    auto take = [&](size_t n, u32& value) {
        if (at + n > bits.size())
            return false;
        value = u32(std::stoul(bits.substr(at, n), nullptr, 2));
        at += n;
        return true;
    };
    Bytes out;
    for (;;) {
        u32 flag, v, length;
        if (!take(1, flag))
            return std::nullopt;
        if (flag) {
            if (!take(8, v))
                return std::nullopt;
            out.push_back(u8(v));
            continue;
        }
        if (!take(12, v))
            return std::nullopt;
        if (v == 0)
            break;
        if (!take(4, length))
            return std::nullopt;
        for (u32 k = 0; k < length + 2; k++) {
            size_t first = (v + k + 4095) % 4096; // earliest output index at that position
            size_t size = out.size();
            out.push_back(size > first ? out[first + (size - 1 - first) / 4096 * 4096] : 0);
        }
    }
    // Only zero padding may follow the end marker.
    for (size_t k = at; k < bits.size(); k++)
        if (bits[k] != '0' || bits.size() - at >= 8)
            return std::nullopt;
    return out;
}

// The encoder in its plainest form: modulo arithmetic, byte-by-byte comparison, the removal
// steps written recursively. The codec's faster one must make the same bits.
class PlainEncoder
{
public:
    Bytes encode(const Bytes& in)
    {
        size_t next = 0;
        int lookAhead = 0;
        for (; lookAhead < F && next < in.size(); lookAhead++)
            window[1 + lookAhead] = in[next++];
        tree[ROOT].larger = 1;
        tree[1].parent = ROOT;
        int current = 1, matchLength = 0, matchPosition = 0;
        while (lookAhead > 0) {
            if (matchLength > lookAhead)
                matchLength = lookAhead;
            int replace;
            if (matchLength <= 1) {
                put(1, 1);
                put(window[current], 8);
                replace = 1;
            } else {
                put(0, 1);
                put(u32(matchPosition), 12);
                put(u32(matchLength - 2), 4);
                replace = matchLength;
            }
            for (int i = 0; i < replace; i++) {
                deleteString((current + F) % N);
                if (next < in.size())
                    window[(current + F) % N] = in[next++];
                else
                    lookAhead--;
                current = (current + 1) % N;
                if (lookAhead)
                    matchLength = addString(current, matchPosition);
            }
        }
        put(0, 13);
        if (bitCount % 8)
            put(0, 8 - bitCount % 8);
        return out;
    }

private:
    static constexpr int N = 4096, F = 17, ROOT = 4096;
    struct Node
    {
        int parent = 0, smaller = 0, larger = 0;
    };
    u8 window[N] = {};
    Node tree[N + 1];
    Bytes out;
    size_t bitCount = 0;

    void put(u32 value, int bits)
    {
        for (int k = bits - 1; k >= 0; k--, bitCount++) {
            if (bitCount % 8 == 0)
                out.push_back(0);
            if ((value >> k) & 1)
                out.back() |= u8(0x80 >> (bitCount % 8));
        }
    }
    void contract(int oldNode, int newNode)
    {
        tree[newNode].parent = tree[oldNode].parent;
        if (tree[tree[oldNode].parent].larger == oldNode)
            tree[tree[oldNode].parent].larger = newNode;
        else
            tree[tree[oldNode].parent].smaller = newNode;
        tree[oldNode].parent = 0;
    }
    void replace(int oldNode, int newNode)
    {
        int parent = tree[oldNode].parent;
        if (tree[parent].smaller == oldNode)
            tree[parent].smaller = newNode;
        else
            tree[parent].larger = newNode;
        tree[newNode] = tree[oldNode];
        tree[tree[newNode].smaller].parent = newNode;
        tree[tree[newNode].larger].parent = newNode;
        tree[oldNode].parent = 0;
    }
    void deleteString(int p)
    {
        if (tree[p].parent == 0)
            return;
        if (tree[p].larger == 0)
            contract(p, tree[p].smaller);
        else if (tree[p].smaller == 0)
            contract(p, tree[p].larger);
        else {
            int r = tree[p].smaller;
            while (tree[r].larger != 0)
                r = tree[r].larger;
            deleteString(r);
            replace(p, r);
        }
    }
    int addString(int newNode, int& matchPosition)
    {
        if (newNode == 0)
            return 0;
        int test = tree[ROOT].larger, matchLength = 0;
        for (;;) {
            int i, delta = 0;
            for (i = 0; i < F; i++) {
                delta = window[(newNode + i) % N] - window[(test + i) % N];
                if (delta != 0)
                    break;
            }
            if (i >= matchLength) {
                matchLength = i;
                matchPosition = test;
                if (matchLength >= F) {
                    replace(test, newNode);
                    return matchLength;
                }
            }
            int& child = delta >= 0 ? tree[test].larger : tree[test].smaller;
            if (child == 0) {
                child = newNode;
                tree[newNode] = Node{test, 0, 0};
                return matchLength;
            }
            test = child;
        }
    }
};

Bytes plainEncode(const Bytes& in)
{
    auto encoder = std::make_unique<PlainEncoder>();
    return encoder->encode(in);
}

Bytes sampleInput(Rng& r, size_t n, int kind)
{
    switch (kind % 5) {
    case 0:
        return randomBytes(r, n);
    case 1:
        return randomBytes(r, n, 1 + r.below(4));
    case 2:
        return textLike(r, n);
    case 3:
        return Bytes(n, u8(r.below(2) ? 0 : r.below(256)));
    default: {
        // Blocks repeated at distances around the window size.
        Bytes b = randomBytes(r, n);
        for (size_t k = 5000; k < n; k += 1 + r.below(7000)) {
            size_t d = 4070 + r.below(40), len = 1 + r.below(40);
            for (size_t q = 0; q < len && k + q < n; q++)
                b[k + q] = b[k + q - d];
        }
        return b;
    }
    }
}
}

TEST(CodecLZSS, GoldenStreams)
{
    struct Case
    {
        std::string input;
        const char* stream;
    };
    const Case cases[] = {
        {"", "00 00"},
        {"A", "a0 80 00"},
        {"AB", "a0 d0 80 00"},
        {std::string(18, 'A'), "a0 80 07 c0 00"},
        {std::string(3, '\0'), "80 00 04 00 00"},
    };
    for (const Case& c : cases) {
        Bytes in(c.input.begin(), c.input.end());
        Bytes packed = compressBytes(in);
        EXPECT_EQ(hex(packed), c.stream) << "input of " << in.size();
        EXPECT_EQ(decompressBytes(packed, u32(in.size())), in);
    }
}

TEST(CodecLZSS, RunsBecomeOverlappingMatchesOnTheByteJustWritten)
{
    Bytes in(200, 'r');
    Bytes packed = compressBytes(in);
    // One literal, then matches of 17 from window position 1 while the run lasts.
    EXPECT_EQ(hex(Bytes(packed.begin(), packed.begin() + 3)), "b9 00 07");
    EXPECT_LT(packed.size(), 30u);
    EXPECT_EQ(tokenTableDecode(packed), in);
}

TEST(CodecLZSS, MatchesThePlainEncoderBitForBit)
{
    Rng r(5);
    for (int t = 0; t < 60; t++) {
        size_t n = t < 40 ? r.below(3000) : 20000 + r.below(60000);
        Bytes in = sampleInput(r, n, t);
        Bytes packed = compressBytes(in);
        ASSERT_EQ(packed, plainEncode(in)) << "case " << t << ", " << n << " bytes";
    }
}

TEST(CodecLZSS, TokenTableDecoderReadsOurStreams)
{
    Rng r(6);
    for (int t = 0; t < 40; t++) {
        Bytes in = sampleInput(r, r.below(t < 30 ? 2000 : 30000), t);
        EXPECT_EQ(tokenTableDecode(compressBytes(in)), in) << "case " << t;
    }
}

TEST(CodecLZSS, RoundTrips)
{
    Rng r(8);
    for (u32 n = 0; n <= 300; n++) {
        Bytes in = sampleInput(r, n, int(n));
        ASSERT_EQ(decompressBytes(compressBytes(in), n), in) << n << " bytes";
    }
    for (size_t n : {size_t(70000), size_t(4u << 20)}) {
        Bytes in = sampleInput(r, n, 4);
        Bytes text = textLike(r, n);
        EXPECT_EQ(decompressBytes(compressBytes(in), u32(n)), in);
        Bytes packed = compressBytes(text);
        EXPECT_LT(packed.size(), text.size() * 3 / 4);
        EXPECT_EQ(decompressBytes(packed, u32(n)), text);
    }
}

TEST(CodecLZSS, DecoderSizeRule)
{
    const Bytes stream = compressBytes(Bytes{'h', 'e', 'l', 'l', 'o', 'h', 'e', 'l', 'l', 'o'});
    // Surplus output is cut to the expected size; a short stream fails.
    EXPECT_EQ(decompressBytes(stream, 4), (Bytes{'h', 'e', 'l', 'l'}));
    EXPECT_EQ(decompressBytes(stream, 0), Bytes());
    EXPECT_EQ(decompressBytes(stream, 10), (Bytes{'h', 'e', 'l', 'l', 'o', 'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(decompressBytes(stream, 11), std::nullopt);
    EXPECT_EQ(decompressBytes(Bytes(), 0), Bytes());
    EXPECT_EQ(decompressBytes(Bytes(), 1), std::nullopt);
}

// A stream cut short must not be read on as if one bits followed: those would make literals
// 0xFF without end and fill any expected size.
TEST(CodecLZSS, TruncatedStreamsStopAtTheEndOfInput)
{
    Rng r(9);
    Bytes in = textLike(r, 3000);
    Bytes stream = compressBytes(in);
    // Three bytes more than the end marker and padding: the last data token is always cut.
    for (size_t cut = 0; cut + 3 <= stream.size(); cut += 1 + cut / 4) {
        Bytes part(stream.begin(), stream.begin() + long(cut));
        EXPECT_EQ(decompressBytes(part, u32(in.size())), std::nullopt) << "cut at " << cut;
        EXPECT_EQ(decompressBytes(part, u32(in.size()) + 100), std::nullopt) << "cut at " << cut;
    }
    // All tokens present but no end marker: the size rule still judges the result.
    Bytes noEnd = {0xA0, 0xD0, 0x80}; // literals 'A', 'B', then six stray zero bits
    EXPECT_EQ(decompressBytes(noEnd, 2), (Bytes{'A', 'B'}));
    EXPECT_EQ(decompressBytes(noEnd, 3), std::nullopt);
    EXPECT_EQ(decompressBytes(Bytes{0xFF, 0xFF, 0xFF}, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(decompressBytes(Bytes{0xFF, 0xFF, 0xFF}, 3), std::nullopt);
}

TEST(CodecLZSS, ClaimsBeyondEightTimesTheInputFailAtOnce)
{
    // 17 bits can make 17 bytes: n input bytes never make more than 8n.
    Bytes runs = compressBytes(Bytes(100000, 7));
    EXPECT_EQ(decompressBytes(Bytes{0x00, 0x00}, 17), std::nullopt);
    EXPECT_EQ(decompressBytes(Bytes{0x80, 0x00}, 0xFFFFFFFFu), std::nullopt);
    EXPECT_EQ(decompressBytes(runs, 100000), Bytes(100000, 7));
    EXPECT_EQ(decompressBytes(runs, u32(runs.size() * 8 + 1)), std::nullopt);
}

TEST(CodecLZSS, UnwrittenWindowPositionsReadAsZero)
{
    // Literal 'X', then 4 bytes from window position 100, then the end marker.
    // 1 01011000 | 0 000001100100 0010 | 0 000000000000
    Bytes stream = {0xAC, 0x01, 0x90, 0x80, 0x00};
    EXPECT_EQ(decompressBytes(stream, 5), (Bytes{'X', 0, 0, 0, 0}));
    EXPECT_EQ(tokenTableDecode(stream), (Bytes{'X', 0, 0, 0, 0}));
}
