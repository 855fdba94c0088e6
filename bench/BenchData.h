#pragma once
// Inputs for the benchmarks: the same bytes on every machine and every run.
#include "framework/core/Types.h"

#include <cstdio>
#include <vector>

namespace benchdata
{
struct Random
{
    u64 s;
    explicit Random(u64 seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    u64 next()
    {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
    u32 below(u32 n) { return u32((next() >> 32) % n); }
};

inline std::vector<u8> randomBytes(size_t n, u64 seed = 1)
{
    Random r(seed);
    std::vector<u8> b(n);
    for (auto& x : b)
        x = u8(r.next() >> 56);
    return b;
}

inline std::vector<u8> repeatedBytes(size_t n, u8 value = 0x20)
{
    return std::vector<u8>(n, value);
}

// Words with spaces, punctuation, line breaks and numbers, skewed towards common words.
inline std::vector<u8> textBytes(size_t n, u64 seed = 1)
{
    static const char* words[] = {"the", "pilot", "wing", "navigator", "fighter", "missile", "launch",
                                  "target", "shield", "armour", "capital", "ship", "sector", "nav",
                                  "point", "engage", "enemy", "afterburner", "gun", "decoy", "turret",
                                  "of", "and", "to", "a", "is", "in", "we", "must", "return", "base",
                                  "Beacon", "Outposts", "torpedo", "lock", "range", "speed", "velocity"};
    const u32 wordCount = sizeof(words) / sizeof(words[0]);
    Random r(seed);
    std::vector<u8> b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const char* w = words[r.below(wordCount) % (1 + r.below(wordCount))];
        for (const char* p = w; *p; p++)
            b.push_back(u8(*p));
        u32 k = r.below(100);
        if (k < 6)
            b.push_back('.');
        else if (k < 9)
            b.push_back(',');
        b.push_back(k < 4 ? '\n' : ' ');
        if (r.below(50) == 0) {
            char num[16];
            int len = snprintf(num, sizeof num, "%u", r.below(100000));
            b.insert(b.end(), num, num + len);
            b.push_back(' ');
        }
    }
    b.resize(n);
    return b;
}
}
