#include "framework/vfs/SubStream.h"
#include "framework/vfs/Package.h"

namespace
{
ByteArray* copyKey(const ByteArray* key)
{
    if (!key || !key->data || key->count == 0)
        return nullptr;
    return memNew<ByteArray>(key->data, key->count);
}
}

void SubStream::setWindow(u64 offset, u64 windowLength)
{
    start = offset;
    length = windowLength;
    // A window past 2^64 cannot exist; what lies beyond the source is never read anyway.
    end = offset + windowLength < offset ? ~u64(0) : offset + windowLength;
    seek(start);
}

SubStream::SubStream(ByteArray* array, u64 offset) : bytes(array)
{
    if (bytes)
        memory = memNew<MemoryStream>(*bytes);
    current = memory;
    u64 count = bytes ? bytes->byteSize : 0;
    if (offset > count)
        offset = count;
    setWindow(offset, count - offset);
}

SubStream::SubStream(Stream* source, u64 offset, u64 windowLength) : stream(source)
{
    current = stream;
    setWindow(offset, windowLength);
}

SubStream::SubStream(PackageSource* source, u64 offset, u64 windowLength, const ByteArray* scrambleKey)
    : provider(source), key(copyKey(scrambleKey))
{
    current = provider ? provider->open() : nullptr;
    setWindow(offset, windowLength);
}

SubStream::~SubStream()
{
    if (provider) {
        provider->close();
        memDelete(provider);
    }
    memDelete(stream);
    memDelete(memory);
    memDelete(bytes);
    memDelete(key);
}

Stream* SubStream::clone()
{
    const u64 position = tell();
    SubStream* copy = nullptr;
    if (bytes) {
        ByteArray* again = memNew<ByteArray>(*bytes);
        if (!again)
            return nullptr;
        copy = memNew<SubStream>(again, start);
        if (!copy)
            memDelete(again);
    } else if (stream) {
        Stream* again = stream->clone();
        if (!again)
            return nullptr;
        copy = memNew<SubStream>(again, start, length);
        if (!copy)
            memDelete(again);
    } else if (provider) {
        PackageSource* again = provider->clone();
        if (!again)
            return nullptr;
        copy = memNew<SubStream>(again, start, length, key);
        if (!copy)
            memDelete(again);
    }
    if (copy)
        copy->seek(position);
    return copy;
}

u64 SubStream::bytesLeft()
{
    if (!current)
        return 0;
    u64 pos = current->tell();
    if (pos >= end)
        return 0;
    u64 inWindow = end - pos;
    u64 inSource = current->bytesLeft();
    return inWindow < inSource ? inWindow : inSource;
}

void SubStream::seek(u64 pos)
{
    if (pos < start)
        pos = start;
    if (pos > end)
        pos = end;
    if (current)
        current->seek(pos);
    keyIndex = key ? u32((pos - start) % key->count) : 0;
}

void SubStream::skip(u64 n)
{
    u64 pos = tell();
    seek(n > end - pos ? end : pos + n);
}

void SubStream::skipBack(u64 n)
{
    u64 pos = tell();
    seek(n > pos - start ? start : pos - n);
}

void SubStream::unscramble(u8* data, u64 n)
{
    if (!key)
        return;
    const u8* k = key->data;
    const u32 count = key->count;
    for (u64 i = 0; i < n; i++) {
        data[i] ^= k[keyIndex];
        keyIndex = keyIndex + 1 == count ? 0 : keyIndex + 1;
    }
}

u64 SubStream::readLittleEndian(u32 n)
{
    if (bytesLeft() < n) {
        seek(end);
        return 0;
    }
    u8 raw[8] = {};
    current->read(raw, n);
    unscramble(raw, n);
    u64 value = 0;
    for (u32 i = 0; i < n; i++)
        value |= u64(raw[i]) << (8 * i);
    return value;
}

u64 SubStream::readInto(ByteArray& dst, u32 offset, u64 len)
{
    u64 n = bytesLeft();
    if (len < n)
        n = len;
    if (!current)
        return 0;
    if (!dst.data || len > dst.byteSize || offset > dst.byteSize - len) {
        skip(n);
        return 0;
    }
    u64 got = current->readInto(dst, offset, n);
    unscramble(dst.bytes() + offset, got);
    return got;
}

u64 SubStream::read(void* dst, u64 n)
{
    u64 take = bytesLeft();
    if (n < take)
        take = n;
    if (!current || !dst || take == 0)
        return 0;
    u64 got = current->read(dst, take);
    unscramble(static_cast<u8*>(dst), got);
    return got;
}
