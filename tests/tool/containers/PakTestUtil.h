#pragma once
// Small helpers shared by the PAK tests: option scopes, byte layouts and scratch directories.
#include "tests/framework/io/IoTestUtil.h"
#include "tool/ToolOptions.h"
#include "tool/containers/ContainerPAK.h"
#include "tool/containers/Driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paktest
{
typedef std::vector<u8> Bytes;

// Options for the length of one test; the defaults come back afterwards.
struct OptionScope
{
    ToolOptions options;
    OptionScope() { setToolOptions(&options); }
    ~OptionScope() { setToolOptions(nullptr); }
};

inline Bytes text(const char* s)
{
    return Bytes(s, s + strlen(s));
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes le32(u32 v)
{
    return {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
}

inline Bytes le16(u16 v)
{
    return {u8(v), u8(v >> 8)};
}

inline Bytes filled(size_t n, u8 value = 0)
{
    return Bytes(n, value);
}

struct RawEntry
{
    u8 flag;
    Bytes data;
};

// The layout of a PAK laid out by hand: size word, offset words, data in table order. Tests use
// it for the small boundary cases; whole archives come from the fixture generator.
inline Bytes pakLayout(const std::vector<RawEntry>& entries, i32 sizeAdjust = 0)
{
    u32 offset = u32(entries.size() * 4 + 4);
    Bytes table, data;
    for (const RawEntry& e : entries) {
        table = table + le32(u32(e.flag) << 24 | offset);
        data = data + e.data;
        offset += u32(e.data.size());
    }
    return le32(u32(i64(offset) + sizeAdjust)) + table + data;
}

inline ByteArray toArray(const Bytes& b)
{
    return ByteArray(b.data(), u32(b.size()));
}

inline Bytes toBytes(const ByteArray* a)
{
    return a && a->count ? Bytes(a->data, a->data + a->count) : Bytes();
}

inline ContainerPAK* openPak(const char* name, const Bytes& bytes)
{
    // The container's entries look into the bytes: it keeps its own copy of them.
    ByteArray* array = newByteArray(bytes.data(), u32(bytes.size()));
    return static_cast<ContainerPAK*>(keepingImage(ContainerPAK::open(String(name), *array), array));
}

// Output printed while the function runs.
template <typename F>
std::string captured(F&& f)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline void noProgress(u32)
{
}

inline Bytes serialised(Container& c)
{
    ByteArray* out = c.serialise(noProgress, 0);
    EXPECT_NE(out, nullptr);
    Bytes b = toBytes(out);
    deleteByteArray(out);
    return b;
}

inline Bytes readFile(const std::string& path)
{
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return b;
    int c;
    while ((c = fgetc(f)) != EOF)
        b.push_back(u8(c));
    fclose(f);
    return b;
}

inline bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> entryNames(const ContainerPAK& pak)
{
    std::vector<std::string> names;
    for (PakEntry* e : pak.entries)
        names.push_back(e->name.c_str());
    return names;
}
}
