#pragma once
// Byte layouts of VOC and WAV files, option scopes and outside judges for the sound tests.
#include "tests/framework/io/IoTestUtil.h"
#include "tool/ToolOptions.h"
#include "tool/convert/ContainerVOC.h"
#include "tool/convert/Wav.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace soundtest
{
typedef std::vector<u8> Bytes;

struct OptionScope
{
    ToolOptions options;
    OptionScope() { setToolOptions(&options); }
    ~OptionScope() { setToolOptions(nullptr); }
};

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
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

// The 26-byte header; the defaults are the values every written file carries.
inline Bytes vocHeader(u16 firstBlock = 26, u16 version = 0x010A, u16 check = 0x1129)
{
    return text("Creative Voice File\x1A") + le16(firstBlock) + le16(version) + le16(check);
}

inline Bytes vocBlock(u8 type, const Bytes& payload)
{
    u32 n = u32(payload.size());
    return Bytes{type, u8(n), u8(n >> 8), u8(n >> 16)} + payload;
}

inline Bytes soundBlock(u8 divisor, u8 codec, const Bytes& samples)
{
    return vocBlock(1, Bytes{divisor, codec} + samples);
}

inline Bytes terminator()
{
    return Bytes{0};
}

// A recognisable sound: a slow ramp with a little texture, never flat.
inline Bytes tone(size_t n, u32 seed = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = u8(128 + int((i * 7 + seed) % 97) - 48);
    return b;
}

inline ByteArray toArray(const Bytes& b)
{
    return ByteArray(b.data(), u32(b.size()));
}

inline Bytes toBytes(const ByteArray* a)
{
    return a && a->count ? Bytes(a->data, a->data + a->count) : Bytes();
}

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

inline ContainerVOC* openVoc(const Bytes& bytes, const char* name = "003.VOC")
{
    // The container looks into the bytes: it keeps its own copy of them.
    ByteArray* a = newByteArray(bytes.data(), u32(bytes.size()));
    return static_cast<ContainerVOC*>(keepingImage(ContainerVOC::open(String(name), *a), a));
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

// Standard output of a shell command, with its exit status.
inline std::string commandOutput(const std::string& cmd, int* status = nullptr)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return "popen failed";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int s = pclose(p);
    if (status)
        *status = s;
    return out;
}

// What Python's wave module reads from a file: channels, sample width, rate, frames and the
// frame bytes in hex.
inline std::string pythonWaveReading(const std::string& path)
{
    return commandOutput("/usr/bin/python3 -c \"import sys, wave\n"
                         "w = wave.open(sys.argv[1], 'rb')\n"
                         "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), "
                         "w.getcomptype(), w.readframes(w.getnframes()).hex())\" '" +
                         path + "' 2>&1");
}

inline std::string hexOf(const Bytes& b)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (u8 v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

// A sound made by sox: rate, bits, channels, and a short sine in both channels' own pitch.
inline bool soxSine(const std::string& path, u32 rate, u32 bits, u32 channels, const char* seconds = "0.05")
{
    std::string cmd = "sox -n -r " + std::to_string(rate) + " -b " + std::to_string(bits) + " -c " +
                      std::to_string(channels) + " '" + path + "' synth " + seconds + " sine 440 sine 1250 2>&1";
    int status = 0;
    std::string out = commandOutput(cmd, &status);
    EXPECT_EQ(status, 0) << out;
    return status == 0;
}
}
