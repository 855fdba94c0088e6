#include "gamedata/formats/Reader.h"

#include <cstring>

namespace TD
{
u32 Reader::readU32()
{
    u8 b[4];
    read(b, 4);
    return u32(b[0]) | (u32(b[1]) << 8) | (u32(b[2]) << 16) | (u32(b[3]) << 24);
}

u16 Reader::readU16()
{
    u8 b[2];
    read(b, 2);
    return u16(b[0] | (b[1] << 8));
}

void Reader::read(u8* dst, u64 n)
{
    for (u64 i = 0; i < n; i++)
        dst[i] = readU8();
}

u32 Reader::readU32LE(Reader& reader)
{
    if (reader.remaining() < 4)
        return 0;
    return reader.readU32();
}

u32 Reader::readU32BE(Reader& reader)
{
    if (reader.remaining() < 4)
        return 0;
    u8 b[4];
    reader.read(b, 4);
    return (u32(b[0]) << 24) | (u32(b[1]) << 16) | (u32(b[2]) << 8) | u32(b[3]);
}

u8 ByteArrayReader::readU8()
{
    if (position >= size())
        return 0;
    return array->data[position++];
}

// Same result as n single-byte reads: the bytes that exist, then zeros.
void ByteArrayReader::read(u8* dst, u64 n)
{
    u64 available = remaining();
    u64 take = n < available ? n : available;
    if (take)
        memcpy(dst, array->data + position, take);
    if (n > take)
        memset(dst + take, 0, n - take);
    position += take;
}

Reader* ByteArrayReader::clone()
{
    return TD_NEW(TD::ByteArrayReader, array);
}

void ByteArrayReader::skip(u64 n)
{
    // Compared against what is left, so a huge count cannot wrap the position.
    u64 available = remaining();
    position += n < available ? n : available;
}
}
