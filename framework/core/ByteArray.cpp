#include "framework/core/ByteArray.h"

#include <cstring>

template <typename T>
TypedArray<T>::TypedArray(u32 n) : count(n), owned(true), byteSize(u64(n) * sizeof(T))
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
    if (owned && data) {
        if (release)
            release(data, byteSize);
        else
            memFree(data);
    }
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

bool sameBytes(const u8* a, u64 aLength, const u8* b, u64 bLength)
{
    return aLength == bLength && (aLength == 0 || (a && b && memcmp(a, b, size_t(aLength)) == 0));
}

bool sameBytes(const ByteArray* a, const ByteArray* b)
{
    return sameBytes(a ? a->data : nullptr, a ? a->count : 0, b ? b->data : nullptr, b ? b->count : 0);
}

ByteArray* newByteView(const u8* data, u32 count)
{
    ByteArray* view = memNew<ByteArray>();
    if (view) {
        view->data = const_cast<u8*>(data);
        view->count = data ? count : 0;
        view->byteSize = view->count;
        view->owned = false;
    }
    return view;
}
