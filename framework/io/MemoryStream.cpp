#include "framework/io/MemoryStream.h"

#include <cstring>

MemoryStream::MemoryStream(const ByteArray& array)
    : data(array.data), count(array.byteSize > 0xFFFFFFFFull ? 0xFFFFFFFFu : u32(array.byteSize))
{
    if (!data)
        count = 0;
}

MemoryStream::MemoryStream(const u8* bytes, u32 n) : data(bytes), count(bytes ? n : 0) {}

Stream* MemoryStream::clone()
{
    MemoryStream* copy = memNew<MemoryStream>(data, count);
    if (copy)
        copy->position = position;
    return copy;
}

bool MemoryStream::find(const u8* pattern, u32 len)
{
    if (bytesLeft() < len)
        return false;
    u64 last = u64(count) - len;
    for (u64 candidate = position; candidate <= last; candidate++) {
        if (len == 0 || memcmp(data + candidate, pattern, len) == 0) {
            seek(candidate);
            return true;
        }
    }
    return false;
}

bool MemoryStream::readByte(u8& out)
{
    if (position >= count) {
        out = 0;
        return false;
    }
    out = data[position++];
    return true;
}

u64 MemoryStream::readLittleEndian(u32 n)
{
    if (bytesLeft() < n) {
        position = count;
        return 0;
    }
    u64 value = 0;
    for (u32 i = 0; i < n; i++)
        value |= u64(data[position + i]) << (8 * i);
    position += n;
    return value;
}

u64 MemoryStream::readU64()
{
    return readLittleEndian(8);
}

u32 MemoryStream::readU32()
{
    return u32(readLittleEndian(4));
}

u16 MemoryStream::readU16()
{
    return u16(readLittleEndian(2));
}

u8 MemoryStream::readU8()
{
    return position < count ? data[position++] : 0;
}

u64 MemoryStream::readInto(ByteArray& dst, u32 offset, u64 len)
{
    u64 start = position;
    skip(len);
    if (!dst.data || len > dst.byteSize || offset > dst.byteSize - len)
        return 0;
    u64 available = position - start;
    u8* to = dst.bytes() + offset;
    if (available)
        memcpy(to, data + start, size_t(available));
    if (available < len)
        memset(to + available, 0, size_t(len - available));
    return available;
}

u64 MemoryStream::read(void* dst, u64 n)
{
    u64 start = position;
    skip(n);
    u64 available = position - start;
    if (!dst)
        return 0;
    if (available)
        memcpy(dst, data + start, size_t(available));
    if (available < n)
        memset(static_cast<u8*>(dst) + available, 0, size_t(n - available));
    return available;
}
