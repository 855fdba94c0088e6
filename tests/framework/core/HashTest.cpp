#include "framework/core/Hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(HashString, KnownVectors)
{
    struct Case
    {
        const char* text;
        u32 hash;
    };
    // Computed with an independent MurmurHash3 x86_32 under the seed 0xbabecafe.
    const Case cases[] = {
        {"", 0x3b9d908a},        {"a", 0x41b4a429},           {"ab", 0x48a94759},
        {"abc", 0x67ea2ae3},     {"abcd", 0x4ac8b827},        {"hello world", 0x396d7899},
        {"common.log.filename", 0xcbe27b59},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hashString(c.text, u32(strlen(c.text))), c.hash) << '"' << c.text << '"';
    EXPECT_EQ(hashString(nullptr, 0), 0x3b9d908au);
}

TEST(HashString, ReadsOnlyLengthBytesAtAnyAlignment)
{
    // The same bytes at every offset of a buffer hash alike, and the bytes after them do not count.
    const char text[] = "common.log.filename";
    u32 want = hashString(text, 19);
    std::vector<u8> buffer(64, 0xAB);
    for (size_t offset = 0; offset < 8; offset++) {
        memcpy(buffer.data() + offset, text, 19);
        EXPECT_EQ(hashString(buffer.data() + offset, 19), want) << offset;
        buffer.assign(64, u8(offset));
    }
    // High bytes are taken unsigned.
    const u8 high[5] = {0x80, 0xFF, 0xFE, 0x81, 0x90};
    EXPECT_NE(hashString(high, 5), hashString(high, 4));
}
