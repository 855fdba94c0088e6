#pragma once
// What the container tests share: bytes laid out by hand, tool options for one test, captured
// output, opening a container over bytes it keeps, and reading back what was written. Each
// format's own layouts live beside its tests; whole archives come from the test-archive
// generator (tests/fixtures/make_fixtures.py).
#include "tool/ToolOptions.h"
#include "tool/containers/Container.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace testutil
{
typedef std::vector<u8> Bytes;

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

inline Bytes text(const char* s)
{
    return Bytes(s, s + strlen(s));
}

inline Bytes le16(u16 v)
{
    return {u8(v), u8(v >> 8)};
}

inline Bytes le32(u32 v)
{
    return {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
}

inline ByteArray toArray(const Bytes& b)
{
    return ByteArray(b.data(), u32(b.size()));
}

inline Bytes toBytes(const ByteArray* a)
{
    return a && a->count ? Bytes(a->data, a->data + a->count) : Bytes();
}

// Options for the length of one test; the defaults, and a clean failure state, come back
// afterwards.
struct OptionScope
{
    ToolOptions options;
    explicit OptionScope(u32 verbosity = 0, bool addNew = false)
    {
        options.verbosity = verbosity;
        options.addNewFiles = addNew ? 1 : 0;
        setToolOptions(&options);
    }
    ~OptionScope()
    {
        setToolOptions(nullptr);
        clearToolFailure();
    }
};

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

// A container opened over a copy of the bytes, which it keeps (its entries look into them).
template <typename T>
T* openKept(Container* (*open)(const String&, const ByteArray&), const char* name, const Bytes& bytes)
{
    ByteArray* array = newByteArray(bytes.data(), u32(bytes.size()));
    return static_cast<T*>(keepingImage(array ? open(String(name), *array) : nullptr, array));
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

// The lines of printed output that begin "ERROR: ".
inline std::vector<std::string> errorLines(const std::string& out)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos)
            end = out.size();
        std::string l = out.substr(at, end - at);
        if (l.rfind("ERROR: ", 0) == 0)
            lines.push_back(l);
        at = end + 1;
    }
    return lines;
}

// A classic TRE laid out as the tool writes one: count, header size, 74-byte entries (flag 1,
// 65-byte name, offset, size) in the order given, then the data without holes.
inline Bytes treLayout(const std::vector<std::pair<std::string, Bytes>>& entries)
{
    const u32 header = u32(8 + 74 * entries.size());
    Bytes table = le32(u32(entries.size())) + le32(header), data;
    u32 offset = header;
    for (const auto& e : entries) {
        Bytes name(65, 0);
        memcpy(name.data(), e.first.data(), e.first.size() < 65 ? e.first.size() : 65);
        table = table + Bytes{1} + name + le32(offset) + le32(u32(e.second.size()));
        data = data + e.second;
        offset += u32(e.second.size());
    }
    return table + data;
}
}
