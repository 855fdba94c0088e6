#pragma once
// Byte layouts of VOC and WAV files and outside judges for the sound tests.
#include "tests/framework/io/IoTestUtil.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tool/convert/ContainerVOC.h"
#include "tool/convert/Wav.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace soundtest
{
using namespace testutil;

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

inline ContainerVOC* openVoc(const Bytes& bytes, const char* name = "003.VOC")
{
    return openKept<ContainerVOC>(ContainerVOC::open, name, bytes);
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
