#pragma once
// Builders for IFF images laid out by hand: chunks, forms and tables, big-endian sizes.
#include "framework/core/Types.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace iffbytes
{
typedef std::vector<u8> Bytes;

inline Bytes str(const char* s)
{
    return s ? Bytes(s, s + strlen(s)) : Bytes();
}

inline Bytes raw(std::initializer_list<u8> list)
{
    return Bytes(list);
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes be32(u32 v)
{
    return {u8(v >> 24), u8(v >> 16), u8(v >> 8), u8(v)};
}

inline Bytes le32(u32 v)
{
    return {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
}

// A four-byte id from a literal (NULs allowed); a shorter one is padded with blanks.
struct Id
{
    Bytes bytes;
    template <size_t N>
    Id(const char (&text)[N]) : bytes(text, text + (N - 1 < 4 ? N - 1 : 4))
    {
        while (bytes.size() < 4)
            bytes.push_back(' ');
    }
};

// A chunk with its pad byte (zero unless given) after an odd body.
inline Bytes chunk(const Id& id, const Bytes& body, int pad = 0)
{
    Bytes out = cat({id.bytes, be32(u32(body.size())), body});
    if (body.size() & 1)
        out.push_back(u8(pad));
    return out;
}

inline Bytes chunk(const Id& id, const char* text)
{
    return chunk(id, str(text));
}

inline Bytes container(const Id& containerId, const Id& type, const Bytes& content)
{
    Bytes out = cat({containerId.bytes, be32(u32(content.size() + 4)), type.bytes, content});
    if (out.size() & 1)
        out.push_back(0);
    return out;
}

inline Bytes form(const Id& type, const Bytes& content)
{
    return container("FORM", type, content);
}

// A "TABL" at absolute position `at`: offsets of the records, each a little-endian length and
// its bytes.
inline Bytes table(u32 at, const std::vector<Bytes>& records, u32 extraZeroSlots = 0)
{
    const u32 count = u32(records.size()) + extraZeroSlots;
    u32 next = at + 8 + 4 * count;
    Bytes offsets, area;
    for (const Bytes& r : records) {
        offsets = cat({offsets, le32(next)});
        area = cat({area, le32(u32(r.size())), r});
        next += 4 + u32(r.size());
    }
    for (u32 i = 0; i < extraZeroSlots; i++)
        offsets = cat({offsets, le32(0)});
    return cat({str("TABL"), be32(4 * count), offsets, area});
}
}
