#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Heap, CounterReturnsAfterMatchedPair)
{
    u64 before = memLiveBytes();
    void* p = memAlloc(100);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(memLiveBytes(), before + 100);
    memFree(p);
    EXPECT_EQ(memLiveBytes(), before);
    memFree(nullptr);
    EXPECT_EQ(memLiveBytes(), before);
}

TEST(Heap, StrDupNCopiesAtMostN)
{
    u64 cap = 0;
    char* a = strDupN(3, "abcdef", &cap);
    EXPECT_STREQ(a, "abc");
    EXPECT_EQ(cap, 4u);
    memFree(a);
    char* b = strDupN(10, "ab", &cap);
    EXPECT_STREQ(b, "ab");
    EXPECT_EQ(cap, 11u);
    for (int i = 2; i < 11; i++)
        EXPECT_EQ(b[i], 0);
    memFree(b);
    // An unterminated source is never read past n.
    char raw[4] = {'w', 'x', 'y', 'z'};
    char* c = strDupN(4, raw, &cap);
    EXPECT_STREQ(c, "wxyz");
    memFree(c);
    char* d = strDupN(5, nullptr, &cap);
    EXPECT_STREQ(d, "");
    memFree(d);
}

TEST(Heap, OverflowingRequestIsRefused)
{
    u64 cap = 7;
    EXPECT_EQ(allocTextBuffer(UINT64_MAX, &cap), nullptr);
    EXPECT_EQ(cap, 0u);
    EXPECT_EQ(memAlloc(UINT64_MAX / 2), nullptr);
    memClearAllocationFailure();
}

TEST(ByteBuffer, GrowthAndByteOrder)
{
    ByteBuffer b(0, 0);
    EXPECT_EQ(b.growStep, 32u);
    b.writeU8(0xAA);
    EXPECT_EQ(b.array->count, 33u);
    b.writeU32(1);
    b.writeU32BE(1);
    const u8 want[9] = {0xAA, 1, 0, 0, 0, 0, 0, 0, 1};
    ByteArray* a = b.toArray();
    ASSERT_EQ(a->count, 9u);
    EXPECT_EQ(memcmp(a->data, want, 9), 0);
    deleteByteArray(a);

    ByteBuffer empty(0, 0);
    ByteArray* e = empty.toArray();
    EXPECT_EQ(e->count, 0u);
    EXPECT_EQ(e->data, nullptr);
    deleteByteArray(e);
}

TEST(ByteBuffer, MillionSmallWritesStayLinear)
{
    ByteBuffer b(0, 0);
    for (u32 i = 0; i < 1000000; i++)
        b.writeU8(u8(i));
    ASSERT_EQ(b.length, 1000000u);
    EXPECT_EQ(b.data()[999999], u8(999999));
}

TEST(ByteArray, WriteAtOnlyWhenItFits)
{
    ByteArray a(8);
    memset(a.data, 0, 8);
    const u8 src[4] = {1, 2, 3, 4};
    a.writeAt(src, 4, 5);
    EXPECT_EQ(a.data[5], 0);
    a.writeAt(src, 4, 4);
    EXPECT_EQ(a.data[7], 4);
    ByteArray copy(a);
    EXPECT_EQ(memcmp(copy.data, a.data, 8), 0);
}

namespace
{
struct Counted
{
    static int alive;
    Counted() { alive++; }
    virtual ~Counted() { alive--; }
};
int Counted::alive = 0;
}

TEST(PtrArray, GrowsAndOwns)
{
    {
        PtrArray<Counted> arr(true);
        Counted* first[9];
        for (int i = 0; i < 9; i++)
            first[i] = arr.push(memNew<Counted>());
        EXPECT_EQ(arr.capacity, 16u);
        for (int i = 0; i < 9; i++)
            EXPECT_EQ(arr[i], first[i]);
        EXPECT_EQ(Counted::alive, 9);
    }
    EXPECT_EQ(Counted::alive, 0);
    Counted* keep = memNew<Counted>();
    {
        PtrArray<Counted> arr;
        arr.push(keep);
    }
    EXPECT_EQ(Counted::alive, 1);
    memDelete(keep);
}
