#include "framework/io/Md5.h"

#include <cstring>

namespace
{
inline u32 rotl(u32 x, u32 n)
{
    return (x << n) | (x >> (32 - n));
}

inline u32 word(const u8* p)
{
    return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}

inline void putWord(u8* p, u32 v)
{
    p[0] = u8(v);
    p[1] = u8(v >> 8);
    p[2] = u8(v >> 16);
    p[3] = u8(v >> 24);
}

// x is the word computed by the step before: the terms without it are added first, so that each
// step waits on as few operations as possible. G's two halves have no bit in common, so their
// sum is their OR.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) (((y) & ~(z)) + ((x) & (z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, w, x, y, z, m, k, s) (w) = rotl((w) + (m) + (k) + f((x), (y), (z)), (s)) + (x)
}

const u8* Md5::transform(const void* data, u32 length)
{
    const u8* p = static_cast<const u8*>(data);
    for (u32 blocks = length / 64; blocks; blocks--, p += 64) {
        u32 m[16];
        for (int i = 0; i < 16; i++)
            m[i] = word(p + 4 * i);
        u32 A = a, B = b, C = c, D = d;

        MD5_STEP(MD5_F, A, B, C, D, m[0], 0xd76aa478, 7);
        MD5_STEP(MD5_F, D, A, B, C, m[1], 0xe8c7b756, 12);
        MD5_STEP(MD5_F, C, D, A, B, m[2], 0x242070db, 17);
        MD5_STEP(MD5_F, B, C, D, A, m[3], 0xc1bdceee, 22);
        MD5_STEP(MD5_F, A, B, C, D, m[4], 0xf57c0faf, 7);
        MD5_STEP(MD5_F, D, A, B, C, m[5], 0x4787c62a, 12);
        MD5_STEP(MD5_F, C, D, A, B, m[6], 0xa8304613, 17);
        MD5_STEP(MD5_F, B, C, D, A, m[7], 0xfd469501, 22);
        MD5_STEP(MD5_F, A, B, C, D, m[8], 0x698098d8, 7);
        MD5_STEP(MD5_F, D, A, B, C, m[9], 0x8b44f7af, 12);
        MD5_STEP(MD5_F, C, D, A, B, m[10], 0xffff5bb1, 17);
        MD5_STEP(MD5_F, B, C, D, A, m[11], 0x895cd7be, 22);
        MD5_STEP(MD5_F, A, B, C, D, m[12], 0x6b901122, 7);
        MD5_STEP(MD5_F, D, A, B, C, m[13], 0xfd987193, 12);
        MD5_STEP(MD5_F, C, D, A, B, m[14], 0xa679438e, 17);
        MD5_STEP(MD5_F, B, C, D, A, m[15], 0x49b40821, 22);

        MD5_STEP(MD5_G, A, B, C, D, m[1], 0xf61e2562, 5);
        MD5_STEP(MD5_G, D, A, B, C, m[6], 0xc040b340, 9);
        MD5_STEP(MD5_G, C, D, A, B, m[11], 0x265e5a51, 14);
        MD5_STEP(MD5_G, B, C, D, A, m[0], 0xe9b6c7aa, 20);
        MD5_STEP(MD5_G, A, B, C, D, m[5], 0xd62f105d, 5);
        MD5_STEP(MD5_G, D, A, B, C, m[10], 0x02441453, 9);
        MD5_STEP(MD5_G, C, D, A, B, m[15], 0xd8a1e681, 14);
        MD5_STEP(MD5_G, B, C, D, A, m[4], 0xe7d3fbc8, 20);
        MD5_STEP(MD5_G, A, B, C, D, m[9], 0x21e1cde6, 5);
        MD5_STEP(MD5_G, D, A, B, C, m[14], 0xc33707d6, 9);
        MD5_STEP(MD5_G, C, D, A, B, m[3], 0xf4d50d87, 14);
        MD5_STEP(MD5_G, B, C, D, A, m[8], 0x455a14ed, 20);
        MD5_STEP(MD5_G, A, B, C, D, m[13], 0xa9e3e905, 5);
        MD5_STEP(MD5_G, D, A, B, C, m[2], 0xfcefa3f8, 9);
        MD5_STEP(MD5_G, C, D, A, B, m[7], 0x676f02d9, 14);
        MD5_STEP(MD5_G, B, C, D, A, m[12], 0x8d2a4c8a, 20);

        MD5_STEP(MD5_H, A, B, C, D, m[5], 0xfffa3942, 4);
        MD5_STEP(MD5_H, D, A, B, C, m[8], 0x8771f681, 11);
        MD5_STEP(MD5_H, C, D, A, B, m[11], 0x6d9d6122, 16);
        MD5_STEP(MD5_H, B, C, D, A, m[14], 0xfde5380c, 23);
        MD5_STEP(MD5_H, A, B, C, D, m[1], 0xa4beea44, 4);
        MD5_STEP(MD5_H, D, A, B, C, m[4], 0x4bdecfa9, 11);
        MD5_STEP(MD5_H, C, D, A, B, m[7], 0xf6bb4b60, 16);
        MD5_STEP(MD5_H, B, C, D, A, m[10], 0xbebfbc70, 23);
        MD5_STEP(MD5_H, A, B, C, D, m[13], 0x289b7ec6, 4);
        MD5_STEP(MD5_H, D, A, B, C, m[0], 0xeaa127fa, 11);
        MD5_STEP(MD5_H, C, D, A, B, m[3], 0xd4ef3085, 16);
        MD5_STEP(MD5_H, B, C, D, A, m[6], 0x04881d05, 23);
        MD5_STEP(MD5_H, A, B, C, D, m[9], 0xd9d4d039, 4);
        MD5_STEP(MD5_H, D, A, B, C, m[12], 0xe6db99e5, 11);
        MD5_STEP(MD5_H, C, D, A, B, m[15], 0x1fa27cf8, 16);
        MD5_STEP(MD5_H, B, C, D, A, m[2], 0xc4ac5665, 23);

        MD5_STEP(MD5_I, A, B, C, D, m[0], 0xf4292244, 6);
        MD5_STEP(MD5_I, D, A, B, C, m[7], 0x432aff97, 10);
        MD5_STEP(MD5_I, C, D, A, B, m[14], 0xab9423a7, 15);
        MD5_STEP(MD5_I, B, C, D, A, m[5], 0xfc93a039, 21);
        MD5_STEP(MD5_I, A, B, C, D, m[12], 0x655b59c3, 6);
        MD5_STEP(MD5_I, D, A, B, C, m[3], 0x8f0ccc92, 10);
        MD5_STEP(MD5_I, C, D, A, B, m[10], 0xffeff47d, 15);
        MD5_STEP(MD5_I, B, C, D, A, m[1], 0x85845dd1, 21);
        MD5_STEP(MD5_I, A, B, C, D, m[8], 0x6fa87e4f, 6);
        MD5_STEP(MD5_I, D, A, B, C, m[15], 0xfe2ce6e0, 10);
        MD5_STEP(MD5_I, C, D, A, B, m[6], 0xa3014314, 15);
        MD5_STEP(MD5_I, B, C, D, A, m[13], 0x4e0811a1, 21);
        MD5_STEP(MD5_I, A, B, C, D, m[4], 0xf7537e82, 6);
        MD5_STEP(MD5_I, D, A, B, C, m[11], 0xbd3af235, 10);
        MD5_STEP(MD5_I, C, D, A, B, m[2], 0x2ad7d2bb, 15);
        MD5_STEP(MD5_I, B, C, D, A, m[9], 0xeb86d391, 21);

        a += A;
        b += B;
        c += C;
        d += D;
    }
    return p;
}

void Md5::update(const void* data, u32 length)
{
    const u8* p = static_cast<const u8*>(data);
    // The count is kept as u32 pieces; the printed hash lines depend on this exact arithmetic.
    u32 saved = lo;
    lo = (saved + length) & 0x1FFFFFFF;
    if (lo < saved)
        hi++;
    hi += length >> 29;

    u32 used = saved & 63;
    if (used) {
        u32 room = 64 - used;
        if (length < room) {
            memcpy(buffer + used, p, length);
            return;
        }
        memcpy(buffer + used, p, room);
        transform(buffer, 64);
        p += room;
        length -= room;
    }
    if (length >= 64) {
        p = transform(p, length);
        length &= 63;
    }
    if (length)
        memcpy(buffer, p, length);
}

void Md5::final(u8 digest[16])
{
    u32 used = lo & 63;
    buffer[used++] = 0x80;
    if (64 - used < 8) {
        memset(buffer + used, 0, 64 - used);
        transform(buffer, 64);
        used = 0;
    }
    memset(buffer + used, 0, 56 - used);
    lo *= 8;
    putWord(buffer + 56, lo);
    putWord(buffer + 60, hi);
    transform(buffer, 64);
    putWord(digest, a);
    putWord(digest + 4, b);
    putWord(digest + 8, c);
    putWord(digest + 12, d);
}
