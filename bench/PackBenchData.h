#pragma once
// Inputs for the RefPack and LZSS benchmarks: the same bytes on every machine and every run.
#include "framework/core/Types.h"

#include <string>
#include <vector>

namespace packbench
{
struct Rng
{
    u64 state;
    explicit Rng(u64 seed) : state(seed) {}
    u64 next()
    {
        u64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    u32 below(u32 n) { return u32(next() % n); }
};

inline std::vector<u8> zeros(size_t n)
{
    return std::vector<u8>(n, 0);
}

inline std::vector<u8> randomBytes(size_t n, u64 seed = 1)
{
    Rng r(seed);
    std::vector<u8> b(n);
    for (auto& v : b)
        v = u8(r.next() >> 56);
    return b;
}

// Words of a made-up language, picked with a skewed frequency, with punctuation and lines.
inline std::vector<u8> textLike(size_t n, u64 seed = 1)
{
    static const char* const syllables[] = {"ka", "ro", "th", "en", "mor", "dax", "el", "sta", "qui", "an",
                                            "ve", "li", "on", "us", "ter", "ga", "is", "be", "do", "re"};
    Rng r(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 2000; i++) {
        std::string w;
        int parts = 1 + int(r.below(3));
        for (int k = 0; k < parts; k++)
            w += syllables[r.below(20)];
        words.push_back(w);
    }
    std::vector<u8> out;
    out.reserve(n + 32);
    int column = 0;
    while (out.size() < n) {
        u32 a = r.below(2000), b = r.below(2000);
        const std::string& w = words[(u64(a) * b) / 2000];
        out.insert(out.end(), w.begin(), w.end());
        column += int(w.size()) + 1;
        u32 p = r.below(20);
        if (p == 0)
            out.push_back('.');
        else if (p == 1)
            out.push_back(',');
        if (column > 70) {
            out.push_back('\n');
            column = 0;
        } else {
            out.push_back(' ');
        }
    }
    out.resize(n);
    return out;
}

inline std::vector<u8> sample(int kind, size_t n)
{
    return kind == 0 ? zeros(n) : kind == 1 ? randomBytes(n) : textLike(n);
}

inline const char* sampleName(int kind)
{
    return kind == 0 ? "zeros" : kind == 1 ? "random" : "text";
}
}
