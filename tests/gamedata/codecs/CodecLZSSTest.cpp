#include "gamedata/codecs/CodecLZSS.h"

#include "CodecTestData.h"
#include "PackTestData.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace packtest;
// Bytes and the arrays are the same types in both helpers.
using codectest::encodeWith;

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
// steps written recursively. The codec's faster one must make the same bits. With
// touchNodeZero off, an unused child taking a place leaves node 0's parent link alone.
class PlainEncoder
{
public:
    explicit PlainEncoder(bool touchNodeZero = true) : touch(touchNodeZero) {}

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
    bool touch;
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
    void setParent(int node, int parent)
    {
        if (node || touch)
            tree[node].parent = parent;
    }
    void contract(int oldNode, int newNode)
    {
        setParent(newNode, tree[oldNode].parent);
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
        setParent(tree[newNode].smaller, newNode);
        setParent(tree[newNode].larger, newNode);
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

Bytes plainEncode(const Bytes& in, bool touchNodeZero = true)
{
    auto encoder = std::make_unique<PlainEncoder>(touchNodeZero);
    return encoder->encode(in);
}

// Random bytes that mostly repeat the one before: runs of all lengths.
Bytes sticky(Rng& r, size_t n)
{
    Bytes b(n);
    for (size_t k = 0; k < n; k++)
        b[k] = k && r.below(4) ? b[k - 1] : u8(r.below(256));
    return b;
}

Bytes sampleInput(Rng& r, size_t n, int kind)
{
    switch (kind % 6) {
    case 5:
        return sticky(r, n);
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
        Bytes packed = encodeWith<CodecLZSS>(in);
        EXPECT_EQ(hex(packed), c.stream) << "input of " << in.size();
        EXPECT_EQ(decompressBytes(packed, u32(in.size())), in);
    }
}

TEST(CodecLZSS, RunsBecomeOverlappingMatchesOnTheByteJustWritten)
{
    Bytes in(200, 'r');
    Bytes packed = encodeWith<CodecLZSS>(in);
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
        Bytes packed = encodeWith<CodecLZSS>(in);
        ASSERT_EQ(packed, plainEncode(in)) << "case " << t << ", " << n << " bytes";
    }
}

TEST(CodecLZSS, TokenTableDecoderReadsOurStreams)
{
    Rng r(6);
    for (int t = 0; t < 40; t++) {
        Bytes in = sampleInput(r, r.below(t < 30 ? 2000 : 30000), t);
        EXPECT_EQ(tokenTableDecode(encodeWith<CodecLZSS>(in)), in) << "case " << t;
    }
}

TEST(CodecLZSS, RoundTrips)
{
    Rng r(8);
    for (u32 n = 0; n <= 300; n++) {
        Bytes in = sampleInput(r, n, int(n));
        ASSERT_EQ(decompressBytes(encodeWith<CodecLZSS>(in), n), in) << n << " bytes";
    }
    Bytes repeats = sampleInput(r, 70000, 4);
    EXPECT_EQ(decompressBytes(encodeWith<CodecLZSS>(repeats), 70000), repeats);
    Bytes text = textLike(r, 4u << 20);
    Bytes packed = encodeWith<CodecLZSS>(text);
    EXPECT_LT(packed.size(), text.size() * 3 / 4);
    EXPECT_EQ(decompressBytes(packed, u32(text.size())), text);
}

TEST(CodecLZSS, DecoderSizeRule)
{
    const Bytes stream = encodeWith<CodecLZSS>(Bytes{'h', 'e', 'l', 'l', 'o', 'h', 'e', 'l', 'l', 'o'});
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
    Bytes stream = encodeWith<CodecLZSS>(in);
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
    Bytes runs = encodeWith<CodecLZSS>(Bytes(100000, 7));
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

// Tokens of every kind, matches from anywhere in the window (positions never written, the one
// being written, the far end), decode as the token table says, also once the output outgrows
// its first buffer.
TEST(CodecLZSS, DecoderFollowsTheTokenTable)
{
    Rng r(10);
    for (int t = 0; t < 40; t++) {
        Bytes stream;
        u64 bits = 0;
        u32 count = 0;
        auto put = [&](u32 value, u32 n) {
            bits = bits << n | value;
            for (count += n; count >= 8; count -= 8)
                stream.push_back(u8(bits >> (count - 8)));
        };
        const u32 tokens = t < 36 ? r.below(400) : 150000;
        for (u32 k = 0; k < tokens; k++) {
            if (r.below(t < 36 ? 2 : 8) == 0) {
                put(0x100 | r.below(256), 9);
            } else {
                put(1 + r.below(4095), 13);
                put(t < 36 ? r.below(16) : 15, 4);
            }
        }
        put(0, 13);
        if (count)
            put(0, 8 - count);
        std::optional<Bytes> want = tokenTableDecode(stream);
        ASSERT_TRUE(want) << "case " << t;
        EXPECT_EQ(decompressBytes(stream, u32(want->size())), want) << "case " << t;
    }
}

// Removing a node with an unused child writes node 0's parent link, and position 0 leaving the
// window later acts on that stale link. The original encoder did so; on inputs with many runs
// it changes the stream, so it is kept.
TEST(CodecLZSS, NodeZeroLinksAreKept)
{
    Rng r(7);
    Bytes in = sticky(r, 9000);
    Bytes packed = encodeWith<CodecLZSS>(in);
    EXPECT_EQ(packed, plainEncode(in, true));
    EXPECT_NE(packed, plainEncode(in, false));
    EXPECT_EQ(decompressBytes(packed, u32(in.size())), in);
}

namespace
{
// The test-archive generator's own encoder, written apart from ours.
std::optional<Bytes> fixtureEncode(const Bytes& in)
{
    std::string base = std::string(MORDAX_BINARY_DIR) + "/lzss-fixture-" + std::to_string(getpid());
    {
        std::ofstream f(base + ".in", std::ios::binary);
        f.write(reinterpret_cast<const char*>(in.data()), std::streamsize(in.size()));
    }
    std::string cmd = "/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import fixture_codecs as c; "
                      "d = open(sys.argv[2], \"rb\").read(); "
                      "open(sys.argv[3], \"wb\").write(c.lzss_encode(d, touch_unused_node=True))' '" +
                      std::string(MORDAX_SOURCE_DIR) + "/tests/fixtures' '" + base + ".in' '" + base + ".out'";
    int rc = std::system(cmd.c_str());
    std::ifstream f(base + ".out", std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove((base + ".in").c_str());
    std::remove((base + ".out").c_str());
    if (rc != 0)
        return std::nullopt;
    return out;
}
}

TEST(CodecLZSS, SameBytesAsTheFixtureGeneratorsEncoder)
{
    Rng r(7);
    const Bytes inputs[] = {sticky(r, 9000), textLike(r, 6000), randomBytes(r, 3000, 3), Bytes()};
    for (const Bytes& in : inputs)
        EXPECT_EQ(fixtureEncode(in), encodeWith<CodecLZSS>(in)) << in.size() << " bytes";
}
