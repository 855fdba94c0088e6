#pragma once
#include "framework/core/Types.h"

// A sequence of bytes read one at a time with a movable position: what the text reader
// tokenises. Every Stream is one; StringReader has its own over a copy of its text.
class ByteSource
{
public:
    // Lines seen so far, from 1; the text reader counts each '\n' it takes.
    u32 sourceLine = 1;

    virtual ~ByteSource() = default;
    // The next byte, or false (out = 0) when there is none.
    virtual bool readByte(u8& out) = 0;
    virtual u64 tell() = 0;
    virtual void seek(u64 pos) = 0;
    virtual bool exhausted() = 0;
    virtual bool hasMore() = 0;
};
