#pragma once
#include "framework/core/ByteArray.h"

// Append-only writer that grows a ByteArray; every output file is built in one.
class ByteBuffer
{
public:
    u32 growStep;
    ByteArray* array;
    bool owned;
    u32 length;

    ByteBuffer(u32 initialCapacity = 0, u32 growStep = 0);
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    void reserve(u32 n);
    void writeU8(u8 v);
    void write(const u8* src, u64 n);
    void writeU16(u16 v);
    void writeU32(u32 v);
    void writeU32BE(u32 v);
    void writeU16BE(u16 v);
    // Overwrites four bytes already written (a size known only after what it counts).
    void patchU32BE(u32 at, u32 v);
    // A new owned array of exactly `length` bytes; null when memory ran out.
    ByteArray* toArray() const;
    // The same, handing over the buffer's own array when it holds exactly `length` bytes (a
    // buffer made with the right capacity), so the bytes are not copied; the buffer is then
    // empty.
    ByteArray* release();
    const u8* data() const { return array ? array->data : nullptr; }
    // False once a write could not be stored (out of memory or past 4 GiB).
    bool ok() const { return !failed; }

private:
    bool failed = false;
};
