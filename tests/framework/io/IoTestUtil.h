#pragma once
// Scratch directories and outside oracles for the stream and file tests.
#include "framework/core/Types.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace iotest
{
// A fresh directory under /tmp, removed with everything in it at the end of the test.
struct ScratchDir
{
    std::string path;
    ScratchDir()
    {
        char name[] = "/tmp/mordax_io_XXXXXX";
        char* p = mkdtemp(name);
        EXPECT_NE(p, nullptr);
        path = p ? p : "/tmp";
    }
    ~ScratchDir()
    {
        if (path.size() > 5)
            std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

inline void writeFile(const std::string& path, const std::vector<u8>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    fclose(f);
}

inline std::vector<u8> randomBytes(size_t n, u32 seed)
{
    std::mt19937 rng(seed);
    std::vector<u8> v(n);
    for (auto& b : v)
        b = u8(rng());
    return v;
}

inline std::string hex(const u8* digest, size_t n = 16)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[digest[i] >> 4];
        s += digits[digest[i] & 15];
    }
    return s;
}

// The digest md5sum gives for a file.
inline std::string md5sumOf(const std::string& path)
{
    std::string cmd = "md5sum '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return "popen failed";
    char line[256] = {};
    if (!fgets(line, sizeof line, p))
        line[0] = 0;
    pclose(p);
    return std::string(line).substr(0, 32);
}
}
