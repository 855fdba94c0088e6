#pragma once
#include "framework/core/ByteArray.h"
#include "framework/io/MemoryStream.h"
#include "framework/io/Stream.h"

class PackageSource;

// A Stream over a window [start, end) of another source: a byte array, a stream or a
// package source, each owned. Positions are those of the underlying stream. With a key, every
// byte read is XORed with the key, the key position counting from the window's start. Nothing
// outside the window is ever read.
class SubStream : public Stream
{
public:
    ByteArray* bytes = nullptr;
    MemoryStream* memory = nullptr;
    Stream* stream = nullptr;
    PackageSource* provider = nullptr;
    ByteArray* key = nullptr; // a copy of its own; null when unscrambled
    u32 keyIndex = 0;
    Stream* current = nullptr;
    u64 start = 0;
    u64 length = 0;
    u64 end = 0;

    // Takes the array; the window runs from offset to the array's end.
    SubStream(ByteArray* bytes, u64 offset);
    // Takes the stream.
    SubStream(Stream* stream, u64 offset, u64 length);
    // Takes the provider and opens it.
    SubStream(PackageSource* provider, u64 offset, u64 length, const ByteArray* key);
    ~SubStream() override;

    // The same window over a source of its own, at the same position.
    Stream* clone() override;
    u64 bytesLeft() override;
    u64 size() override { return length; }
    void skip(u64 n) override;
    void rewind() override { seek(start); }
    void skipBack(u64 n) override;
    bool atEnd() override { return bytesLeft() == 0; }

    u64 tell() override { return current ? current->tell() : start; }
    void seek(u64 pos) override;

    u64 readU64() override { return readLittleEndian(8); }
    u32 readU32() override { return u32(readLittleEndian(4)); }
    u16 readU16() override { return u16(readLittleEndian(2)); }
    u8 readU8() override { return u8(readLittleEndian(1)); }
    u64 readInto(ByteArray& dst, u32 offset, u64 len) override;
    u64 read(void* dst, u64 n) override;
    using Stream::readInto;

private:
    void setWindow(u64 offset, u64 windowLength);
    void unscramble(u8* data, u64 n);
    u64 readLittleEndian(u32 n);
};
