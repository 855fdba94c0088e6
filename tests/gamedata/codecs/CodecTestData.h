#pragma once
// Inputs and helpers shared by the codec tests.
#include "framework/core/ByteArray.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace codectest
{
typedef std::vector<u8> Bytes;
typedef std::unique_ptr<ByteArray, ByteArrayDeleter> ArrayPtr;

// xorshift64*: the same bytes on every machine.
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

inline Bytes randomBytes(size_t n, u64 seed)
{
    Random r(seed);
    Bytes b(n);
    for (auto& x : b)
        x = u8(r.next() >> 56);
    return b;
}

// Words from a small vocabulary with spaces, punctuation and line breaks, like a game script.
inline Bytes textBytes(size_t n, u64 seed)
{
    static const char* words[] = {"the", "pilot", "wing", "navigator", "fighter", "missile", "launch",
                                  "target", "shield", "armour", "capital", "ship", "sector", "nav",
                                  "point", "engage", "enemy", "afterburner", "gun", "decoy", "turret",
                                  "of", "and", "to", "a", "is", "in", "we", "must", "return", "base",
                                  "Beacon", "Outposts", "torpedo", "lock", "range", "speed", "velocity"};
    const u32 wordCount = sizeof(words) / sizeof(words[0]);
    Random r(seed);
    Bytes b;
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
        if (k < 4)
            b.push_back('\n');
        else
            b.push_back(' ');
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

// The first n bytes of a de Bruijn sequence over all byte pairs: no pair occurs twice.
inline Bytes distinctPairBytes(size_t n)
{
    Bytes seq;
    std::vector<int> a(3, 0);
    // Lyndon-word construction for alphabet 256, order 2.
    struct Gen
    {
        std::vector<int>& a;
        Bytes& seq;
        size_t limit;
        void run(int t, int p)
        {
            if (seq.size() >= limit)
                return;
            if (t > 2) {
                if (2 % p == 0)
                    for (int j = 1; j <= p; j++)
                        seq.push_back(u8(a[j]));
                return;
            }
            a[t] = a[t - p];
            run(t + 1, p);
            for (int j = a[t - p] + 1; j < 256 && seq.size() < limit; j++) {
                a[t] = j;
                run(t + 1, t);
            }
        }
    } g{a, seq, n};
    g.run(1, 1);
    seq.resize(n);
    return seq;
}

inline ArrayPtr toArray(const Bytes& b)
{
    return ArrayPtr(memNew<ByteArray>(b.data(), u32(b.size())));
}

inline Bytes toBytes(const ByteArray* a)
{
    if (!a || !a->count)
        return Bytes();
    return Bytes(a->data, a->data + a->count);
}

// The stream codec C makes of `data`, expected to succeed.
template <typename C>
Bytes encodeWith(const Bytes& data)
{
    C codec;
    ArrayPtr src = toArray(data);
    ArrayPtr out(codec.compress(*src));
    EXPECT_NE(out, nullptr);
    return toBytes(out.get());
}

// The output of codec C for a stream and a claimed size (null when it fails).
template <typename C>
ByteArray* decodeWith(const ByteArray& in, u32 claim)
{
    C codec;
    return codec.decompress(in, claim);
}

// A scratch directory for oracle runs, removed with the object.
struct ScratchDir
{
    std::filesystem::path path;
    explicit ScratchDir(const char* tag)
    {
        path = std::filesystem::temp_directory_path() /
               (std::string("mordax-") + tag + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(path);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

inline void writeFile(const std::string& name, const Bytes& b)
{
    std::ofstream f(name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline bool readFile(const std::string& name, Bytes& out)
{
    std::ifstream f(name, std::ios::binary);
    if (!f)
        return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

inline std::string oracleScript(const char* name)
{
    return std::string(MORDAX_SOURCE_DIR) + "/tests/gamedata/codecs/oracles/" + name;
}

// Runs a command; its exit status (0 = success).
inline int run(const std::string& command)
{
    int rc = std::system((command + " 2>&1").c_str());
    return rc == -1 ? -1 : WEXITSTATUS(rc);
}

inline std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}
}
