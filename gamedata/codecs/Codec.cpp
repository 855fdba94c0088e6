#include "gamedata/codecs/Codec.h"

#include <cstring>

Codec::~Codec() = default;

namespace
{
constexpr u64 TRUSTED_OUTPUT = 1 << 20;
constexpr u64 FIRST_OUTPUT = 64 << 10;
}

u64 firstOutputSize(u64 limit, u64 inLength, u64 ratio)
{
    const u64 plausible = inLength * ratio > TRUSTED_OUTPUT ? inLength * ratio : TRUSTED_OUTPUT;
    if (limit <= plausible)
        return limit;
    // Starting small costs one cheap copy when the stream turns out dense: the first growth
    // sizes the output from the stream's own rate.
    return FIRST_OUTPUT;
}

u64 nextOutputSize(u64 capacity, u64 needed, u64 limit, u64 produced, u64 consumed, u64 inLength)
{
    // Doubling copies as many bytes again as the output holds, which would slow down dense
    // streams; one that reaches the limit at its rate so far (give or take a quarter) is sized
    // for it now.
    const double projected = double(produced) * double(inLength) / double(consumed ? consumed : 1);
    if (projected * 1.25 >= double(limit))
        return limit;
    const u64 size = capacity * 2 > needed ? capacity * 2 : needed;
    return size < limit ? size : limit;
}

// Not inlined: a decoder's hot loop then keeps its output pointer in a register.
[[gnu::noinline]] u8* moveOutput(u8* out, u64 used, u64 size)
{
    u8* bigger = static_cast<u8*>(memAlloc(size));
    if (!bigger)
        return nullptr;
    if (used)
        memcpy(bigger, out, size_t(used));
    memFree(out);
    return bigger;
}

ByteArray* takeOutput(u8* out, u64 capacity, u32 length)
{
    if (capacity - length > length / 4 + 4096) {
        ByteArray* result = newByteArray(out, length);
        memFree(out);
        return result;
    }
    ByteArray* result = memNew<ByteArray>();
    if (!result) {
        memFree(out);
        return nullptr;
    }
    result->data = length ? out : nullptr;
    result->count = length;
    result->byteSize = length;
    if (!length)
        memFree(out);
    return result;
}
