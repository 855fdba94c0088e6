#pragma once
#include "gamedata/core/Array.h"

namespace TD
{
// A positioned source of bytes that never fails: reads past the end give zeros and every
// position is clamped to the data. Words are read little-endian.
class Reader
{
public:
    // 0 after construction and after clone; the IFF reader opens a clone and then sets it.
    u8 opened = 0;

    Reader() = default;
    virtual ~Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual u8 readU8() = 0;
    virtual u32 readU32();
    virtual u16 readU16();
    virtual void read(u8* dst, u64 n);
    // A new reader over the same data at position 0, owned by the caller (deleteObject).
    virtual Reader* clone() = 0;
    virtual u64 remaining() = 0;
    virtual void skip(u64 n) = 0;
    virtual void rewind() = 0;
    virtual void back(u64 n) = 0;
    virtual void seek(u64 pos) = 0;
    virtual u64 tell() = 0;
    virtual bool atEnd() = 0;
    virtual u32 reserved() { return 0; }

    // A word only when four bytes remain; else 0 and nothing consumed.
    static u32 readU32LE(Reader& reader);
    static u32 readU32BE(Reader& reader);
};

// Reader over an array held in memory; the array is borrowed and must outlive the reader.
class ByteArrayReader : public Reader
{
public:
    explicit ByteArrayReader(const Array<unsigned char>* array) : array(array) {}

    bool open() override { return true; }
    void close() override {}
    u8 readU8() override;
    void read(u8* dst, u64 n) override;
    Reader* clone() override;
    u64 remaining() override { return size() - position; }
    void skip(u64 n) override;
    void rewind() override { position = 0; }
    void back(u64 n) override { position = position > n ? position - n : 0; }
    void seek(u64 pos) override { position = pos < size() ? pos : size(); }
    u64 tell() override { return position; }
    bool atEnd() override { return position == size(); }

    const Array<unsigned char>* data() const { return array; }

private:
    u64 size() const { return (array && array->data) ? array->count : 0; }

    const Array<unsigned char>* array;
    u64 position = 0;
};
}
