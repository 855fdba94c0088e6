#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/Types.h"
#include "framework/io/ByteSource.h"
#include "framework/io/TextReader.h"

// Little-endian binary reading: the face archive handlers and converters read headers through.
class DataReader
{
public:
    // Starts at 1; served by Stream::countLine and Stream::lineNumber.
    u32 dataLine = 1;

    virtual ~DataReader() = default;
    // Past the end these give 0 and leave the reader at the end.
    virtual u64 readU64() = 0;
    virtual u32 readU32() = 0;
    virtual u16 readU16() = 0;
    virtual u8 readU8() = 0;
    // Moves on by len; copies only when offset + len lies inside dst. Returns the bytes copied.
    virtual u64 readInto(ByteArray& dst, u32 offset, u64 len) = 0;
    // Copies up to n bytes into dst (which holds n bytes); returns the bytes copied.
    virtual u64 read(void* dst, u64 n) = 0;
};

// A random-access reader that is at once a text reader (over its own bytes), a byte source and a
// little-endian data reader.
class Stream : public TextReader, public ByteSource, public DataReader
{
public:
    Stream() : TextReader(static_cast<ByteSource*>(this)) {}
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() override = default;

    virtual Stream* clone() = 0;
    virtual bool open() { return true; }
    // False when data written through the stream may not have reached its destination.
    virtual bool close() { return true; }
    // Never underflows: 0 once the position is at or past the end.
    virtual u64 bytesLeft() = 0;
    virtual u64 size() = 0;
    virtual void skip(u64 n) = 0;
    virtual void rewind() = 0;
    virtual void skipBack(u64 n) = 0;
    virtual bool atEnd() = 0;
    virtual void countLine() { dataLine++; }
    virtual u32 lineNumber() { return dataLine; }
    // Moves to the first match at or after the position; on failure the position is left at the
    // first candidate too short to hold the pattern (unchanged when none was tried).
    virtual bool find(const u8* pattern, u32 len);

    bool readByte(u8& out) override;
    bool exhausted() override { return bytesLeft() == 0; }
    bool hasMore() override { return bytesLeft() != 0; }

    u8 readU8IfAvailable() { return bytesLeft() ? readU8() : 0; }
    using DataReader::readInto;
    // As much of the rest as fits in dst, from dst's start; returns the count read.
    u64 readInto(ByteArray& dst);
    // One byte back, so a reader can push back the byte it just took; false at position 0.
    static bool unget(ByteSource& source);
};
