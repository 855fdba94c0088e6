#pragma once
// Dialogue-table records laid out by hand, and small helpers for the PFC tests.
#include "tests/framework/io/IoTestUtil.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tool/convert/ContainerPFC.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace pfctest
{
using namespace testutil;

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

inline ContainerPFC* openPfc(const char* name, const Bytes& bytes)
{
    return openKept<ContainerPFC>(ContainerPFC::open, name, bytes);
}

// Serialised with its output kept off the test's.
inline Bytes quietlySerialised(Container& c)
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

}
