#pragma once
// PAK layouts laid out by hand, on top of the helpers every container test shares.
#include "tests/framework/io/IoTestUtil.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tool/containers/ContainerPAK.h"
#include "tool/containers/Driver.h"

#include <string>
#include <vector>

namespace paktest
{
using namespace testutil;

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

inline ContainerPAK* openPak(const char* name, const Bytes& bytes)
{
    return openKept<ContainerPAK>(ContainerPAK::open, name, bytes);
}

inline std::vector<std::string> entryNames(const ContainerPAK& pak)
{
    std::vector<std::string> names;
    for (PakEntry* e : pak.entries)
        names.push_back(e->name.c_str());
    return names;
}
}
