#include "framework/io/Md5.h"
#include "IoTestUtil.h"

#include <cstring>

using namespace iotest;

namespace
{
std::string md5Hex(const void* data, u32 n)
{
    Md5 ctx;
    ctx.update(data, n);
    u8 digest[16];
    ctx.final(digest);
    return hex(digest);
}

std::string finalHex(Md5& ctx)
{
    u8 digest[16];
    ctx.final(digest);
    return hex(digest);
}

struct Vector
{
    const char* text;
    const char* digest;
};

// The test suite of RFC 1321.
const Vector rfcVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};
}

TEST(Md5, RfcVectorsWhole)
{
    for (const Vector& v : rfcVectors)
        EXPECT_EQ(md5Hex(v.text, u32(strlen(v.text))), v.digest) << '"' << v.text << '"';
}

TEST(Md5, RfcVectorsInRandomPieces)
{
    std::mt19937 rng(1321);
    for (const Vector& v : rfcVectors) {
        u32 n = u32(strlen(v.text));
        for (int round = 0; round < 200; round++) {
            Md5 ctx;
            u32 at = 0;
            while (at < n) {
                u32 piece = rng() % (n - at + 1); // pieces of 0 bytes too
                ctx.update(v.text + at, piece);
                at += piece;
            }
            ASSERT_EQ(finalHex(ctx), v.digest) << '"' << v.text << "\" round " << round;
        }
    }
}

TEST(Md5, LengthsAroundBlockEdgesMatchMd5sum)
{
    ScratchDir dir;
    const u32 lengths[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1048575, 1048576, 1048577};
    for (u32 n : lengths) {
        std::vector<u8> data = randomBytes(n, n);
        std::string path = dir.file("data");
        writeFile(path, data);
        std::string expected = md5sumOf(path);
        ASSERT_EQ(expected.size(), 32u);
        EXPECT_EQ(md5Hex(data.data(), n), expected) << "length " << n;

        // The same bytes in uneven pieces, crossing block edges at every offset.
        std::mt19937 rng(n + 7);
        Md5 ctx;
        u32 at = 0;
        while (at < n) {
            u32 piece = std::min<u32>(n - at, rng() % 200);
            ctx.update(data.data() + at, piece);
            at += piece;
        }
        EXPECT_EQ(finalHex(ctx), expected) << "length " << n << " in pieces";
    }
}

TEST(Md5, FinalLeavesTheContextRunning)
{
    // These digests are what the hash lines and verification of stored archives were made with.
    Md5 twice;
    twice.update("abc", 3);
    EXPECT_EQ(finalHex(twice), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(finalHex(twice), "f27bd1274c15be0c8f6ca72ce364d782");

    Md5 onwards;
    onwards.update("abc", 3);
    EXPECT_EQ(finalHex(onwards), "900150983cd24fb0d6963f7d28e17f72");
    onwards.update("def", 3);
    EXPECT_EQ(finalHex(onwards), "f4d394e84311c9544307adf6df9f1d83");
}

TEST(Md5, FillingTheBufferExactlyEmptiesIt)
{
    std::vector<u8> data = randomBytes(200, 3);
    for (u32 first = 1; first < 64; first++) {
        Md5 ctx;
        ctx.update(data.data(), first);
        ctx.update(data.data() + first, 64 - first);
        EXPECT_EQ(ctx.lo & 63, 0u);
        ctx.update(data.data() + 64, 136);
        EXPECT_EQ(finalHex(ctx), md5Hex(data.data(), 200)) << "first piece " << first;
    }
}

TEST(Md5, ByteCountCarriesIntoHighWord)
{
    // A count past 2^29 bytes carries into hi, as the stored hashes were computed.
    Md5 ctx;
    ctx.lo = 0x1FFFFFF0;
    u8 bytes[40] = {};
    ctx.update(bytes, 40);
    EXPECT_EQ(ctx.lo, 0x18u);
    EXPECT_EQ(ctx.hi, 1u);
    u8 digest[16];
    ctx.final(digest);
    EXPECT_EQ(ctx.lo, 0xC0u);
    EXPECT_EQ(ctx.buffer[56], 0xC0);
    EXPECT_EQ(ctx.buffer[60], 1);
}

TEST(Md5, TransformReturnsThePointerPastWholeBlocks)
{
    u8 data[200] = {};
    Md5 ctx;
    EXPECT_EQ(ctx.transform(data, 200), data + 192);
    EXPECT_EQ(ctx.transform(data, 63), data);
}
