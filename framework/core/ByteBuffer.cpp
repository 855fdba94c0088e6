#include "framework/core/ByteBuffer.h"

#include <cstring>

ByteBuffer::ByteBuffer(u32 initialCapacity, u32 step) : growStep(step < 32 ? 32 : step), owned(true), length(0)
{
    array = memNew<ByteArray>(initialCapacity);
}

ByteBuffer::~ByteBuffer()
{
    if (owned)
        deleteByteArray(array);
    array = nullptr;
}

void ByteBuffer::reserve(u32 n)
{
    u32 have = array ? array->count : 0;
    if (n <= have)
        return;
    // At least geometric, so a long run of small writes stays linear.
    u64 want = u64(growStep) + n;
    if (want < u64(have) * 2)
        want = u64(have) * 2;
    if (want > UINT32_MAX)
        want = UINT32_MAX;
    ByteArray* bigger = memNew<ByteArray>(u32(want));
    if (!bigger || !bigger->data) {
        deleteByteArray(bigger);
        failed = true;
        return;
    }
    if (array && array->data)
        memcpy(bigger->data, array->data, have);
    if (owned)
        deleteByteArray(array);
    array = bigger;
    owned = true;
}

void ByteBuffer::write(const u8* src, u64 n)
{
    if (!n || failed)
        return;
    if (u64(length) + n > UINT32_MAX) {
        failed = true;
        return;
    }
    reserve(u32(length + n));
    if (failed)
        return;
    memcpy(array->data + length, src, size_t(n));
    length += u32(n);
}

void ByteBuffer::writeU8(u8 v)
{
    write(&v, 1);
}

void ByteBuffer::writeU16(u16 v)
{
    u8 b[2] = {u8(v), u8(v >> 8)};
    write(b, 2);
}

void ByteBuffer::writeU16BE(u16 v)
{
    u8 b[2] = {u8(v >> 8), u8(v)};
    write(b, 2);
}

void ByteBuffer::writeU32(u32 v)
{
    u8 b[4] = {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
    write(b, 4);
}

void ByteBuffer::writeU32BE(u32 v)
{
    u8 b[4] = {u8(v >> 24), u8(v >> 16), u8(v >> 8), u8(v)};
    write(b, 4);
}

void ByteBuffer::patchU32BE(u32 at, u32 v)
{
    if (failed || u64(at) + 4 > length)
        return;
    u8* p = array->data + at;
    p[0] = u8(v >> 24);
    p[1] = u8(v >> 16);
    p[2] = u8(v >> 8);
    p[3] = u8(v);
}

ByteArray* ByteBuffer::release()
{
    if (failed || !array || !owned || array->count != length)
        return failed ? nullptr : toArray();
    ByteArray* whole = array;
    array = nullptr;
    length = 0;
    return whole;
}

ByteArray* ByteBuffer::toArray() const
{
    return newByteArray(array ? array->data : nullptr, length);
}
