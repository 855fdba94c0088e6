#pragma once
#include "framework/core/Types.h"

// MD5 message digest (RFC 1321). A fresh object is a started context; assigning Md5() restarts one.
// final() does not clear the context: it keeps the padded count and the state after the closing
// block, and later updates continue from there. The hash lines printed after each entry and the
// verification of rewritten archives depend on that, so both sides must feed the same sequence.
struct Md5
{
    u32 lo = 0; // bytes hashed, modulo 2^29 (times 8 after final)
    u32 hi = 0; // carries out of lo, plus length >> 29 of each update
    u32 a = 0x67452301;
    u32 b = 0xefcdab89;
    u32 c = 0x98badcfe;
    u32 d = 0x10325476;
    u8 buffer[64] = {};

    void update(const void* data, u32 length);
    void final(u8 digest[16]);
    // Applies the block function to length / 64 consecutive blocks; returns the first byte not used.
    const u8* transform(const void* data, u32 length);
};
