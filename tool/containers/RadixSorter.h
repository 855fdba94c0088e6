#pragma once
#include "framework/core/Types.h"

// Stable least-significant-byte-first radix sort of entry pointers on a 32-bit key: four byte
// passes over 256 counters. Equal keys keep their input order, which the archive writers rely
// on (entries sharing an offset stay in table order).
class RadixSorter
{
public:
    typedef u32 (*KeyFunction)(const void* entry);

    explicit RadixSorter(u32 n);
    ~RadixSorter();
    RadixSorter(const RadixSorter&) = delete;
    RadixSorter& operator=(const RadixSorter&) = delete;

    // Returns the sorted pointers in a buffer owned by the sorter (valid until it is destroyed).
    void** sort(void* const* entries, u32 n, KeyFunction key);

    template <typename T>
    T** sortAs(T* const* entries, u32 n, u32 (*key)(const T*))
    {
        return reinterpret_cast<T**>(
            sortWith(reinterpret_cast<void* const*>(entries), n, callKey<T>, reinterpret_cast<AnyFunction>(key)));
    }

private:
    // A key function is called only through its own type: calling it through another one is
    // undefined, so the typed key travels as an opaque pointer to a typed caller.
    typedef void (*AnyFunction)();
    typedef u32 (*KeyCaller)(AnyFunction key, const void* entry);

    template <typename T>
    static u32 callKey(AnyFunction key, const void* entry)
    {
        return reinterpret_cast<u32 (*)(const T*)>(key)(static_cast<const T*>(entry));
    }
    static u32 callUntypedKey(AnyFunction key, const void* entry);
    void** sortWith(void* const* entries, u32 n, KeyCaller caller, AnyFunction key);

    u32 capacity;
    void** bufferA;
    void** bufferB;
    u8* keyBytes;
    u32* histogram;
};
