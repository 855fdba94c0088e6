#include "gamedata/codecs/CodecLZWX.h"
#include "tests/gamedata/codecs/CodecTestData.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace codectest;

namespace
{
typedef std::vector<std::pair<u32, u32>> Codes;

// Packs (code, width) pairs least significant bit first, the last byte zero-filled.
Bytes pack(const Codes& codes)
{
    Bytes out;
    u64 bits = 0;
    u32 count = 0;
    for (auto [code, width] : codes) {
        bits |= u64(code) << count;
        count += width;
        while (count >= 8) {
            out.push_back(u8(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count)
        out.push_back(u8(bits));
    return out;
}

// Every code of a stream with the width it is read at, following the width rule on its own:
// every code but the first after a reset counts one entry, and the width grows once the count
// reaches the next power of two.
Codes traceCodes(const Bytes& stream)
{
    Codes codes;
    u32 width = 9, next = 258;
    bool first = true;
    u64 bit = 0;
    while (bit + width <= stream.size() * 8) {
        u32 code = 0;
        for (u32 i = 0; i < width; i++)
            code |= u32((stream[(bit + i) / 8] >> ((bit + i) % 8)) & 1) << i;
        bit += width;
        codes.push_back({code, width});
        if (code == 257)
            break;
        if (code == 256) {
            width = 9;
            next = 258;
            first = true;
            continue;
        }
        if (!first && next < 4096 && ++next == (1u << width) && width < 12)
            width++;
        first = false;
    }
    return codes;
}

Bytes compressBytes(const Bytes& in)
{
    ArrayPtr src = toArray(in);
    ArrayPtr out(compressLZWX(*src));
    EXPECT_NE(out, nullptr);
    return toBytes(out.get());
}

Bytes literalBytes(const Bytes& in)
{
    ArrayPtr src = toArray(in);
    ArrayPtr out(CodecLZWX::literalStream(*src));
    EXPECT_NE(out, nullptr);
    return toBytes(out.get());
}

ArrayPtr decompressBytes(const Bytes& in, u32 expected)
{
    ArrayPtr src = toArray(in);
    return ArrayPtr(decompressLZWX(*src, expected));
}

// The process's peak resident set in KiB since the last reset (Linux: /proc/self/status).
u64 peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6));
    return 0;
}

// Sets the peak to the present resident set; false where the system does not offer it.
bool resetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good() && peakResidentKiB() > 0;
}

Bytes bytesOf(const char* s)
{
    return Bytes(s, s + strlen(s));
}

std::vector<Bytes> roundTripInputs()
{
    std::vector<Bytes> cases;
    for (size_t n : {0, 1, 2, 3, 4, 100, 255, 256, 257, 511, 512, 513, 4095, 4096, 4097, 65536})
        cases.push_back(textBytes(n, n));
    for (size_t n : {1, 2, 300, 5000, 70000})
        cases.push_back(randomBytes(n, n + 7));
    // Dense streams whose output outgrows the decoder's first buffer, some at its edges.
    for (size_t n : {1, 2, 3, 4, 5, 6, 100, 8191, 65535, 65536, 65537, 131073, 300000})
        cases.push_back(Bytes(n, 0x5A));
    Bytes period(200001);
    for (size_t i = 0; i < period.size(); i++)
        period[i] = u8("lkjhgfd"[i % 7]);
    cases.push_back(period);
    for (size_t n : {254, 255, 256, 257, 766, 767, 768, 1790, 1791, 1792, 3837, 3838, 3839, 3840, 3841, 8445})
        cases.push_back(distinctPairBytes(n));
    return cases;
}
}

TEST(CodecLZWX, GoldenStreams)
{
    struct Case
    {
        Bytes data;
        Bytes stream;
    };
    std::vector<Case> cases = {
        {{}, {0x00, 0x03, 0x02}},
        {{0x41}, {0x00, 0x83, 0x04, 0x04}},
        // The third code is the entry "aa" its predecessor just made.
        {bytesOf("aaaa"), pack({{256, 9}, {'a', 9}, {258, 9}, {'a', 9}, {257, 9}})},
        // 260 is the entry being defined: "ABA".
        {bytesOf("ABABABA"), pack({{256, 9}, {'A', 9}, {'B', 9}, {258, 9}, {260, 9}, {257, 9}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        EXPECT_EQ(compressBytes(c.data), c.stream);
        ArrayPtr back = decompressBytes(c.stream, u32(c.data.size()));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(toBytes(back.get()), c.data);
    }
    EXPECT_EQ(literalBytes({}), (Bytes{0x00, 0x03, 0x02}));
    EXPECT_EQ(literalBytes({0x41}), (Bytes{0x00, 0x83, 0x04, 0x04}));
}

TEST(CodecLZWX, RoundTrips)
{
    for (const Bytes& data : roundTripInputs()) {
        SCOPED_TRACE(data.size());
        for (bool literal : {false, true}) {
            Bytes stream = literal ? literalBytes(data) : compressBytes(data);
            ASSERT_GE(stream.size(), 3u);
            ArrayPtr back = decompressBytes(stream, u32(data.size()));
            ASSERT_NE(back, nullptr) << literal;
            EXPECT_TRUE(toBytes(back.get()) == data) << literal;
            Codes codes = traceCodes(stream);
            EXPECT_EQ(codes.front().first, 256u);
            EXPECT_EQ(codes.back().first, 257u);
        }
    }
    // Repetitive data shrinks.
    EXPECT_LT(compressBytes(Bytes(100000, 3)).size(), 2000u);
    EXPECT_LT(compressBytes(textBytes(65536, 1)).size(), 65536u / 2);
}

TEST(CodecLZWX, WidthGrowsAfterTheCodeThatFillsAPowerOfTwo)
{
    // 300 bytes without a repeated pair: one literal each. Code k (from 1) makes entry 256 + k,
    // so the 255th makes 511 and the codes from the 256th on are 10 bits wide.
    Bytes data = distinctPairBytes(300);
    Codes codes = {{256, 9}};
    for (size_t k = 1; k <= data.size(); k++)
        codes.push_back({data[k - 1], k < 256 ? 9u : 10u});
    codes.push_back({257, 10});
    Bytes stream = pack(codes);
    EXPECT_EQ(compressBytes(data), stream);
    EXPECT_EQ(literalBytes(data), stream);
    // The end code right after the widening code.
    Codes edge(codes.begin(), codes.begin() + 256);
    edge.push_back({257, 10});
    EXPECT_EQ(compressBytes(Bytes(data.begin(), data.begin() + 255)), pack(edge));
}

TEST(CodecLZWX, FullDictionaryResetsAtTwelveBits)
{
    for (bool literal : {false, true}) {
        SCOPED_TRACE(literal);
        Bytes data = literal ? randomBytes(10000, 4) : textBytes(400000, 5);
        Bytes stream = literal ? literalBytes(data) : compressBytes(data);
        Codes codes = traceCodes(stream);
        u32 resets = 0;
        u32 widths[13] = {};
        for (size_t i = 1; i + 1 < codes.size(); i++) {
            widths[codes[i].second]++;
            if (codes[i].first != 256)
                continue;
            resets++;
            EXPECT_EQ(codes[i - 1].second, 12u);
            EXPECT_EQ(codes[i].second, 12u);
            EXPECT_EQ(codes[i + 1].second, 9u);
        }
        EXPECT_GE(resets, 2u);
        for (u32 w = 9; w <= 12; w++)
            EXPECT_GT(widths[w], 0u) << w;
        if (literal) {
            // 3839 literals fill the dictionary, then a reset.
            ASSERT_GT(codes.size(), 3842u);
            EXPECT_EQ(codes[3840].first, 256u);
            for (size_t i = 1; i < 3840; i++)
                EXPECT_LT(codes[i].first, 256u);
        }
        ArrayPtr back = decompressBytes(stream, u32(data.size()));
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(toBytes(back.get()) == data);
    }
}

TEST(CodecLZWX, DecoderReadsForeignStreams)
{
    struct Case
    {
        const char* name;
        Codes codes;
        const char* output;
    };
    std::vector<Case> cases = {
        // A code above the next free one spells nothing; the code after it has no predecessor.
        {"code above next", {{256, 9}, {'A', 9}, {300, 9}, {'B', 9}, {258, 9}, {257, 9}}, "ABAB"},
        {"first code is the next free one", {{256, 9}, {258, 9}, {'A', 9}, {257, 9}}, "A"},
        // A reset keeps what was written and empties the dictionary.
        {"reset midway", {{256, 9}, {'A', 9}, {'B', 9}, {256, 9}, {'C', 9}, {258, 9}, {257, 9}}, "ABCCC"},
        {"two resets in a row", {{256, 9}, {256, 9}, {'x', 9}, {257, 9}}, "x"},
        // Bytes after the end code are never read.
        {"junk after the end", {{256, 9}, {'Q', 9}, {257, 9}, {0x1FF, 9}, {0x1FF, 9}}, "Q"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes want = bytesOf(c.output);
        ArrayPtr got = decompressBytes(pack(c.codes), u32(want.size()));
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(toBytes(got.get()), want);
    }

    // No end code: the stream is done once the output is full, and codes that do not fit are
    // surplus.
    ArrayPtr cut = decompressBytes(pack({{256, 9}, {'a', 9}, {'b', 9}, {'c', 9}, {'d', 9}, {0, 9}, {0, 9}}), 3);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(toBytes(cut.get()), bytesOf("abc"));

    // A stream that keeps adding past code 4095 without a reset: the additions are dropped and
    // the codes already defined keep their strings.
    Codes full = {{256, 9}};
    Bytes want;
    for (u32 k = 1; k <= 3900; k++) {
        full.push_back({k & 0xFF, k < 256 ? 9u : k < 768 ? 10u : k < 1792 ? 11u : 12u});
        want.push_back(u8(k));
    }
    full.push_back({4095, 12}); // made by the 3839th code: bytes 3838 and 3839
    want.push_back(u8(3838));
    want.push_back(u8(3839));
    full.push_back({257, 12});
    ArrayPtr got = decompressBytes(pack(full), u32(want.size()));
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(toBytes(got.get()) == want);
}

TEST(CodecLZWX, WrongSizesAndShortInputsFail)
{
    Bytes data = textBytes(3000, 1);
    Bytes stream = compressBytes(data);
    for (u32 wrong : {3001u, 4000u, 0xFFFFFFFFu})
        EXPECT_EQ(decompressBytes(stream, wrong), nullptr) << wrong;
    // A smaller size is met when a code ends exactly there; the codes after it are surplus.
    for (u32 smaller = 0; smaller < 3000; smaller += 7) {
        ArrayPtr part = decompressBytes(stream, smaller);
        if (part) {
            EXPECT_TRUE(toBytes(part.get()) == Bytes(data.begin(), data.begin() + smaller)) << smaller;
        }
    }
    // Fewer than three bytes hold no readable code.
    for (const Bytes& tiny : {Bytes{}, Bytes{0x00}, Bytes{0x00, 0x83}}) {
        ArrayPtr empty = decompressBytes(tiny, 0);
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->count, 0u);
        EXPECT_EQ(decompressBytes(tiny, 1), nullptr);
    }
}

TEST(CodecLZWX, TruncatedStreamsNeverGiveWrongBytes)
{
    Bytes data = textBytes(6000, 4);
    data.insert(data.end(), 300, 'z');
    Bytes stream = compressBytes(data);
    ASSERT_GT(stream.size(), 100u);
    for (size_t cut = 0; cut < stream.size(); cut++) {
        Bytes prefix(stream.begin(), stream.begin() + cut);
        ArrayPtr got = decompressBytes(prefix, u32(data.size()));
        // The end code and its padding take fewer than three bytes: a deeper cut loses data.
        if (cut + 3 <= stream.size()) {
            EXPECT_EQ(got, nullptr) << cut;
        } else if (got) {
            EXPECT_TRUE(toBytes(got.get()) == data) << cut;
        }
    }
}

TEST(CodecLZWX, HostileInputStaysBounded)
{
    Bytes stream = compressBytes(Bytes(40, 'q'));
    u64 before = memLiveBytes();
    EXPECT_EQ(decompressBytes(stream, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(memLiveBytes(), before);
    EXPECT_LT(lzwxMaxDecodedSize(stream.size()), 1000u);
    // The densest input there is still fits the bound.
    for (size_t n : {1, 10, 1000, 100000, 1 << 20}) {
        Bytes run = compressBytes(Bytes(n, 7));
        EXPECT_GE(lzwxMaxDecodedSize(run.size()), n) << n;
    }
    // Random codes decode or fail, never crash or read outside the input.
    for (u64 seed = 0; seed < 300; seed++) {
        Bytes junk = randomBytes(3 + seed * 7 % 2000, seed);
        ArrayPtr small = decompressBytes(junk, u32(seed * 13 % 5000));
        if (small) {
            EXPECT_EQ(small->count, u32(seed * 13 % 5000));
        }
    }
}

// A claim within what the stream's length allows sizes nothing up front: the stream below
// spells under 2 MiB before it runs out, and the decoder holds little more than that.
TEST(CodecLZWX, ClaimIsACeilingNotAnAllocation)
{
    Bytes stream = compressBytes(textBytes(2 << 20, 12));
    ASSERT_GT(stream.size(), 450000u);
    stream.resize(450000);
    const u32 claim = 1500000000;
    ASSERT_GE(lzwxMaxDecodedSize(stream.size()), claim);
    ArrayPtr src = toArray(stream);
    if (!resetPeakResident())
        GTEST_SKIP() << "no peak resident set to read";
    const u64 base = peakResidentKiB();
    u64 live = memLiveBytes();
    EXPECT_EQ(ArrayPtr(decompressLZWX(*src, claim)), nullptr);
    EXPECT_LT(peakResidentKiB() - base, 64u << 10);
    EXPECT_EQ(memLiveBytes(), live);
}
