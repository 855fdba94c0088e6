#pragma once
#include "framework/core/ByteArray.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Deterministic inputs for the RefPack and LZSS tests.
namespace packtest
{
typedef std::vector<u8> Bytes;

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
    u32 below(u32 n) { return n ? u32(next() % n) : 0; }
};

inline Bytes randomBytes(Rng& r, size_t n, u32 alphabet = 256)
{
    Bytes b(n);
    for (auto& v : b)
        v = u8(r.below(alphabet));
    return b;
}

// Words of a made-up language, picked with a skewed frequency, with punctuation and lines.
inline Bytes textLike(Rng& r, size_t n)
{
    static const char* const syllables[] = {"ka", "ro", "th", "en", "mor", "dax", "el", "sta", "qui", "an",
                                            "ve", "li", "on", "us", "ter", "ga", "is", "be", "do", "re"};
    std::vector<std::string> words;
    for (int i = 0; i < 400; i++) {
        std::string w;
        int parts = 1 + int(r.below(3));
        for (int k = 0; k < parts; k++)
            w += syllables[r.below(20)];
        words.push_back(w);
    }
    Bytes out;
    out.reserve(n);
    int column = 0;
    while (out.size() < n) {
        u32 a = r.below(400), b = r.below(400);
        const std::string& w = words[(a * b) / 400];
        for (char c : w)
            out.push_back(u8(c));
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

inline std::unique_ptr<ByteArray, ByteArrayDeleter> toArray(const Bytes& b)
{
    return std::unique_ptr<ByteArray, ByteArrayDeleter>(memNew<ByteArray>(b.data(), u32(b.size())));
}

inline Bytes toBytes(const ByteArray* a)
{
    return a && a->count ? Bytes(a->data, a->data + a->count) : Bytes();
}

inline std::string hex(const Bytes& b)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < b.size(); i++) {
        if (i)
            s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}
}
