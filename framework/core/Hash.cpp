#include "framework/core/Hash.h"

namespace
{
inline u32 rotl32(u32 x, int r)
{
    return (x << r) | (x >> (32 - r));
}
}

u32 hashString(const void* data, u32 length)
{
    const u8* bytes = static_cast<const u8*>(data);
    const u32 c1 = 0xcc9e2d51;
    const u32 c2 = 0x1b873593;
    u32 h = 0xbabecafe;
    u32 blocks = length / 4;

    for (u32 i = 0; i < blocks; i++) {
        const u8* p = bytes + u64(i) * 4;
        u32 k = u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
        k *= c1;
        k = rotl32(k, 15);
        k *= c2;
        h ^= k;
        h = rotl32(h, 13);
        h = h * 5 + 0xe6546b64;
    }

    const u8* tail = bytes + u64(blocks) * 4;
    u32 k = 0;
    switch (length & 3) {
    case 3:
        k ^= u32(tail[2]) << 16;
        [[fallthrough]];
    case 2:
        k ^= u32(tail[1]) << 8;
        [[fallthrough]];
    case 1:
        k ^= tail[0];
        k *= c1;
        k = rotl32(k, 15);
        k *= c2;
        h ^= k;
    }

    h ^= length;
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}
