#include "framework/core/ByteArray.h"

#include <cstring>

template <typename T>
TypedArray<T>::TypedArray(u32 n) : count(n), byteSize(u64(n) * sizeof(T)), owned(true)
{
    data = n ? static_cast<T*>(memAlloc(byteSize)) : nullptr;
    if (!data) {
        count = 0;
        byteSize = 0;
    }
}

template <typename T>
TypedArray<T>::TypedArray(const T* src, u32 n) : TypedArray(n)
{
    if (data && src)
        memcpy(data, src, size_t(byteSize));
}

template <typename T>
TypedArray<T>::TypedArray(const TypedArray& other) : TypedArray(other.count)
{
    if (data && other.data)
        memcpy(data, other.data, size_t(byteSize < other.byteSize ? byteSize : other.byteSize));
}

template <typename T>
TypedArray<T>::~TypedArray()
{
    if (owned && data)
        memFree(data);
    data = nullptr;
}

template <typename T>
void TypedArray<T>::writeAt(const void* src, u64 len, u32 offset)
{
    if (!data || !src)
        return;
    if (u64(offset) + len > byteSize)
        return;
    memcpy(reinterpret_cast<u8*>(data) + offset, src, size_t(len));
}

template struct TypedArray<u8>;
template struct TypedArray<u32>;
template struct TypedArray<i16>;

void deleteByteArray(ByteArray* a)
{
    memDelete(a);
}

ByteArray* newByteArray(const u8* src, u32 n)
{
    ByteArray* a = memNew<ByteArray>(src, n);
    if (a && n && !a->data) {
        memDelete(a);
        return nullptr;
    }
    return a;
}
