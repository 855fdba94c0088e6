#pragma once
#include "gamedata/TamberData.h"

#include <cstring>

namespace TD
{
// Type names handed to the alloc hook (the library has no run-time type information).
template <typename T>
constexpr const char* typeNameOf()
{
    return "element";
}
template <>
constexpr const char* typeNameOf<unsigned char>()
{
    return "unsigned char";
}
template <>
constexpr const char* typeNameOf<unsigned int>()
{
    return "unsigned int";
}

// Fixed-size, zero-filled element storage through the hooks.
template <typename T>
class Array
{
public:
    T* data = nullptr;
    u32 count = 0;
    u64 byteSize = 0;
    bool owns = true;

    Array() = default;
    explicit Array(u32 n) { allocate(n); }
    Array(const void* src, u32 n)
    {
        allocate(n);
        if (data && src)
            memcpy(data, src, byteSize);
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    Array(Array&& other) noexcept { take(other); }
    Array& operator=(Array&& other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~Array() { release(); }

    void release()
    {
        if (owns && data)
            hooks.free(data, true);
        data = nullptr;
        count = 0;
        byteSize = 0;
    }

    T& operator[](u32 i) { return data[i]; }
    const T& operator[](u32 i) const { return data[i]; }

private:
    void allocate(u32 n)
    {
        owns = true;
        if (n == 0)
            return;
        u64 bytes = u64(n) * sizeof(T);
        data = static_cast<T*>(hooks.alloc(bytes, true, typeNameOf<T>(), __FILE__, __LINE__));
        // A failed allocation leaves an empty array instead of a count over no storage.
        if (!data)
            return;
        memset(static_cast<void*>(data), 0, bytes);
        count = n;
        byteSize = bytes;
    }

    void take(Array& other)
    {
        data = other.data;
        count = other.count;
        byteSize = other.byteSize;
        owns = other.owns;
        other.data = nullptr;
        other.count = 0;
        other.byteSize = 0;
    }
};
}
