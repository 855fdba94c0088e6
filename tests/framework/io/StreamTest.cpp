#include "framework/io/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
// A heap block of exactly n bytes 1, 2, 3, ..., so ASan sees any read past its end.
struct Block
{
    ByteArray array;
    explicit Block(u32 n) : array(n)
    {
        for (u32 i = 0; i < n; i++)
            array.data[i] = u8(i + 1);
    }
};

}

TEST(MemoryStream, MovesClampToTheData)
{
    Block b(10);
    MemoryStream s(b.array);
    EXPECT_EQ(s.size(), 10u);
    s.skip(100);
    EXPECT_EQ(s.tell(), 10u);
    EXPECT_TRUE(s.atEnd());
    EXPECT_EQ(s.bytesLeft(), 0u);
    s.skipBack(3);
    EXPECT_EQ(s.tell(), 7u);
    s.skipBack(50);
    EXPECT_EQ(s.tell(), 0u);
    s.seek(11);
    EXPECT_EQ(s.tell(), 10u);
    s.seek(~0ull);
    EXPECT_EQ(s.tell(), 10u);
    EXPECT_EQ(s.bytesLeft(), 0u);
    s.seek(4);
    s.skip(~0ull);
    EXPECT_EQ(s.tell(), 10u);
    s.rewind();
    EXPECT_EQ(s.tell(), 0u);
    EXPECT_EQ(s.bytesLeft(), 10u);
}

TEST(MemoryStream, TypedReadsNearTheEndGiveZeroAndStopAtTheEnd)
{
    struct Case
    {
        u32 width;
        u64 (*read)(MemoryStream&);
    };
    const Case cases[] = {
        {1, [](MemoryStream& s) -> u64 { return s.readU8(); }},
        {2, [](MemoryStream& s) -> u64 { return s.readU16(); }},
        {4, [](MemoryStream& s) -> u64 { return s.readU32(); }},
        {8, [](MemoryStream& s) -> u64 { return s.readU64(); }},
    };
    const u32 size = 12;
    Block b(size);
    for (const Case& c : cases) {
        for (u32 pos = 0; pos <= size; pos++) {
            MemoryStream s(b.array);
            s.seek(pos);
            u64 value = c.read(s);
            if (pos + c.width <= size) {
                u64 expected = 0;
                for (u32 i = 0; i < c.width; i++)
                    expected |= u64(pos + i + 1) << (8 * i);
                EXPECT_EQ(value, expected) << "width " << c.width << " at " << pos;
                EXPECT_EQ(s.tell(), pos + c.width);
            } else {
                EXPECT_EQ(value, 0u) << "width " << c.width << " at " << pos;
                EXPECT_EQ(s.tell(), size);
                EXPECT_TRUE(s.atEnd());
            }
        }
    }
}

TEST(MemoryStream, ReadCopiesOnlyWhatIsThere)
{
    Block b(6);
    MemoryStream s(b.array);
    s.seek(4);
    u8 out[5];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(s.read(out, 4), 2u);
    const u8 expected[5] = {5, 6, 0, 0, 0xAA};
    EXPECT_EQ(memcmp(out, expected, 5), 0);
    EXPECT_TRUE(s.atEnd());
    EXPECT_EQ(s.read(out, 3), 0u);
    EXPECT_EQ(s.read(nullptr, 3), 0u);
}

TEST(MemoryStream, ReadIntoStaysInsideTheDestination)
{
    Block b(8);
    ByteArray dst(4);
    memset(dst.data, 0xAA, 4);
    MemoryStream s(b.array);

    // Too small: nothing copied, the position still moves.
    EXPECT_EQ(s.readInto(dst, 1, 4), 0u);
    EXPECT_EQ(s.tell(), 4u);
    for (u32 i = 0; i < 4; i++)
        EXPECT_EQ(dst.data[i], 0xAA);

    // An offset and length whose sum wraps around is still too small.
    s.seek(0);
    EXPECT_EQ(s.readInto(dst, 2, ~0ull - 1), 0u);
    EXPECT_EQ(s.tell(), 8u);

    // Fits: copies what the source has, zero for the rest.
    s.seek(6);
    EXPECT_EQ(s.readInto(dst, 1, 3), 2u);
    const u8 expected[4] = {0xAA, 7, 8, 0};
    EXPECT_EQ(memcmp(dst.data, expected, 4), 0);
    EXPECT_TRUE(s.atEnd());

    ByteArray empty;
    s.seek(0);
    EXPECT_EQ(s.readInto(empty, 0, 0), 0u);
}

TEST(MemoryStream, ReadIntoWholeArrayTakesWhatFits)
{
    Block b(10);
    MemoryStream s(b.array);
    s.seek(3);
    ByteArray big(16);
    EXPECT_EQ(s.readInto(big), 7u);
    EXPECT_EQ(big.data[0], 4);
    EXPECT_EQ(big.data[6], 10);
    s.seek(0);
    ByteArray small(4);
    EXPECT_EQ(s.readInto(small), 4u);
    EXPECT_EQ(s.tell(), 4u);
    EXPECT_EQ(small.data[3], 4);
}

TEST(MemoryStream, ByteReadsAtTheEnd)
{
    Block b(2);
    MemoryStream s(b.array);
    u8 c = 99;
    EXPECT_EQ(s.peekByte(), 1);
    EXPECT_TRUE(s.readByte(c));
    EXPECT_EQ(c, 1);
    EXPECT_EQ(s.readU8IfAvailable(), 2);
    EXPECT_TRUE(s.exhausted());
    EXPECT_FALSE(s.hasMore());
    EXPECT_EQ(s.peekByte(), 0);
    EXPECT_EQ(s.readU8IfAvailable(), 0);
    EXPECT_FALSE(s.readByte(c));
    EXPECT_EQ(c, 0);

    ByteArray none;
    MemoryStream empty(none);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_TRUE(empty.atEnd());
    EXPECT_EQ(empty.readU32(), 0u);
    EXPECT_FALSE(empty.readByte(c));
}

TEST(MemoryStream, UngetStepsBackOneByte)
{
    Block b(3);
    MemoryStream s(b.array);
    EXPECT_FALSE(Stream::unget(s));
    EXPECT_EQ(s.tell(), 0u);
    s.readU16();
    EXPECT_TRUE(Stream::unget(s));
    EXPECT_EQ(s.readU8(), 2);
}

TEST(Stream, FindBothWays)
{
    // "xabcab" followed by the search cases; MemoryStream's own search and the shared one agree.
    const u8 text[] = {'x', 'a', 'b', 'c', 'a', 'b'};
    struct Case
    {
        u32 from;
        const char* pattern;
        bool found;
        u32 positionAfter;
    };
    const Case cases[] = {
        {0, "abc", true, 1},
        {1, "abc", true, 1},  // a match at the position does not move
        {2, "ab", true, 4},
        {3, "abcd", false, 3}, // too few bytes left: nothing tried
        {4, "abc", false, 4},  // pattern would start 2 before the end
        {0, "zz", false, 5},
        {0, "", true, 0},
        {6, "", true, 6},
        {0, "xabcab", true, 0},
    };
    for (const Case& c : cases) {
        u32 len = u32(strlen(c.pattern));
        MemoryStream m(text, sizeof text);
        MemoryStream g(text, sizeof text); // searched with the shared search of other streams
        m.seek(c.from);
        g.seek(c.from);
        EXPECT_EQ(m.find(reinterpret_cast<const u8*>(c.pattern), len), c.found) << c.pattern << " from " << c.from;
        EXPECT_EQ(g.Stream::find(reinterpret_cast<const u8*>(c.pattern), len), c.found) << c.pattern << " from " << c.from;
        if (c.found)
            EXPECT_EQ(m.tell(), c.positionAfter);
        else
            EXPECT_EQ(m.tell(), c.from);
        EXPECT_EQ(g.tell(), c.positionAfter) << c.pattern << " from " << c.from;
    }
}

TEST(Stream, CloneKeepsPositionAndDeletesThroughAnyFace)
{
    Block b(10);
    MemoryStream s(b.array);
    s.seek(6);
    s.countLine();
    Stream* copy = s.clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->tell(), 6u);
    EXPECT_EQ(copy->lineNumber(), 1u);
    EXPECT_EQ(s.lineNumber(), 2u);
    EXPECT_EQ(copy->readU32(), 0x0A090807u);
    EXPECT_EQ(s.tell(), 6u);
    DataReader* reader = copy;
    memDelete(reader);

    ByteSource* source = s.clone();
    memDelete(source);
}

TEST(Stream, ReadsAsText)
{
    const char text[] = "  alpha\tbeta\r\n\"gamma delta\" 12\n";
    MemoryStream s(reinterpret_cast<const u8*>(text), u32(strlen(text)));
    String word;
    std::vector<std::string> words;
    while (s.readToken(&word))
        words.push_back(word.c_str());
    EXPECT_EQ(words, (std::vector<std::string>{"alpha", "beta", "\"gamma", "delta\"", "12"}));
    EXPECT_EQ(s.sourceLine, 3u);
    EXPECT_TRUE(s.atEnd());

    // The tokenizer reads through the stream's own position.
    s.seek(2);
    EXPECT_STREQ(s.readWord().c_str(), "alpha");
    EXPECT_EQ(s.tell(), 8u);
    EXPECT_EQ(s.readU8(), 'b');
}
