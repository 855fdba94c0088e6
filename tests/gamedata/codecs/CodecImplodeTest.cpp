#include "gamedata/codecs/CodecImplode.h"
#include "framework/core/ByteBuffer.h"
#include "tests/gamedata/codecs/CodecTestData.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace codectest;

namespace
{
// A token of a binary-mode stream: a literal (length 0) or a repetition.
struct Token
{
    u32 length;
    u32 value; // the byte, or the distance
    bool operator==(const Token& o) const { return length == o.length && value == o.value; }
};

Token lit(u8 b)
{
    return {0, b};
}

Token rep(u32 length, u32 distance)
{
    return {length, distance};
}

std::ostream& operator<<(std::ostream& os, const Token& t)
{
    if (!t.length)
        return os << "lit(" << t.value << ")";
    return os << "rep(" << t.length << "," << t.value << ")";
}

const u8 lenBits[16] = {3, 2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};
const u8 lenCode[16] = {5, 3, 1, 6, 10, 2, 12, 20, 4, 24, 8, 48, 16, 32, 64, 0};
const u16 lenBase[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 14, 22, 38, 70, 134, 262};
const u8 distBits[64] = {2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                         7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                         7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
const u8 distCode[64] = {3,  13, 5,  25, 9,   17, 1,  62,  30, 46,  14, 54,  22, 38,  6,  58,
                         26, 42, 10, 50, 18,  34, 66, 2,   124, 60, 92, 28,  108, 44, 76, 12,
                         116, 52, 84, 20, 100, 36, 68, 4,  120, 56, 88, 24, 104, 40, 72, 8,
                         240, 112, 176, 48, 208, 80, 144, 16, 224, 96, 160, 32, 192, 64, 128, 0};

// Reads the tokens of a binary-mode stream, up to the end mark.
std::vector<Token> tokens(const Bytes& s)
{
    std::vector<Token> out;
    u64 bit = 16;
    auto get = [&](u32 n) {
        u32 v = 0;
        for (u32 i = 0; i < n; i++, bit++) {
            if (bit / 8 >= s.size())
                throw std::runtime_error("stream ends early");
            v |= u32((s[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return v;
    };
    auto peekCode = [&](const u8* bits, const u8* codes, u32 count) {
        for (u32 c = 0; c < count; c++) {
            u64 save = bit;
            if (get(bits[c]) == codes[c])
                return c;
            bit = save;
        }
        throw std::runtime_error("no code");
    };
    for (;;) {
        if (!get(1)) {
            out.push_back(lit(u8(get(8))));
            continue;
        }
        u32 cls = peekCode(lenBits, lenCode, 16);
        u32 extra = cls < 8 ? 0 : cls - 7;
        u32 length = lenBase[cls] + get(extra) + 2;
        if (length == 519)
            return out;
        u32 dcls = peekCode(distBits, distCode, 64);
        u32 low = length == 2 ? 2 : s[1];
        out.push_back(rep(length, ((dcls << low) | get(low)) + 1));
    }
}

// Writes tokens as a binary-mode stream with a 4096-byte dictionary, then the end mark.
Bytes packTokens(const std::vector<Token>& list)
{
    Bytes out = {0x00, 0x06};
    u64 bits = 0;
    u32 count = 0;
    auto put = [&](u32 value, u32 n) {
        bits |= u64(value) << count;
        count += n;
        for (; count >= 8; count -= 8, bits >>= 8)
            out.push_back(u8(bits));
    };
    auto putLength = [&](u32 length) {
        u32 cls = 15;
        while (lenBase[cls] > length - 2)
            cls--;
        put(1u | u32(lenCode[cls]) << 1, 1 + lenBits[cls]);
        put(length - 2 - lenBase[cls], cls < 8 ? 0 : cls - 7);
    };
    for (const Token& t : list) {
        if (!t.length) {
            put(t.value << 1, 9);
            continue;
        }
        putLength(t.length);
        u32 low = t.length == 2 ? 2 : 6;
        u32 v = t.value - 1;
        put(distCode[v >> low], distBits[v >> low]);
        put(v & ((1u << low) - 1), low);
    }
    putLength(519);
    if (count)
        out.push_back(u8(bits));
    return out;
}

// What the tokens spell, a byte at a time; bytes before the start are zeros.
Bytes spell(const std::vector<Token>& list)
{
    Bytes out;
    for (const Token& t : list) {
        if (!t.length)
            out.push_back(u8(t.value));
        for (u32 i = 0; i < t.length; i++)
            out.push_back(out.size() >= t.value ? out[out.size() - t.value] : 0);
    }
    return out;
}

Bytes str(const char* s)
{
    return Bytes(s, s + strlen(s));
}

ArrayPtr decompressBytes(const Bytes& in, u32 expected)
{
    CodecImplode codec;
    ArrayPtr src = toArray(in);
    return ArrayPtr(codec.decompress(*src, expected));
}

i32 runImplode(const Bytes& in, u32 type, u32 dict, Bytes& out)
{
    ByteBuffer buffer;
    ImplodeStreams streams = {in.data(), in.size(), 0, &buffer};
    ImplodeWork* work = static_cast<ImplodeWork*>(allocZeroed(sizeof(ImplodeWork)));
    i32 r = implode(implodeReadCallback, implodeWriteCallback, work, &streams, type, dict);
    memFree(work);
    out.assign(buffer.data(), buffer.data() + buffer.length);
    return r;
}

i32 runExplode(const Bytes& in, Bytes& out)
{
    ByteBuffer buffer;
    ImplodeStreams streams = {in.data(), in.size(), 0, &buffer};
    ExplodeWork* work = static_cast<ExplodeWork*>(allocZeroed(sizeof(ExplodeWork)));
    i32 r = explode(implodeReadCallback, implodeWriteCallback, work, &streams);
    memFree(work);
    out.assign(buffer.data(), buffer.data() + buffer.length);
    return r;
}

std::vector<std::pair<std::string, Bytes>> roundTripInputs()
{
    std::vector<std::pair<std::string, Bytes>> v;
    for (size_t n : {1, 2, 3, 7, 8, 9, 100, 515, 516, 517, 518, 4095, 4096, 4097, 8192, 8193, 65536, 1 << 20})
        v.push_back({"text " + std::to_string(n), textBytes(n, n + 1)});
    for (size_t n : {1, 2, 513, 5000, 100000})
        v.push_back({"random " + std::to_string(n), randomBytes(n, n)});
    for (size_t n : {1, 2, 3, 517, 518, 519, 520, 1 << 20})
        v.push_back({"one byte " + std::to_string(n), Bytes(n, 0xC3)});
    return v;
}
}

TEST(CodecImplode, EmptyInput)
{
    // Header and end mark; the empty stream decodes back to nothing.
    EXPECT_EQ(encodeWith<CodecImplode>({}), (Bytes{0x00, 0x06, 0x01, 0xFF}));
    ArrayPtr back = decompressBytes({0x00, 0x06, 0x01, 0xFF}, 0);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->count, 0u);
    // The end mark's extra bits may be cut off.
    ArrayPtr cut = decompressBytes({0x00, 0x06, 0x01}, 0);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->count, 0u);
    for (const Bytes& tiny : {Bytes{}, Bytes{0x00}, Bytes{0x00, 0x06}}) {
        Bytes out;
        EXPECT_EQ(runExplode(tiny, out), EXPLODE_TOO_SHORT);
        EXPECT_EQ(decompressBytes(tiny, 0), nullptr);
    }
}

TEST(CodecImplode, HeaderChecks)
{
    struct Case
    {
        Bytes stream;
        i32 result;
    };
    std::vector<Case> cases = {
        {{0x00, 0x07, 0x01, 0xFF, 0x00}, EXPLODE_BAD_DICTIONARY},
        {{0x00, 0x03, 0x01, 0xFF, 0x00}, EXPLODE_BAD_DICTIONARY},
        {{0x02, 0x07, 0x01, 0xFF, 0x00}, EXPLODE_BAD_DICTIONARY},
        {{0x02, 0x04, 0x01, 0xFF, 0x00}, EXPLODE_BAD_TYPE},
        {{0x01, 0x04, 0x01, 0xFF, 0x00}, EXPLODE_OK},
        {{0x00, 0x05, 0x01, 0xFF}, EXPLODE_OK},
        {{0x00, 0x06}, EXPLODE_TOO_SHORT},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(runExplode(c.stream, out), c.result);
    }
    Bytes out;
    EXPECT_EQ(runImplode(str("x"), 0, 512, out), IMPLODE_BAD_DICTIONARY);
    EXPECT_EQ(runImplode(str("x"), 2, 4096, out), IMPLODE_BAD_TYPE);
    EXPECT_EQ(runImplode(str("x"), 2, 8192, out), IMPLODE_BAD_DICTIONARY);
}

// Repetitions shorter or longer than their distance, near ones copying their own output, over
// the 4096-byte steps of the decoder's window and reaching before the first byte.
TEST(CodecImplode, RepetitionsRepeatTheirSource)
{
    const u32 lengths[] = {2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 100, 255, 516, 517, 518};
    for (u32 distance : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 64u, 255u, 256u, 4096u}) {
        SCOPED_TRACE(distance);
        std::vector<Token> list;
        if (distance > 256)
            list.push_back(rep(3, distance));
        for (u32 i = 0; i < 3 * distance && i < 40; i++)
            list.push_back(lit(u8(0x41 + i * 7)));
        for (u32 round = 0; round < 4; round++) {
            for (u32 length : lengths) {
                if (length == 2 && distance > 256)
                    continue;
                list.push_back(rep(length, distance));
                list.push_back(lit(u8(length + round)));
            }
        }
        list.push_back(rep(518, distance));
        Bytes stream = packTokens(list);
        ASSERT_EQ(tokens(stream), list);
        Bytes want = spell(list);
        ASSERT_GT(want.size(), 2u * 4096);
        ArrayPtr got = decompressBytes(stream, u32(want.size()));
        ASSERT_NE(got, nullptr);
        EXPECT_TRUE(toBytes(got.get()) == want);
    }
    // Nothing written yet: every copy is of the zero history.
    ArrayPtr got = decompressBytes(packTokens({rep(9, 3), lit('k'), rep(10, 2)}), 0);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(toBytes(got.get()), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 'k', 0, 'k', 0, 'k', 0, 'k', 0, 'k', 0, 'k'}));
}

TEST(CodecImplode, ExpectedSizeIsIgnored)
{
    Bytes data = textBytes(100, 3);
    Bytes stream = encodeWith<CodecImplode>(data);
    for (u32 expected : {0u, 50u, 100u, 1000u, 0xFFFFFFFFu}) {
        ArrayPtr back = decompressBytes(stream, expected);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(toBytes(back.get()) == data) << expected;
    }
}

TEST(CodecImplode, RoundTrips)
{
    for (const auto& [name, data] : roundTripInputs()) {
        SCOPED_TRACE(name);
        ArrayPtr back = decompressBytes(encodeWith<CodecImplode>(data), u32(data.size()));
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(toBytes(back.get()) == data);
    }
    // Every coding and dictionary size.
    Bytes text = textBytes(30000, 9);
    Bytes random = randomBytes(9000, 9);
    for (u32 type : {IMPLODE_BINARY, IMPLODE_ASCII}) {
        for (u32 dict : {1024u, 2048u, 4096u}) {
            for (const Bytes* data : {&text, &random}) {
                SCOPED_TRACE(std::to_string(type) + " " + std::to_string(dict));
                Bytes stream, back;
                ASSERT_EQ(runImplode(*data, type, dict, stream), IMPLODE_OK);
                EXPECT_EQ(stream[0], type);
                EXPECT_EQ(stream[1], dict == 1024 ? 4 : dict == 2048 ? 5 : 6);
                ASSERT_EQ(runExplode(stream, back), EXPLODE_OK);
                EXPECT_TRUE(back == *data);
            }
        }
    }
}

// The encoder's token choices decide the stored bytes, so a rewrite reproduces them.
TEST(CodecImplode, TokenChoices)
{
    struct Case
    {
        const char* name;
        Bytes data;
        std::vector<Token> want;
    };
    std::vector<Case> cases = {
        {"run", Bytes(10, 'a'), {lit('a'), rep(9, 1)}},
        {"longest run is 516", Bytes(1 + 516 * 2 + 100, 'a'), {lit('a'), rep(516, 1), rep(516, 1), rep(100, 1)}},
        {"nearest of equal matches", str("abcXabcYabc"),
         {lit('a'), lit('b'), lit('c'), lit('X'), rep(3, 4), lit('Y'), rep(3, 4)}},
        {"short match then literal", str("abXab"), {lit('a'), lit('b'), lit('X'), rep(2, 3)}},
        // At "AROCK..." the match "AR" (2) loses to "ROCKFORT" (8) one byte on.
        {"longer match one byte on", str("ARxROCKFORTyAROCKFORT"),
         {lit('A'), lit('R'), lit('x'), lit('R'), lit('O'), lit('C'), lit('K'), lit('F'), lit('O'), lit('R'),
          lit('T'), lit('y'), lit('A'), rep(8, 10)}},
        // Equal length one byte on: the current match stays.
        {"equal match one byte on", str("abcd.bcde.abcde"),
         {lit('a'), lit('b'), lit('c'), lit('d'), lit('.'), rep(3, 4), lit('e'), lit('.'), rep(4, 10), lit('e')}},
        // A match cut by the end of the input.
        {"cut at the end", str("abcdefgh-abcd"),
         {lit('a'), lit('b'), lit('c'), lit('d'), lit('e'), lit('f'), lit('g'), lit('h'), lit('-'), rep(4, 9)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = encodeWith<CodecImplode>(c.data);
        EXPECT_EQ(tokens(stream), c.want);
        ArrayPtr back = decompressBytes(stream, 0);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(toBytes(back.get()) == c.data);
    }
}

TEST(CodecImplode, LazyMatchRules)
{
    // A match one byte on that is only one byte longer wins only when the current match lies
    // more than 129 bytes back. Far: "bcd" 158 back against "cdef" 6 back.
    Bytes far = str("bcd");
    for (int i = 0; i < 150; i++)
        far.push_back(u8(0x80 + i % 100));
    Bytes tail = str("cdef!bcdef");
    far.insert(far.end(), tail.begin(), tail.end());
    std::vector<Token> t = tokens(encodeWith<CodecImplode>(far));
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], lit('b'));
    EXPECT_EQ(t.back(), rep(4, 6));

    // Near: "bcd" 11 back is kept, and "ef" follows.
    t = tokens(encodeWith<CodecImplode>(str("xbcdyyycdef!bcdef")));
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], rep(3, 11));
    EXPECT_EQ(t.back(), rep(2, 6));
}

TEST(CodecImplode, ShortMatchesStayNear)
{
    // A 2-byte repetition is never written more than 256 bytes back.
    Bytes data = str("zq");
    for (int i = 0; i < 300; i++)
        data.push_back(u8(0x80 + (i * 37) % 113));
    data.push_back('z');
    data.push_back('q');
    std::vector<Token> t = tokens(encodeWith<CodecImplode>(data));
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], lit('z'));
    EXPECT_EQ(t.back(), lit('q'));
    for (const auto& [name, in] : roundTripInputs()) {
        if (in.size() > 100000)
            continue;
        for (const Token& k : tokens(encodeWith<CodecImplode>(in))) {
            EXPECT_FALSE(k.length == 2 && k.value > 256) << name;
            EXPECT_LE(k.length, 516u);
            EXPECT_LE(k.value, k.length ? 4095u : 255u);
        }
    }
}

TEST(CodecImplode, EveryTruncationFails)
{
    Bytes data = textBytes(5000, 21);
    Bytes stream = encodeWith<CodecImplode>(data);
    for (size_t cut = 0; cut < stream.size(); cut++) {
        Bytes prefix(stream.begin(), stream.begin() + cut);
        ArrayPtr back = decompressBytes(prefix, u32(data.size()));
        if (cut + 2 < stream.size()) {
            EXPECT_EQ(back, nullptr) << cut;
        } else if (back) {
            // Only the end mark's extra bits were cut.
            EXPECT_TRUE(toBytes(back.get()) == data) << cut;
        }
    }
}

TEST(CodecImplode, HostileInputStaysBounded)
{
    u64 before = memLiveBytes();
    EXPECT_EQ(decompressBytes({0x00, 0x06, 0x00}, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(memLiveBytes(), before);
    // Random streams decode or fail, never crash or run past the densest ratio.
    for (u64 seed = 0; seed < 300; seed++) {
        Bytes junk = randomBytes(3 + seed * 13 % 3000, seed);
        junk[0] = u8(seed % 2);
        junk[1] = u8(4 + seed % 3);
        ArrayPtr r = decompressBytes(junk, 0);
        if (r) {
            EXPECT_LE(r->count, explodeMaxDecodedSize(junk.size()));
        }
    }
    for (size_t n : {1, 1000, 1 << 20}) {
        Bytes stream = encodeWith<CodecImplode>(Bytes(n, 1));
        EXPECT_GE(explodeMaxDecodedSize(stream.size()), n);
    }
}

// node-pkware decodes our streams and makes streams that ours must decode; the decoded bytes
// are compared, not the compressed ones.
TEST(CodecImplode, NodePkwareAgreesBothWays)
{
    ScratchDir dir("implode");
    std::vector<Bytes> inputs = {str("a"), str("one small line of text\n"), textBytes(70000, 31),
                                 randomBytes(20000, 32), Bytes(3000, 'w')};
    struct Job
    {
        const Bytes* data;
        u32 type, dict;
        std::string ours, back, theirs;
    };
    std::vector<Job> jobs;
    std::string jobLines;
    for (size_t n = 0; n < inputs.size(); n++) {
        std::string raw = dir.file("raw" + std::to_string(n));
        writeFile(raw, inputs[n]);
        for (u32 type : {IMPLODE_BINARY, IMPLODE_ASCII}) {
            for (u32 dict : {1024u, 2048u, 4096u}) {
                std::string tag = std::to_string(n) + "-" + std::to_string(type) + "-" + std::to_string(dict);
                Job j = {&inputs[n], type, dict, dir.file("ours" + tag), dir.file("back" + tag), ""};
                Bytes ours;
                ASSERT_EQ(runImplode(inputs[n], type, dict, ours), IMPLODE_OK);
                writeFile(j.ours, ours);
                jobLines += "explode\t" + j.ours + "\t" + j.back + "\n";
                // node-pkware loses the end of inputs of only a few bytes.
                if (inputs[n].size() >= 16) {
                    j.theirs = dir.file("theirs" + tag);
                    jobLines += std::string("implode\t") + (type == IMPLODE_BINARY ? "binary" : "ascii") + "\t" +
                                std::to_string(dict) + "\t" + raw + "\t" + j.theirs + "\n";
                }
                jobs.push_back(j);
            }
        }
    }
    std::string jobFile = dir.file("jobs");
    writeFile(jobFile, Bytes(jobLines.begin(), jobLines.end()));
    EXPECT_EQ(run("node " + quote(oracleScript("pkware.mjs")) + " batch " + quote(jobFile)), 0);
    for (const Job& j : jobs) {
        SCOPED_TRACE(j.ours);
        Bytes back;
        ASSERT_TRUE(readFile(j.back, back));
        EXPECT_TRUE(back == *j.data);
        if (j.theirs.empty())
            continue;
        Bytes theirs, decoded;
        ASSERT_TRUE(readFile(j.theirs, theirs));
        ASSERT_EQ(runExplode(theirs, decoded), EXPLODE_OK);
        EXPECT_TRUE(decoded == *j.data);
    }
}
