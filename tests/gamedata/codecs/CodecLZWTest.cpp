#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZSS.h"
#include "gamedata/codecs/CodecLZW.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "tests/gamedata/codecs/CodecTestData.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace codectest;

namespace
{
// Packs (code, width) pairs least significant bit first, the last byte zero-filled.
Bytes pack(const std::vector<std::pair<u32, u32>>& codes)
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

// Every code of a stream with the width it was read at, following the decoder's width rule.
struct CodeTrace
{
    std::vector<std::pair<u32, u32>> codes;
    u32 clears = 0;
    u32 widest = 9;
};

CodeTrace traceCodes(const Bytes& stream)
{
    CodeTrace t;
    u32 width = 9, next = 258;
    bool havePrevious = false;
    u64 bitPos = 0;
    while (bitPos + width <= stream.size() * 8) {
        u32 code = 0;
        for (u32 i = 0; i < width; i++)
            code |= u32((stream[(bitPos + i) / 8] >> ((bitPos + i) % 8)) & 1) << i;
        bitPos += width;
        t.codes.push_back({code, width});
        if (code == 257)
            break;
        if (code == 256) {
            if (next != 258)
                t.clears++;
            width = 9;
            next = 258;
            havePrevious = false;
            continue;
        }
        if (havePrevious && next < 4096) {
            if (next == (1u << width) - 1 && width < 12)
                width++;
            next++;
        }
        havePrevious = true;
        t.widest = std::max(t.widest, width);
    }
    return t;
}

// Decompresses and captures what the codec printed.
ArrayPtr decompressBytes(const Bytes& in, u32 expected, std::string* printed = nullptr)
{
    CodecLZW codec;
    ArrayPtr src = toArray(in);
    testing::internal::CaptureStdout();
    ArrayPtr out(codec.decompress(*src, expected));
    std::string text = testing::internal::GetCapturedStdout();
    if (printed)
        *printed = text;
    return out;
}

struct RoundTripCase
{
    const char* name;
    Bytes data;
};

std::vector<RoundTripCase> roundTripCases()
{
    std::vector<RoundTripCase> cases;
    for (size_t n : {0, 1, 2, 3, 4, 100, 255, 256, 257, 511, 512, 513, 1023, 1024, 4095, 4096, 4097, 65536})
        cases.push_back({"text", textBytes(n, n)});
    for (size_t n : {1, 2, 300, 5000, 200000})
        cases.push_back({"random", randomBytes(n, n + 7)});
    for (size_t n : {1, 2, 3, 4, 5, 6, 100, 8191, 1 << 20})
        cases.push_back({"one byte", Bytes(n, 0x5A)});
    for (size_t n : {254, 255, 256, 257, 766, 767, 768, 1790, 1791, 1792, 3837, 3838, 3839, 3840, 3841, 8445})
        cases.push_back({"distinct pairs", distinctPairBytes(n)});
    cases.push_back({"text 1 MiB", textBytes(1 << 20, 99)});
    return cases;
}

// Every codec behind the one interface, for the tests of what all decoders share.
struct AnyCodec
{
    const char* name;
    Bytes (*encode)(const Bytes&);
    ByteArray* (*decode)(const ByteArray&, u32);
    // LZW, LZWX and LZSS give nothing unless the claim is met; Implode and RefPack give what the
    // stream holds.
    bool heldToClaim;
    // LZSS refuses at once a claim its stream could not spell.
    bool refusesUnspellableClaim;
};

const AnyCodec ALL_CODECS[] = {
    {"LZW", encodeWith<CodecLZW>, decodeWith<CodecLZW>, true, false},
    {"LZWX", encodeWith<CodecLZWX>, decodeWith<CodecLZWX>, true, false},
    {"LZSS", encodeWith<CodecLZSS>, decodeWith<CodecLZSS>, true, true},
    {"Implode", encodeWith<CodecImplode>, decodeWith<CodecImplode>, false, false},
    {"RefPack", encodeWith<CodecRefPack>, decodeWith<CodecRefPack>, false, false},
};

// A decode with a claim past what the stream spells: nothing from a codec held to its claim, the
// data from any other.
void expectShortOfClaim(const AnyCodec& codec, const ArrayPtr& out, const Bytes& data)
{
    if (codec.heldToClaim) {
        EXPECT_EQ(out, nullptr);
        return;
    }
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(toBytes(out.get()) == data);
}

// A decode, quiet (LZW prints its errors), with the most the tracked heap rose meanwhile.
ArrayPtr decodeMeasured(const AnyCodec& codec, const Bytes& stream, u32 claim, u64& heapRise)
{
    ArrayPtr src = toArray(stream);
    testing::internal::CaptureStdout();
    memResetPeak();
    const u64 base = memLiveBytes();
    ArrayPtr out(codec.decode(*src, claim));
    heapRise = memPeakBytes() - base;
    testing::internal::GetCapturedStdout();
    return out;
}
}

TEST(CodecLZW, EmptyInputGivesClearAndEndCode)
{
    EXPECT_EQ(encodeWith<CodecLZW>({}), (Bytes{0x00, 0x03, 0x02}));
    ArrayPtr back = decompressBytes({0x00, 0x03, 0x02}, 0);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->count, 0u);
    EXPECT_EQ(decompressBytes({0x00, 0x03, 0x02}, 5), nullptr);
    ArrayPtr none = decompressBytes({}, 0);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->count, 0u);
    EXPECT_EQ(decompressBytes({}, 1), nullptr);
}

TEST(CodecLZW, GoldenStreams)
{
    // "aaaa": a, then the slot "aa" it just defined, then a; all at 9 bits.
    EXPECT_EQ(encodeWith<CodecLZW>({'a', 'a', 'a', 'a'}), pack({{256, 9}, {97, 9}, {258, 9}, {97, 9}, {257, 9}}));
    // "ABABABA": the last code is the slot being defined (ABA).
    Bytes abab = {'A', 'B', 'A', 'B', 'A', 'B', 'A'};
    Bytes stream = pack({{256, 9}, {65, 9}, {66, 9}, {258, 9}, {260, 9}, {257, 9}});
    EXPECT_EQ(encodeWith<CodecLZW>(abab), stream);
    ArrayPtr back = decompressBytes(stream, 7);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(toBytes(back.get()), abab);
}

TEST(CodecLZW, RoundTrips)
{
    for (const auto& c : roundTripCases()) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.data.size()));
        Bytes stream = encodeWith<CodecLZW>(c.data);
        std::string printed;
        ArrayPtr back = decompressBytes(stream, u32(c.data.size()), &printed);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(toBytes(back.get()) == c.data);
        EXPECT_EQ(printed, "");
        // Unknown size: grown as it goes.
        ArrayPtr unsized = decompressBytes(stream, 0);
        ASSERT_NE(unsized, nullptr);
        EXPECT_TRUE(toBytes(unsized.get()) == c.data);
    }
}

TEST(CodecLZW, LongInputCrossesEveryWidthAndClears)
{
    Bytes data = textBytes(1 << 20, 5);
    Bytes stream = encodeWith<CodecLZW>(data);
    CodeTrace t = traceCodes(stream);
    EXPECT_EQ(t.widest, 12u);
    EXPECT_GE(t.clears, 2u);
    for (size_t i = 1; i + 1 < t.codes.size(); i++) {
        if (t.codes[i].first == 256) {
            EXPECT_EQ(t.codes[i - 1].second, 12u);
            EXPECT_EQ(t.codes[i].second, 12u);
            EXPECT_EQ(t.codes[i + 1].second, 9u);
        }
    }
    u32 widths[13] = {};
    for (auto [code, width] : t.codes)
        widths[width]++;
    for (u32 w = 9; w <= 12; w++)
        EXPECT_GT(widths[w], 0u) << w;
}

// Read literally, the width rule kept nextCode still when the width grew, so the first
// width change broke every round trip.
TEST(CodecLZW, SlotsKeepCountingAcrossAWidthChange)
{
    // 300 bytes without a repeated pair: one literal code each, slot 511 defined at the 255th.
    Bytes data = distinctPairBytes(300);
    std::vector<std::pair<u32, u32>> codes = {{256, 9}};
    for (size_t k = 1; k <= data.size(); k++)
        codes.push_back({data[k - 1], k < 256 ? 9u : 10u});
    codes.push_back({257, 10});
    Bytes stream = pack(codes);
    EXPECT_EQ(encodeWith<CodecLZW>(data), stream);
    ArrayPtr back = decompressBytes(stream, 300);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(toBytes(back.get()) == data);
    // A code that refers to a slot defined just before the change.
    Bytes twice = data;
    twice.insert(twice.end(), data.begin() + 250, data.begin() + 260);
    ArrayPtr again = decompressBytes(encodeWith<CodecLZW>(twice), u32(twice.size()));
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(toBytes(again.get()) == twice);
}

// The end code must follow at the width the decoder reaches after the last data code.
TEST(CodecLZW, EndCodeFollowsAWidthChangeAfterTheLastCode)
{
    for (size_t n : {255, 767, 1791, 3838 + 1 + 765, 8445}) {
        SCOPED_TRACE(n);
        Bytes data = distinctPairBytes(n);
        Bytes stream = encodeWith<CodecLZW>(data);
        CodeTrace t = traceCodes(stream);
        ASSERT_FALSE(t.codes.empty());
        EXPECT_EQ(t.codes.back().first, 257u);
        std::string printed;
        ArrayPtr back = decompressBytes(stream, u32(n), &printed);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(toBytes(back.get()) == data);
        EXPECT_EQ(printed, "");
    }
}

TEST(CodecLZW, EncoderBlocksStayWithinScratchAndResume)
{
    Bytes data = randomBytes(100000, 3);
    LzwState* state = static_cast<LzwState*>(allocZeroed(sizeof(LzwState)));
    std::vector<u8> scratch(LZW_BLOCK_SIZE);
    Bytes joined;
    int calls = 0;
    for (;;) {
        i64 r = lzwEncode(*state, data.data(), data.size(), scratch.data());
        ASSERT_GE(r, 0);
        ASSERT_LE(r, i64(LZW_BLOCK_SIZE));
        if (r == 0)
            break;
        joined.insert(joined.end(), scratch.begin(), scratch.begin() + r);
        calls++;
    }
    EXPECT_GE(calls, 4);
    EXPECT_EQ(lzwEncode(*state, data.data(), data.size(), scratch.data()), 0);
    EXPECT_EQ(joined, encodeWith<CodecLZW>(data));

    // Decoding in small pieces: a string that does not fit waits for the next call.
    memset(state, 0, sizeof(LzwState));
    Bytes text = textBytes(50000, 8);
    Bytes stream = encodeWith<CodecLZW>(text);
    Bytes out;
    std::vector<u8> piece(5000);
    for (;;) {
        i64 r = lzwDecode(*state, stream.data(), stream.size(), piece.data(), piece.size());
        ASSERT_GE(r, 0);
        if (r == 0)
            break;
        out.insert(out.end(), piece.begin(), piece.begin() + r);
    }
    EXPECT_TRUE(out == text);
    EXPECT_EQ(lzwDecode(*state, stream.data(), stream.size(), piece.data(), piece.size()), 0);

    // A destination smaller than one string.
    memset(state, 0, sizeof(LzwState));
    Bytes run = encodeWith<CodecLZW>(Bytes(100, 'x'));
    u8 small[4];
    EXPECT_EQ(lzwDecode(*state, run.data(), run.size(), small, 4), 3);
    EXPECT_EQ(lzwDecode(*state, run.data(), run.size(), small, 1), -1);
    memFree(state);
}

TEST(CodecLZW, KeptQuirks)
{
    // A clear right after a clear changes nothing: the second clear here keeps 'A' as the
    // previous code, so 258 is "AB".
    Bytes stream = pack({{256, 9}, {65, 9}, {256, 9}, {66, 9}, {258, 9}, {257, 9}});
    ArrayPtr back = decompressBytes(stream, 0);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(toBytes(back.get()), (Bytes{'A', 'B', 'A', 'B'}));

    // Bytes after the end code are never decoded.
    Bytes data = textBytes(3000, 1);
    Bytes tail = encodeWith<CodecLZW>(data);
    Bytes junk = randomBytes(64, 2);
    tail.insert(tail.end(), junk.begin(), junk.end());
    std::string printed;
    ArrayPtr withTail = decompressBytes(tail, 3000, &printed);
    ASSERT_NE(withTail, nullptr);
    EXPECT_TRUE(toBytes(withTail.get()) == data);
    EXPECT_EQ(printed, "");

    // A correct stream with a wrong size: null, and nothing printed.
    for (u32 wrong : {1u, 2999u, 3001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(decompressBytes(encodeWith<CodecLZW>(data), wrong, &printed), nullptr);
        EXPECT_EQ(printed, "") << wrong;
    }
}

TEST(CodecLZW, DamagedStreamsFail)
{
    struct Case
    {
        const char* name;
        Bytes stream;
        const char* message;
    };
    std::vector<std::pair<u32, u32>> fill = {{256, 9}};
    for (u32 k = 1; k <= 3839; k++)
        fill.push_back({k & 0xFF, k < 256 ? 9u : k < 768 ? 10u : k < 1792 ? 11u : 12u});
    fill.push_back({65, 12});
    fill.push_back({257, 12});
    Bytes overfilled = pack(fill);
    fill.resize(fill.size() - 2);
    fill.push_back({256, 12});
    fill.push_back({65, 9});
    fill.push_back({257, 9});
    Bytes clearedInTime = pack(fill);

    const char* invalid = "LZW DECOMPRESSION ERROR: Invalid code stream\n";
    std::vector<Case> cases = {
        {"first code 258", pack({{256, 9}, {258, 9}, {257, 9}}), invalid},
        {"first code 300", pack({{256, 9}, {300, 9}, {257, 9}}), invalid},
        {"code past the next slot", pack({{256, 9}, {65, 9}, {66, 9}, {260, 9}, {257, 9}}), invalid},
        {"no end code", pack({{256, 9}, {65, 9}, {66, 9}}), invalid},
        {"code cut off", Bytes{0x00, 0x83}, invalid},
        {"table full", overfilled, "LZW DECOMPRESSION ERROR: String table full\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (u32 expected : {0u, 100000u}) {
            std::string printed;
            EXPECT_EQ(decompressBytes(c.stream, expected, &printed), nullptr);
            EXPECT_EQ(printed, c.message);
        }
    }
    // The same stream with a clear before the table overflows is fine.
    std::string printed;
    ArrayPtr ok = decompressBytes(clearedInTime, 3840, &printed);
    ASSERT_NE(ok, nullptr) << printed;
    EXPECT_EQ(ok->data[3839], 65);
}

TEST(CodecLZW, EveryTruncationFails)
{
    Bytes data = textBytes(6000, 4);
    data.insert(data.end(), 300, 'z');
    Bytes stream = encodeWith<CodecLZW>(data);
    ASSERT_GT(stream.size(), 100u);
    for (size_t cut = 1; cut < stream.size(); cut++) {
        Bytes prefix(stream.begin(), stream.begin() + cut);
        std::string printed;
        ArrayPtr got = decompressBytes(prefix, u32(data.size()), &printed);
        EXPECT_EQ(printed, "LZW DECOMPRESSION ERROR: Invalid code stream\n") << cut;
        // Only a cut that loses nothing but the end code still holds every byte of a known size.
        if (got)
            EXPECT_TRUE(toBytes(got.get()) == data) << cut;
        else
            EXPECT_GT(stream.size() - cut, 0u);
        EXPECT_EQ(decompressBytes(prefix, 0), nullptr) << cut;
    }
}

TEST(CodecLZW, EndCodeAtTheOldWidthStillGivesAKnownSize)
{
    // The end code written before the decoder's width increase, with the stream ending on a byte
    // boundary: the decoder runs out of bits after the last byte is out.
    Bytes data = distinctPairBytes(255);
    std::vector<std::pair<u32, u32>> codes(8, {256u, 9u});
    for (u8 b : data)
        codes.push_back({b, 9});
    codes.push_back({257, 9});
    Bytes stream = pack(codes);
    ASSERT_EQ(stream.size() * 8, codes.size() * 9);
    std::string printed;
    ArrayPtr got = decompressBytes(stream, 255, &printed);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(toBytes(got.get()) == data);
    EXPECT_EQ(decompressBytes(stream, 0), nullptr);
    EXPECT_EQ(decompressBytes(stream, 256), nullptr);
}

TEST(CodecLZW, HostileInputStaysBounded)
{
    // Sizes claimed by a header are not trusted: a short stream never allocates 4 GiB.
    Bytes stream = encodeWith<CodecLZW>(Bytes(40, 'q'));
    u64 before = memLiveBytes();
    EXPECT_EQ(decompressBytes(stream, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(memLiveBytes(), before);
    EXPECT_LT(lzwMaxDecodedSize(stream.size()), 1000u);
    // Random bytes decode or fail, never crash.
    for (u64 seed = 0; seed < 300; seed++) {
        Bytes junk = randomBytes(2 + seed * 7 % 2000, seed);
        junk[0] = 0;
        junk[1] = u8(junk[1] | 1);
        ArrayPtr r = decompressBytes(junk, 0);
        if (r) {
            EXPECT_LE(r->count, lzwMaxDecodedSize(junk.size()));
        }
    }
}

TEST(CodecLZW, DecodedSizeBoundHolds)
{
    // One byte repeated is the densest input there is.
    for (size_t n : {1, 10, 1000, 100000, 1 << 20}) {
        Bytes stream = encodeWith<CodecLZW>(Bytes(n, 7));
        EXPECT_GE(lzwMaxDecodedSize(stream.size()), n) << n;
    }
}

// Pillow judges our streams, and its GIF encoder's streams must decode with ours.
TEST(CodecLZW, PillowAgreesBothWays)
{
    ScratchDir dir("lzw");
    std::string script = oracleScript("gif.py");
    struct Case
    {
        Bytes data;
        u32 width, height;
    };
    std::vector<Case> cases = {
        {textBytes(1, 1), 1, 1},
        {distinctPairBytes(8445), 8445, 1},
        {textBytes(1 << 20, 11), 1024, 1024},
        {randomBytes(300 * 200, 12), 300, 200},
        {Bytes(256 * 256, 0), 256, 256},
    };
    // Every index appears, so Pillow keeps an 8-bit code size.
    for (auto& c : cases)
        if (c.data.size() >= 256)
            for (u32 i = 0; i < 256; i++)
                c.data[c.data.size() / 2 + i] = u8(i);
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        std::string raw = dir.file("raw" + std::to_string(n));
        std::string ours = dir.file("ours" + std::to_string(n));
        std::string pixels = dir.file("pixels" + std::to_string(n));
        std::string theirs = dir.file("theirs" + std::to_string(n));
        std::string size = " " + std::to_string(c.width) + " " + std::to_string(c.height) + " ";
        writeFile(raw, c.data);
        writeFile(ours, encodeWith<CodecLZW>(c.data));
        ASSERT_EQ(run("/usr/bin/python3 " + quote(script) + " decode " + quote(ours) + size + quote(pixels)), 0);
        Bytes decoded;
        ASSERT_TRUE(readFile(pixels, decoded));
        EXPECT_TRUE(decoded == c.data);

        if (c.data.size() >= 256) {
            ASSERT_EQ(run("/usr/bin/python3 " + quote(script) + " encode " + quote(raw) + size + quote(theirs)), 0);
            Bytes stream;
            ASSERT_TRUE(readFile(theirs, stream));
            std::string printed;
            ArrayPtr back = decompressBytes(stream, u32(c.data.size()), &printed);
            ASSERT_NE(back, nullptr) << printed;
            EXPECT_TRUE(toBytes(back.get()) == c.data);
        }
        n++;
    }
}

// A claimed size is a ceiling, never an allocation: a stream that spells far less than it claims
// fails or gives what it spells, and meanwhile the heap holds a few times the stream at most.
TEST(Codecs, ClaimedSizeReservesNothing)
{
    const Bytes text = textBytes(100000, 31);
    for (const AnyCodec& codec : ALL_CODECS) {
        SCOPED_TRACE(codec.name);
        Bytes stream = codec.encode(text);
        u32 claim = 0xFFFFFFF0u;
        // The most such a codec's stream could spell is claimed by a long one that ends early.
        if (codec.refusesUnspellableClaim) {
            stream.resize(1 << 20);
            claim = 8u << 20;
        }
        u64 heapRise = 0;
        expectShortOfClaim(codec, decodeMeasured(codec, stream, claim, heapRise), text);
        EXPECT_LT(heapRise, 4 * stream.size() + (1 << 20));
    }
}

// Output far denser than a claim is taken for at once starts small and grows to the claim, and
// a claim one byte over what the stream spells grows no further than that.
TEST(Codecs, OutputGrowsToTheClaim)
{
    Bytes data = textBytes(50000, 5);
    data.resize(data.size() + (3 << 20), 0);
    const Bytes tail = textBytes(50000, 6);
    data.insert(data.end(), tail.begin(), tail.end());
    const u32 size = u32(data.size());
    for (const AnyCodec& codec : ALL_CODECS) {
        SCOPED_TRACE(codec.name);
        const Bytes stream = codec.encode(data);
        ASSERT_LT(stream.size() * 4, data.size());
        u64 heapRise = 0;
        ArrayPtr exact = decodeMeasured(codec, stream, size, heapRise);
        ASSERT_NE(exact, nullptr);
        EXPECT_TRUE(toBytes(exact.get()) == data);
        expectShortOfClaim(codec, decodeMeasured(codec, stream, size + 1, heapRise), data);
        EXPECT_LT(heapRise, 3 * u64(size));
    }
}
