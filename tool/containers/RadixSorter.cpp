#include "tool/containers/RadixSorter.h"
#include "framework/core/Heap.h"

#include <cstring>

RadixSorter::RadixSorter(u32 n) : capacity(n < 32 ? 32 : n)
{
    bufferA = static_cast<void**>(memAlloc(u64(capacity) * sizeof(void*)));
    bufferB = static_cast<void**>(memAlloc(u64(capacity) * sizeof(void*)));
    keyBytes = static_cast<u8*>(memAlloc(capacity));
    histogram = static_cast<u32*>(memAlloc(256 * sizeof(u32)));
}

RadixSorter::~RadixSorter()
{
    memFree(bufferA);
    memFree(bufferB);
    memFree(keyBytes);
    memFree(histogram);
}

u32 RadixSorter::callUntypedKey(AnyFunction key, const void* entry)
{
    return reinterpret_cast<KeyFunction>(key)(entry);
}

void** RadixSorter::sort(void* const* entries, u32 n, KeyFunction key)
{
    return sortWith(entries, n, callUntypedKey, reinterpret_cast<AnyFunction>(key));
}

void** RadixSorter::sortWith(void* const* entries, u32 n, KeyCaller caller, AnyFunction key)
{
    if (n > capacity || !bufferA || !bufferB || !keyBytes || !histogram)
        return nullptr;
    if (n)
        memcpy(bufferA, entries, u64(n) * sizeof(void*));
    void** source = bufferA;
    void** target = bufferB;
    for (u32 pass = 0; pass < 4; pass++) {
        memset(histogram, 0, 256 * sizeof(u32));
        for (u32 i = 0; i < n; i++) {
            keyBytes[i] = u8(caller(key, source[i]) >> (pass * 8));
            histogram[keyBytes[i]]++;
        }
        for (u32 b = 1; b < 256; b++)
            histogram[b] += histogram[b - 1];
        for (u32 i = n; i-- > 0;)
            target[--histogram[keyBytes[i]]] = source[i];
        void** t = source;
        source = target;
        target = t;
    }
    return source;
}
