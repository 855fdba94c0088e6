#pragma once
#include "framework/core/Heap.h"
#include "framework/core/Types.h"

// A block of elements of known size; the currency of every read and every codec.
template <typename T>
struct TypedArray
{
    T* data = nullptr;
    u32 count = 0;
    bool owned = true;
    u64 byteSize = 0;
    // How owned data that is not on the tracked heap (a mapped file) is given back; null for the
    // heap.
    void (*release)(void* data, u64 byteSize) = nullptr;

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
// A new array of n bytes, a copy of src when given; null when memory ran out, never an empty
// stand-in for the bytes.
ByteArray* newByteArray(const u8* src, u32 n);

// Equal lengths and equal bytes; a null array counts as empty.
bool sameBytes(const u8* a, u64 aLength, const u8* b, u64 bLength);
bool sameBytes(const ByteArray* a, const ByteArray* b);

// A new non-owning array over bytes kept elsewhere, which must outlive it: deleting it frees
// only the array record. Null when memory ran out.
ByteArray* newByteView(const u8* data, u32 count);

// A non-owning array over bytes kept elsewhere, which must outlive it.
inline ByteArray byteView(const u8* data, u32 count)
{
    ByteArray view;
    view.data = const_cast<u8*>(data);
    view.count = data ? count : 0;
    view.byteSize = view.count;
    view.owned = false;
    return view;
}

// Owning pointer to a heap ByteArray.
struct ByteArrayDeleter
{
    void operator()(ByteArray* a) const { deleteByteArray(a); }
};

extern template struct TypedArray<u8>;
extern template struct TypedArray<u32>;
extern template struct TypedArray<i16>;
