#pragma once
#include "framework/io/Stream.h"

// A Stream over bytes in memory. The bytes are not owned: the array must outlive the stream.
// Reads never touch memory outside the bytes or the destination; what is not there reads as 0.
class MemoryStream : public Stream
{
public:
    const u8* data = nullptr;
    u32 count = 0;
    u32 position = 0;

    explicit MemoryStream(const ByteArray& array);
    MemoryStream(const u8* bytes, u32 n);

    Stream* clone() override;
    u64 bytesLeft() override { return position < count ? count - position : 0; }
    u64 size() override { return count; }
    void skip(u64 n) override { position = n < bytesLeft() ? u32(position + n) : count; }
    void rewind() override { position = 0; }
    void skipBack(u64 n) override { position = n <= position ? u32(position - n) : 0; }
    bool atEnd() override { return position == count; }
    bool find(const u8* pattern, u32 len) override;

    bool readByte(u8& out) override;
    u64 tell() override { return position; }
    void seek(u64 pos) override { position = pos < count ? u32(pos) : count; }

    u64 readU64() override;
    u32 readU32() override;
    u16 readU16() override;
    u8 readU8() override;
    u64 readInto(ByteArray& dst, u32 offset, u64 len) override;
    u64 read(void* dst, u64 n) override;
    using Stream::readInto;

    u8 peekByte() const { return position < count ? data[position] : 0; }

private:
    // The little-endian value of the next n bytes, or 0 (moving to the end) when fewer remain.
    u64 readLittleEndian(u32 n);
};
