#pragma once
#include "gamedata/TamberData.h"

namespace TD
{
// The library's text buffer; storage comes from the alloc hook as an array.
class String
{
public:
    static constexpr u64 INITIAL_CAPACITY = 1025;

    char* data = nullptr;
    u64 capacity = 0;
    u64 length = 0;

    String() = default;
    String(const String&) = delete;
    String& operator=(const String&) = delete;
    String(String&& other) noexcept;
    String& operator=(String&& other) noexcept;
    ~String() { release(); }

    static String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    void vformat(const char* fmt, va_list args);
    void release();

    const char* c_str() const { return data ? data : ""; }

private:
    bool allocate(u64 n);
};
}
