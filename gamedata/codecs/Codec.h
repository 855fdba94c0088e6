#pragma once
#include "framework/core/ByteArray.h"

// The one interface through which every container packs and unpacks entry data. The result is
// a new ByteArray owned by the caller (deleteByteArray); null means failure. Codecs keep no
// state between calls; callers construct one on their own stack for each use.
class Codec
{
public:
    virtual ByteArray* compress(const ByteArray& in) = 0;
    // expectedSize is what the caller knows from its own header (0 = not known).
    virtual ByteArray* decompress(const ByteArray& in, u32 expectedSize) = 0;
    virtual ~Codec();
};
