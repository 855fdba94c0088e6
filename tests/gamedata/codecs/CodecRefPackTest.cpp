#include "gamedata/codecs/CodecRefPack.h"
#include "framework/log/Log.h"

#include "PackTestData.h"
#include "RefPackReference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace packtest;

namespace
{
Bytes compressBytes(const Bytes& in)
{
    CodecRefPack codec;
    auto a = toArray(in);
    ByteArray* out = codec.compress(*a);
    EXPECT_NE(out, nullptr);
    Bytes result = toBytes(out);
    deleteByteArray(out);
    return result;
}

Bytes decompressBytes(const Bytes& in, u32 expectedSize)
{
    CodecRefPack codec;
    auto a = toArray(in);
    ByteArray* out = codec.decompress(*a, expectedSize);
    EXPECT_NE(out, nullptr);
    Bytes result = toBytes(out);
    deleteByteArray(out);
    return result;
}

// Collects the log lines written while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        node.fn = &LogCapture::record;
        node.next = logListeners;
        logListeners = &node;
        lines().clear();
    }
    ~LogCapture() { logListeners = node.next; }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> all;
        return all;
    }

private:
    static void record(u8 level, const char* channel, const char* message)
    {
        lines().push_back(std::string(logLevelName(level)) + "|" + channel + "|" + message);
    }
    LogListener node{};
};

// One command of a stream, read straight from the command table.
struct Command
{
    u32 size;
    u32 literals;
    u32 length;
    u32 distance;
    u64 at; // output position where its copy starts
};

// Reads a complete, well-formed stream; a second decoder written apart from the codec's.
bool parseStream(const Bytes& s, std::vector<Command>& commands, Bytes& out)
{
    size_t i = 0;
    while (i < s.size()) {
        u32 b0 = s[i], literals = 0, length = 0, distance = 0, size = 1;
        if (!(b0 & 0x80)) {
            size = 2;
        } else if (!(b0 & 0x40)) {
            size = 3;
        } else if (!(b0 & 0x20)) {
            size = 4;
        }
        if (i + size > s.size())
            return false;
        const u8* c = &s[i];
        switch (size) {
        case 2:
            literals = b0 & 3;
            length = ((b0 >> 2) & 7) + 3;
            distance = ((b0 & 0x60) << 3) + c[1] + 1;
            break;
        case 3:
            literals = c[1] >> 6;
            length = (b0 & 0x3F) + 4;
            distance = ((c[1] & 0x3F) << 8) + c[2] + 1;
            break;
        case 4:
            literals = b0 & 3;
            length = ((b0 & 0x0C) << 6) + c[3] + 5;
            distance = ((b0 & 0x10) << 12) + (c[1] << 8) + c[2] + 1;
            break;
        default:
            literals = b0 >= 0xFC ? (b0 & 3) : ((b0 & 0x1F) + 1) * 4;
        }
        i += size;
        if (i + literals > s.size())
            return false;
        out.insert(out.end(), s.begin() + long(i), s.begin() + long(i + literals));
        i += literals;
        commands.push_back(Command{size, literals, length, distance, out.size()});
        if (b0 >= 0xFC)
            return i == s.size();
        for (u32 k = 0; k < length; k++)
            out.push_back(out.size() >= distance ? out[out.size() - distance] : 0);
    }
    return false;
}

Bytes mixedInput(Rng& r, size_t n, u32 longest = 2000)
{
    Bytes out;
    while (out.size() < n) {
        switch (r.below(5)) {
        case 0: {
            Bytes t = randomBytes(r, 1 + r.below(300));
            out.insert(out.end(), t.begin(), t.end());
            break;
        }
        case 1:
            out.insert(out.end(), 1 + r.below(longest), u8(r.below(3)));
            break;
        case 2: {
            Bytes t = textLike(r, 1 + r.below(3000));
            out.insert(out.end(), t.begin(), t.end());
            break;
        }
        default:
            if (!out.empty()) {
                size_t from = r.below(u32(out.size()));
                size_t len = 1 + r.below(longest * 3 / 4);
                for (size_t k = 0; k < len; k++)
                    out.push_back(out[from + k]);
            }
        }
    }
    out.resize(n);
    return out;
}

void expectRoundTrip(const Bytes& in)
{
    Bytes packed = compressBytes(in);
    ASSERT_EQ(decompressBytes(packed, u32(in.size())), in) << "size " << in.size();
    std::vector<Command> commands;
    Bytes independent;
    ASSERT_TRUE(parseStream(packed, commands, independent));
    ASSERT_EQ(independent, in);
}
}

TEST(CodecRefPack, GoldenStreams)
{
    struct Case
    {
        std::string input;
        const char* stream;
    };
    const Case cases[] = {
        {"", "fc"},
        {"a", "fd 61"},
        {"ab", "fe 61 62"},
        {"abc", "ff 61 62 63"},
        {"abcd", "e0 61 62 63 64 fc"},
        {"abcde", "e0 61 62 63 64 fd 65"},
        {"abcabcabc", "0f 02 61 62 63 fc"},
        {std::string(8, '\0'), "11 00 00 fc"},
    };
    for (const Case& c : cases) {
        Bytes in(c.input.begin(), c.input.end());
        Bytes packed = compressBytes(in);
        EXPECT_EQ(hex(packed), c.stream) << "input of " << in.size();
        LogCapture log;
        EXPECT_EQ(decompressBytes(packed, u32(in.size())), in);
        EXPECT_TRUE(LogCapture::lines().empty());
    }
}

TEST(CodecRefPack, CommandClassesAtTheirLimits)
{
    struct Case
    {
        u32 distance;
        u32 length;
        u32 commandSize; // 0: no command may reach back that far
    };
    const Case cases[] = {
        {1024, 10, 2},    {1025, 10, 3},    {16384, 67, 3},   {16385, 67, 4}, {131072, 100, 4},
        {131073, 100, 0}, {200, 67, 3},     {200, 68, 4},     {3000, 1028, 4},
    };
    Rng r(7);
    for (const Case& c : cases) {
        Bytes in = randomBytes(r, c.distance);
        for (u32 k = 0; k < c.length; k++)
            in.push_back(in[k]);
        Bytes tail = randomBytes(r, 64);
        tail[0] = u8(in[c.length] ^ 0xFF);
        in.insert(in.end(), tail.begin(), tail.end());

        Bytes packed = compressBytes(in);
        ASSERT_EQ(decompressBytes(packed, u32(in.size())), in);
        std::vector<Command> commands;
        Bytes out;
        ASSERT_TRUE(parseStream(packed, commands, out));
        ASSERT_EQ(out, in);
        const Command* found = nullptr;
        for (const Command& m : commands)
            if (m.length && m.at == c.distance)
                found = &m;
        if (c.commandSize == 0) {
            for (const Command& m : commands)
                EXPECT_LE(m.distance, 131072u);
            continue;
        }
        ASSERT_NE(found, nullptr) << "distance " << c.distance << " length " << c.length;
        EXPECT_EQ(found->distance, c.distance);
        EXPECT_EQ(found->length, c.length);
        EXPECT_EQ(found->size, c.commandSize) << "distance " << c.distance << " length " << c.length;
    }
}

TEST(CodecRefPack, LongRunsSplitIntoLongestCommands)
{
    Bytes in(1 + 1028 + 1028 + 500, 'z');
    std::vector<Command> commands;
    Bytes out;
    ASSERT_TRUE(parseStream(compressBytes(in), commands, out));
    EXPECT_EQ(out, in);
    u32 longest = 0;
    for (const Command& c : commands)
        longest = c.length > longest ? c.length : longest;
    EXPECT_EQ(longest, 1028u);
}

TEST(CodecRefPack, RoundTripsEverySmallSize)
{
    Rng r(11);
    for (u32 n = 0; n <= 300; n++) {
        expectRoundTrip(randomBytes(r, n, 1 + r.below(4)));
        expectRoundTrip(mixedInput(r, n));
    }
}

TEST(CodecRefPack, RoundTripsLargeInputs)
{
    Rng r(12);
    expectRoundTrip(textLike(r, 300000));
    expectRoundTrip(Bytes(250000, 0));
    Bytes big = mixedInput(r, 4u << 20, 400);
    Bytes packed = compressBytes(big);
    EXPECT_LT(packed.size(), big.size());
    EXPECT_EQ(decompressBytes(packed, u32(big.size())), big);
}

// Inputs shaped to reach every limit of the search: the 2048-candidate cap (many positions
// sharing one hash, often with different bytes), the three distance limits, all lengths.
TEST(CodecRefPack, FastEncoderMatchesTheReference)
{
    Rng r(2024);
    for (int t = 0; t < 200; t++) {
        Bytes in;
        switch (t % 8) {
        case 0:
            in = randomBytes(r, r.below(4000), 2 + r.below(3));
            break;
        case 1:
            if (t % 100 == 1) {
                // Bytes whose 3-byte hashes collide four to a hash, more than 2048 to each.
                static const u8 alphabet[] = {0x00, 0x01, 0x10, 0x11};
                in.resize(33500 + r.below(1500));
                for (auto& v : in)
                    v = alphabet[r.below(4)];
            } else {
                // A block, about 2048 positions of the same hash (a third of them with other
                // bytes: x^1, y^0x10, z hashes like x, y, z), then the block again.
                Bytes block = randomBytes(r, 100 + r.below(200));
                in = block;
                for (u32 k = 1900 + r.below(300); k > 0; k--) {
                    bool other = r.below(3) == 0;
                    in.insert(in.end(), {u8(block[0] ^ (other ? 1 : 0)), u8(block[1] ^ (other ? 0x10 : 0)), block[2],
                                         u8(r.below(256))});
                }
                in.insert(in.end(), block.begin(), block.end());
                Bytes tail = randomBytes(r, r.below(30));
                in.insert(in.end(), tail.begin(), tail.end());
            }
            break;
        case 2:
            in = mixedInput(r, r.below(6000), 200);
            break;
        case 3:
            in = textLike(r, 2000 + r.below(8000));
            break;
        case 4: {
            // Repeats at the distance limits, some cut one byte short or long.
            static const u32 distances[] = {1023, 1024, 1025, 1026, 16383, 16384, 16385, 16386, 131071, 131072, 131073};
            u32 d = distances[r.below(11)];
            u32 len = 3 + r.below(t % 16 == 4 ? 1100 : 70);
            // One of them long enough for the search's ring of tree nodes to wrap.
            u32 lead = t == 196 ? 265000 : 200;
            in = randomBytes(r, d + lead);
            for (u32 k = 0; k < len; k++)
                in.push_back(in[lead + k]);
            Bytes tail = randomBytes(r, r.below(50));
            in.insert(in.end(), tail.begin(), tail.end());
            break;
        }
        case 5: {
            // A run inside random bytes.
            in = randomBytes(r, r.below(300));
            in.insert(in.end(), r.below(400), u8(r.below(256)));
            Bytes tail = randomBytes(r, r.below(300));
            in.insert(in.end(), tail.begin(), tail.end());
            break;
        }
        case 6: {
            // Short periodic patterns with occasional changes.
            u32 period = 1 + r.below(9);
            Bytes unit = randomBytes(r, period, 4);
            in.resize(r.below(2500));
            for (size_t k = 0; k < in.size(); k++)
                in[k] = r.below(20) ? unit[k % period] : u8(r.below(4));
            break;
        }
        default:
            in = randomBytes(r, r.below(40));
        }
        Bytes fast = compressBytes(in);
        Bytes reference = refPackReferenceCompress(in);
        ASSERT_EQ(fast, reference) << "case " << t << ", " << in.size() << " bytes";
    }
}

TEST(CodecRefPack, DecoderEndings)
{
    struct Case
    {
        const char* name;
        Bytes stream;
        u32 expected;
        Bytes output;
        bool warns;
    };
    const Bytes abcd = {'a', 'b', 'c', 'd'};
    const Case cases[] = {
        {"empty input, nothing expected", {}, 0, {}, false},
        {"stop with nothing expected", {0xFC}, 0, {}, false},
        {"empty input short of the size", {}, 3, {}, true},
        {"truncated command", {0xE0, 'a', 'b', 'c', 'd', 0x80, 0x00}, 10, abcd, true},
        {"literals cut by the end of input", {0xFF, 'a', 'b'}, 3, {'a', 'b'}, true},
        {"literal command with nothing left", {0xE0}, 4, {}, true},
        {"input used up exactly at the size", {0xE0, 'a', 'b', 'c', 'd'}, 4, abcd, false},
        {"input used up short of the size", {0xE0, 'a', 'b', 'c', 'd'}, 6, abcd, true},
        {"stop short of the size", {0xFD, 'a'}, 5, {'a'}, false},
        {"full output ignores a truncated command", {0xE0, 'a', 'b', 'c', 'd', 0xC0}, 4, abcd, false},
        {"full output ignores surplus commands", {0xE0, 'a', 'b', 'c', 'd', 0xE0, 'e', 'f', 'g', 'h', 0xFC}, 4, abcd, false},
        {"literals cut by a full output", {0xE0, 'a', 'b', 'c', 'd'}, 2, {'a', 'b'}, false},
        {"reference before the start reads zeros", {0x02, 0x02, 'a', 'b'}, 5, {'a', 'b', 0, 'a', 'b'}, false},
        {"copy cut by a full output", {0x1D, 0x00, 'x'}, 4, {'x', 'x', 'x', 'x'}, false},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(decompressBytes(c.stream, c.expected), c.output) << c.name;
        std::vector<std::string> want;
        if (c.warns) {
            char line[128];
            snprintf(line, sizeof line, "WARN |RefPack|Size mismatch! (produced %u, expected %u)", u32(c.output.size()),
                     c.expected);
            want.push_back(line);
        }
        EXPECT_EQ(LogCapture::lines(), want) << c.name;
    }
}

// Copies of every short distance and of all sizes, in the middle of a long output where the
// decoder copies whole words, and again at its very end.
TEST(CodecRefPack, DecoderCopiesEveryDistance)
{
    Rng r(21);
    Bytes stream;
    for (int k = 0; k < 20; k++) {
        stream.push_back(0xFB); // 112 literals
        Bytes lit = randomBytes(r, 112);
        stream.insert(stream.end(), lit.begin(), lit.end());
    }
    for (u32 distance = 1; distance <= 40; distance++) {
        for (u32 length : {5u, 8u, 9u, 16u, 17u, 31u, 100u, 1028u}) {
            u32 d = distance - 1, l = length - 5, literals = distance % 4;
            stream.insert(stream.end(), {u8(0xC0 | ((d >> 16) & 1) << 4 | ((l >> 8) & 3) << 2 | literals), u8(d >> 8),
                                         u8(d), u8(l)});
            for (u32 q = 0; q < literals; q++)
                stream.push_back(u8(r.below(256)));
        }
    }
    stream.push_back(0xFC);
    std::vector<Command> commands;
    Bytes want;
    ASSERT_TRUE(parseStream(stream, commands, want));
    LogCapture log;
    EXPECT_EQ(decompressBytes(stream, u32(want.size())), want);
    EXPECT_TRUE(LogCapture::lines().empty());
}

// A size claim far beyond what the input could produce is never trusted.
TEST(CodecRefPack, HugeClaimStaysWithinWhatTheInputCanProduce)
{
    Bytes stream;
    for (int k = 0; k < 75; k++)
        stream.insert(stream.end(), {0xDC, 0xFF, 0xFF, 0xFF});
    LogCapture log;
    Bytes out = decompressBytes(stream, 0xFFFFFFFFu);
    EXPECT_EQ(out, Bytes(75 * 1028, 0));
    ASSERT_EQ(LogCapture::lines().size(), 1u);
    EXPECT_EQ(LogCapture::lines()[0], "WARN |RefPack|Size mismatch! (produced 77100, expected 4294967295)");
}

namespace
{
std::string oracleModule()
{
    return std::string(MORDAX_SOURCE_DIR) + "/tests/oracles/node_modules/qfs-compression";
}

bool writeFile(const std::string& path, const Bytes& b)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return bool(f);
}

Bytes readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Runs qfs-compression's compress ("c") or decompress ("d") over `in`.
bool runQfs(const char* mode, const Bytes& in, Bytes& out)
{
    std::string base = std::string(MORDAX_BINARY_DIR) + "/qfs-oracle-" + std::to_string(getpid());
    std::string inPath = base + ".in", outPath = base + ".out";
    if (!writeFile(inPath, in))
        return false;
    std::string cmd = "node -e 'const q=require(process.argv[1]),fs=require(\"fs\");"
                      "const a=fs.readFileSync(process.argv[3]);"
                      "fs.writeFileSync(process.argv[4],process.argv[2]===\"c\"?q.compress(a):q.decompress(a))' '" +
                      oracleModule() + "' " + mode + " '" + inPath + "' '" + outPath + "'";
    int rc = std::system(cmd.c_str());
    out = readFile(outPath);
    std::remove(inPath.c_str());
    std::remove(outPath.c_str());
    return rc == 0;
}

std::vector<Bytes> oracleInputs()
{
    Rng r(99);
    return {Bytes(), Bytes{'q'}, textLike(r, 70000), randomBytes(r, 50000), Bytes(300000, 0), mixedInput(r, 400000)};
}
}

TEST(CodecRefPack, OracleDecodesOurStreams)
{
    ASSERT_EQ(access(oracleModule().c_str(), R_OK), 0) << "run scripts/setup.sh test to install the npm oracles";
    for (const Bytes& in : oracleInputs()) {
        Bytes framed = {0x10, 0xFB, u8(in.size() >> 16), u8(in.size() >> 8), u8(in.size())};
        Bytes packed = compressBytes(in);
        framed.insert(framed.end(), packed.begin(), packed.end());
        Bytes out;
        ASSERT_TRUE(runQfs("d", framed, out));
        EXPECT_EQ(out, in) << in.size() << " bytes";
    }
}

TEST(CodecRefPack, WeDecodeTheOraclesStreams)
{
    ASSERT_EQ(access(oracleModule().c_str(), R_OK), 0) << "run scripts/setup.sh test to install the npm oracles";
    for (const Bytes& in : oracleInputs()) {
        Bytes framed;
        ASSERT_TRUE(runQfs("c", in, framed));
        ASSERT_GE(framed.size(), 5u);
        Bytes packed(framed.begin() + 5, framed.end());
        LogCapture log;
        EXPECT_EQ(decompressBytes(packed, u32(in.size())), in) << in.size() << " bytes";
        EXPECT_TRUE(LogCapture::lines().empty());
    }
}
