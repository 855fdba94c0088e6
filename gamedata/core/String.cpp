#include "gamedata/core/String.h"

#include <cstdio>
#include <cstring>

namespace TD
{
String::String(String&& other) noexcept : data(other.data), capacity(other.capacity), length(other.length)
{
    other.data = nullptr;
    other.capacity = 0;
    other.length = 0;
}

String& String::operator=(String&& other) noexcept
{
    if (this != &other) {
        release();
        data = other.data;
        capacity = other.capacity;
        length = other.length;
        other.data = nullptr;
        other.capacity = 0;
        other.length = 0;
    }
    return *this;
}

bool String::allocate(u64 n)
{
    data = static_cast<char*>(hooks.alloc(n, true, "char", __FILE__, __LINE__));
    if (!data) {
        capacity = 0;
        return false;
    }
    memset(data, 0, n);
    capacity = n;
    return true;
}

void String::release()
{
    if (capacity && data)
        hooks.free(data, true);
    data = nullptr;
    capacity = 0;
    length = 0;
}

String String::format(const char* fmt, ...)
{
    String s;
    s.allocate(INITIAL_CAPACITY);
    va_list args;
    va_start(args, fmt);
    s.vformat(fmt, args);
    va_end(args);
    return s;
}

void String::vformat(const char* fmt, va_list args)
{
    // Measuring consumes a va_list, so it works on a copy.
    va_list measure;
    va_copy(measure, args);
    int measured = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (measured < 0) {
        if (data)
            data[0] = 0;
        length = 0;
        return;
    }
    u64 n = u64(measured);
    if (n + 1 >= capacity) {
        release();
        if (!allocate(n + 3))
            return;
    }
    vsnprintf(data, size_t(n + 1), fmt, args);
    length = n;
}
}
