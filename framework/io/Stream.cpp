#include "framework/io/Stream.h"

bool Stream::readByte(u8& out)
{
    if (!hasMore()) {
        out = 0;
        return false;
    }
    out = readU8();
    return true;
}

u64 Stream::readInto(ByteArray& dst)
{
    u64 left = bytesLeft();
    u64 n = left < dst.byteSize ? left : dst.byteSize;
    if (n > 0)
        return readInto(dst, 0, n);
    return 0;
}

bool Stream::find(const u8* pattern, u32 len)
{
    u64 start = tell();
    u64 left = bytesLeft();
    if (left < len)
        return false;
    // The candidates are counted up front, so the search ends even on a source whose seek
    // does not land where it was asked to.
    u64 candidates = left - len + 1;
    for (u64 i = 0; i < candidates; i++) {
        seek(start + i);
        u32 matched = 0;
        while (matched < len && readU8() == pattern[matched])
            matched++;
        if (matched == len) {
            seek(start + i);
            return true;
        }
    }
    seek(start + candidates);
    return false;
}

bool Stream::unget(ByteSource& source)
{
    u64 pos = source.tell();
    if (pos == 0) {
        source.seek(0);
        return false;
    }
    source.seek(pos - 1);
    return true;
}
