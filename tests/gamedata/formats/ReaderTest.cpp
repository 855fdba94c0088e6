#include "../TdTestHooks.h"
#include "gamedata/formats/Reader.h"

#include <cstring>

using TdReader = TdHooksTest;

namespace
{
TD::Array<unsigned char> bytesOf(std::initializer_list<u8> list)
{
    TD::Array<unsigned char> a(u32(list.size()));
    u32 i = 0;
    for (u8 b : list)
        a[i++] = b;
    return a;
}
}

TEST_F(TdReader, ShortDataReadsAsZeros)
{
    TD::Array<unsigned char> three = bytesOf({0x11, 0x22, 0x33});
    TD::ByteArrayReader r(&three);
    EXPECT_TRUE(r.open());
    EXPECT_EQ(TD::Reader::readU32LE(r), 0u);
    EXPECT_EQ(TD::Reader::readU32BE(r), 0u);
    EXPECT_EQ(r.tell(), 0u);
    EXPECT_EQ(r.readU32(), 0x00332211u);
    EXPECT_EQ(r.tell(), 3u);
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.readU8(), 0);
    EXPECT_EQ(r.readU16(), 0);
    EXPECT_EQ(r.tell(), 3u);

    r.rewind();
    EXPECT_EQ(r.readU16(), 0x2211);
    u8 buf[6];
    memset(buf, 0xEE, sizeof(buf));
    r.read(buf, 6);
    const u8 want[6] = {0x33, 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(buf, want, 6), 0);
    EXPECT_EQ(r.remaining(), 0u);
}

TEST_F(TdReader, PositionsAreClamped)
{
    TD::Array<unsigned char> ten(10);
    TD::ByteArrayReader r(&ten);
    r.seek(1000);
    EXPECT_EQ(r.tell(), 10u);
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.remaining(), 0u);

    r.seek(3);
    r.back(5);
    EXPECT_EQ(r.tell(), 0u);
    r.seek(3);
    r.back(3);
    EXPECT_EQ(r.tell(), 0u);
    r.seek(4);
    r.back(1);
    EXPECT_EQ(r.tell(), 3u);

    // A count near 2^64 must not wrap the position back into the data.
    r.seek(4);
    r.skip(UINT64_MAX);
    EXPECT_EQ(r.tell(), 10u);
    r.seek(4);
    r.skip(UINT64_MAX - 2);
    EXPECT_EQ(r.tell(), 10u);
    r.seek(4);
    r.skip(5);
    EXPECT_EQ(r.tell(), 9u);
    r.back(UINT64_MAX);
    EXPECT_EQ(r.tell(), 0u);
}

TEST_F(TdReader, EmptyAndMissingArrays)
{
    TD::Array<unsigned char> none(0);
    TD::ByteArrayReader a(&none);
    TD::ByteArrayReader b(nullptr);
    for (TD::Reader* r : {static_cast<TD::Reader*>(&a), static_cast<TD::Reader*>(&b)}) {
        EXPECT_TRUE(r->atEnd());
        EXPECT_EQ(r->readU32(), 0u);
        r->skip(7);
        r->seek(7);
        EXPECT_EQ(r->tell(), 0u);
        EXPECT_EQ(r->remaining(), 0u);
    }
}

TEST_F(TdReader, ByteOrderAndWords)
{
    TD::Array<unsigned char> data = bytesOf({0x46, 0x4F, 0x52, 0x4D, 0x01, 0x02, 0x03, 0x04, 0xFF});
    TD::ByteArrayReader r(&data);
    EXPECT_EQ(TD::Reader::readU32BE(r), 0x464F524Du);
    EXPECT_EQ(TD::Reader::readU32LE(r), 0x04030201u);
    EXPECT_EQ(r.tell(), 8u);
    EXPECT_EQ(TD::Reader::readU32LE(r), 0u);
    EXPECT_EQ(r.tell(), 8u);
    EXPECT_EQ(r.readU8(), 0xFF);
    EXPECT_EQ(r.reserved(), 0u);
}

TEST_F(TdReader, CloneStartsAtZero)
{
    install(nullptr);
    size_t base = liveCount();
    TD::Array<unsigned char> data = bytesOf({1, 2, 3, 4, 5});
    TD::ByteArrayReader r(&data);
    r.opened = 1;
    r.seek(3);
    TD::Reader* c = r.clone();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->opened, 0);
    EXPECT_EQ(c->tell(), 0u);
    EXPECT_EQ(r.tell(), 3u);
    u8 all[5];
    c->read(all, 5);
    const u8 want[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(memcmp(all, want, 5), 0);
    EXPECT_EQ(liveCount(), base + 2);  // the data and the clone
    TD::deleteObject(c);
    data.release();
    EXPECT_EQ(liveCount(), base);
    TD::deleteObject(TD::hooks.logger);
    TD::hooks.logger = nullptr;
}
