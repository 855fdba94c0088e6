#pragma once
#include "framework/core/Heap.h"
#include "framework/core/Types.h"

// A block of elements of known size; the currency of every read and every codec.
template <typename T>
struct TypedArray
{
    T* data = nullptr;
    u32 count = 0;
    u64 byteSize = 0;
    bool owned = true;

    TypedArray() = default;
    explicit TypedArray(u32 n);
    TypedArray(const T* src, u32 n);
    TypedArray(const TypedArray& other);
    TypedArray& operator=(const TypedArray&) = delete;
    ~TypedArray();

    // Copies only when the write fits entirely inside the block.
    void writeAt(const void* src, u64 len, u32 offset);
    u8* bytes() const { return reinterpret_cast<u8*>(data); }
};

typedef TypedArray<u8> ByteArray;
typedef TypedArray<u32> U32Array;
typedef TypedArray<i16> I16Array;

void deleteByteArray(ByteArray* a);

// Owning pointer to a heap ByteArray.
struct ByteArrayDeleter
{
    void operator()(ByteArray* a) const { deleteByteArray(a); }
};

extern template struct TypedArray<u8>;
extern template struct TypedArray<u32>;
extern template struct TypedArray<i16>;
