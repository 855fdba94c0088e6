#pragma once
// Dialogue-table records laid out by hand, and small helpers for the PFC tests.
#include "tests/framework/io/IoTestUtil.h"
#include "tool/ToolOptions.h"
#include "tool/convert/ContainerPFC.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace pfctest
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

inline std::string textOf(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

// A 9-byte name field: the text, NUL-padded (cut at 9 bytes).
inline Bytes name9(const std::string& s)
{
    Bytes b(9, 0);
    memcpy(b.data(), s.data(), s.size() < 9 ? s.size() : 9);
    return b;
}

inline Bytes le16(u16 v)
{
    return {u8(v), u8(v >> 8)};
}

inline Bytes line(const std::string& s)
{
    return bytesOf(s) + Bytes{0};
}

inline Bytes dialogue(const std::string& speaker, const std::string& expression, const std::string& background,
                      u16 delay, u16 unk1, const std::string& text, u8 unk2)
{
    return Bytes{0} + name9(speaker) + name9(expression) + name9(background) + le16(delay) + le16(unk1) + line(text) +
           Bytes{unk2};
}

inline Bytes cutaway(const std::string& background, u16 delay, u8 unk1, const std::string& text)
{
    return Bytes{4} + name9(background) + le16(delay) + Bytes{unk1} + line(text);
}

inline Bytes branch(const std::string& speaker, const std::string& background, u16 unk1, u16 unk2)
{
    return Bytes{7} + name9(speaker) + name9(background) + le16(unk1) + le16(unk2);
}

const Bytes OPTION{5};
const Bytes END_BRANCH{8};

inline ByteArray toArray(const Bytes& b)
{
    return ByteArray(b.data(), u32(b.size()));
}

inline Bytes toBytes(const ByteArray* a)
{
    return a && a->count ? Bytes(a->data, a->data + a->count) : Bytes();
}

// Options for the length of one test; the defaults come back afterwards.
struct OptionScope
{
    ToolOptions options;
    OptionScope() { setToolOptions(&options); }
    ~OptionScope() { setToolOptions(nullptr); }
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

inline ContainerPFC* openPfc(const char* name, const Bytes& bytes)
{
    // The container looks into the bytes: it keeps its own copy of them.
    ByteArray* array = newByteArray(bytes.data(), u32(bytes.size()));
    return static_cast<ContainerPFC*>(keepingImage(ContainerPFC::open(String(name), *array), array));
}

inline Bytes serialised(Container& c)
{
    Bytes b;
    captured([&] {
        ByteArray* out = c.serialise(noProgress, 0);
        EXPECT_NE(out, nullptr);
        b = toBytes(out);
        deleteByteArray(out);
    });
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
}
