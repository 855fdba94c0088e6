#include "framework/core/String.h"
#include "framework/core/Heap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
u64 boundedLength(const char* s, u64 max)
{
    return strnlen(s, max > SIZE_MAX ? SIZE_MAX : size_t(max));
}

u64 addSaturated(u64 a, u64 b)
{
    return (a > UINT64_MAX - b) ? UINT64_MAX : a + b;
}

u64 mulSaturated(u64 a, u64 b)
{
    return (b != 0 && a > UINT64_MAX / b) ? UINT64_MAX : a * b;
}

bool bytesEqualNoCase(const char* a, const char* b, u64 n)
{
    for (u64 i = 0; i < n; i++) {
        if (asciiLower(u8(a[i])) != asciiLower(u8(b[i])))
            return false;
    }
    return true;
}

// The most room one append adds beyond doubling what was there.
constexpr u64 APPEND_EXTRA_LIMIT = 4096;

const char* const trueWords[7] = {"true", "yes", "on", "1", "enable", "enabled", "active"};
}

String::String(const String& other)
{
    if (other.data)
        assignCopy(other.length, other.data);
}

String::String(String&& other) noexcept : flag(0), data(other.data), capacity(other.capacity), length(other.length)
{
    other.data = nullptr;
    other.capacity = 0;
    other.length = 0;
}

String::String(const char* text)
{
    if (text && *text)
        assignCopy(strlen(text), text);
}

String::String(const char* text, u64 len)
{
    if (text && len)
        assignCopy(boundedLength(text, len), text);
}

String::String(u64 reserve)
{
    if (reserve == 0)
        return;
    data = allocTextBuffer(reserve < 15 ? 15 : reserve, &capacity);
}

String::String(u32 maxLen, const char* fmt, ...)
{
    if (!fmt || maxLen == 0)
        return;
    data = allocTextBuffer(u64(maxLen) + 1, &capacity);
    if (!data)
        return;
    va_list args;
    va_start(args, fmt);
    vsnprintf(data, maxLen, fmt, args);
    va_end(args);
    length = strlen(data);
}

String::String(const u8* bytes, u64 n)
{
    if (!bytes || n == 0)
        return;
    if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        n -= 3;
    }
    assign(reinterpret_cast<const char*>(bytes), n);
}

String::~String()
{
    if (capacity > 0)
        memFree(data);
}

String String::fromTaken(char* taken)
{
    String s(static_cast<const char*>(taken));
    memFree(taken);
    return s;
}

String* String::newCopy() const
{
    return memNew<String>(*this);
}

void String::setLength(u64 n)
{
    length = n;
    if (data)
        data[n] = 0;
}

void String::free()
{
    memFree(data);
    data = nullptr;
    capacity = 0;
    length = 0;
}

String& String::assignCopy(u64 len, const char* src)
{
    // Copy first: src may point into our own buffer.
    u64 cap = 0;
    char* copy = strDupN(len, src, &cap);
    memFree(data);
    data = copy;
    capacity = copy ? cap : 0;
    length = copy ? strlen(copy) : 0;
    return *this;
}

String& String::assign(const char* src, u64 len)
{
    if (!src || len == 0) {
        free();
        return *this;
    }
    u64 n = boundedLength(src, len);
    if (n < capacity) {
        memmove(data, src, n);
        setLength(n);
        return *this;
    }
    return assignCopy(n, src);
}

String& String::assignBytes(const char* src, u64 len)
{
    if (!src || len == 0) {
        setLength(0);
        return *this;
    }
    if (len < capacity) {
        memmove(data, src, len);
        setLength(len);
        return *this;
    }
    char* copy = static_cast<char*>(memAlloc(len + 1));
    if (!copy)
        return *this;
    memcpy(copy, src, len);
    copy[len] = 0;
    if (capacity)
        memFree(data);
    data = copy;
    capacity = len + 1;
    length = len;
    return *this;
}

String& String::assign(const char* src)
{
    if (!src) {
        setLength(0);
        return *this;
    }
    if (!*src) {
        free();
        return *this;
    }
    return assign(src, strlen(src));
}

String& String::assign(const String& src)
{
    if (!src.data) {
        free();
        return *this;
    }
    if (src.length < capacity) {
        memmove(data, src.data, src.length);
        setLength(src.length);
        return *this;
    }
    return assignCopy(src.length, src.data);
}

String& String::assignTake(char* taken)
{
    assign(static_cast<const char*>(taken));
    memFree(taken);
    return *this;
}

String& String::operator=(const String& src)
{
    if (!src.data || src.length == 0) {
        setLength(0);
        return *this;
    }
    return assign(src);
}

String& String::operator=(String&& src) noexcept
{
    if (!src.data || src.length == 0) {
        setLength(0);
        return *this;
    }
    if (this != &src) {
        memFree(data);
        data = src.data;
        capacity = src.capacity;
        length = src.length;
        src.data = nullptr;
        src.capacity = 0;
        src.length = 0;
    }
    return *this;
}

String& String::operator=(const char* src)
{
    return assign(src);
}

String& String::append(const char* src, u64 len, u32 growth)
{
    if (!src)
        return *this;
    if (!data)
        return assign(src, len);
    u64 n = boundedLength(src, len);
    if (n == 0)
        return *this;
    if (length + n < capacity) {
        memmove(data + length, src, n);
        setLength(length + n);
        return *this;
    }
    if (length + n > UINT64_MAX - 3)
        return *this;
    // The classic size, but never less than double: repeated small appends stay linear. Its
    // room beyond what is needed is bounded, so one large append reserves about its own size.
    u64 extra = mulSaturated(growth, n);
    if (extra > APPEND_EXTRA_LIMIT)
        extra = APPEND_EXTRA_LIMIT;
    u64 size = addSaturated(addSaturated(length + n, extra), 2);
    u64 doubled = mulSaturated(capacity, 2);
    if (size < doubled)
        size = doubled;
    u64 cap = 0;
    char* grown = allocTextBuffer(size - 1, &cap);
    if (!grown)
        return *this;
    memcpy(grown, data, length);
    memcpy(grown + length, src, n); // src may be inside the old buffer, which is still alive
    memFree(data);
    data = grown;
    capacity = cap;
    setLength(length + n);
    return *this;
}

String& String::append(const char* src)
{
    if (!src)
        return *this;
    return append(src, strlen(src));
}

String& String::append(const String& src)
{
    if (!src.data)
        return *this;
    return append(src.data, src.length);
}

String& String::append(char c)
{
    char one[2] = {c, 0};
    return append(one, 1);
}

void String::reserve(u64 n)
{
    if (n < capacity)
        return;
    free();
    if (n > UINT64_MAX - 3)
        return;
    data = allocTextBuffer(n + 1, &capacity);
}

String& String::formatV(const char* fmt, va_list args)
{
    if (!fmt) {
        setLength(0);
        return *this;
    }
    va_list measure;
    va_copy(measure, args);
    int measured = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (measured < 0) {
        setLength(0);
        return *this;
    }
    u64 n = u64(measured);
    // Print into a fresh buffer: an argument may point into the current text.
    u64 size = (n + 1 >= capacity) ? n + 3 : capacity;
    u64 cap = 0;
    char* buffer = allocTextBuffer(size - 1, &cap);
    if (!buffer)
        return *this;
    vsnprintf(buffer, size_t(size), fmt, args);
    memFree(data);
    data = buffer;
    capacity = cap;
    length = n;
    return *this;
}

String String::format(const char* fmt, ...)
{
    String s(u64(1024));
    va_list args;
    va_start(args, fmt);
    s.formatV(fmt, args);
    va_end(args);
    return s;
}

bool String::equals(const String& other) const
{
    if (length == 0 && other.length == 0)
        return true;
    return data && other.data && length == other.length && memcmp(data, other.data, length) == 0;
}

bool String::equals(const char* other) const
{
    if (!other)
        return false;
    u64 n = strlen(other);
    if (length == 0 && n == 0)
        return true;
    return data && length == n && memcmp(data, other, n) == 0;
}

bool String::equalsNoCase(const String& other) const
{
    if (length == 0 && other.length == 0)
        return true;
    return data && other.data && length == other.length && bytesEqualNoCase(data, other.data, length);
}

bool String::equalsNoCase(const char* other) const
{
    if (!other)
        return false;
    u64 n = strlen(other);
    if (length == 0 && n == 0)
        return true;
    return data && length == n && bytesEqualNoCase(data, other, n);
}

bool String::startsWith(const char* prefix) const
{
    if (!prefix || !data)
        return false;
    u64 n = strlen(prefix);
    return n <= length && memcmp(data, prefix, n) == 0;
}

bool String::endsWith(const char* suffix) const
{
    if (!suffix || !data)
        return false;
    u64 n = strlen(suffix);
    return n <= length && memcmp(data + length - n, suffix, n) == 0;
}

bool String::startsWithNoCase(const char* prefix) const
{
    if (!prefix || !data)
        return false;
    u64 n = strlen(prefix);
    return n <= length && bytesEqualNoCase(data, prefix, n);
}

bool String::endsWithNoCase(const char* suffix) const
{
    if (!suffix || !data)
        return false;
    u64 n = strlen(suffix);
    return n <= length && bytesEqualNoCase(data + length - n, suffix, n);
}

int String::trueWordIndex() const
{
    for (int i = 0; i < 7; i++) {
        if (equalsNoCase(trueWords[i]))
            return i;
    }
    return -1;
}

bool String::isNumeric() const
{
    if (!data)
        return false;
    for (u64 i = 0; i < length; i++) {
        if (data[i] < '0' || data[i] > '9')
            return false;
    }
    return true;
}

i64 String::indexOf(const char* needle, u64 from) const
{
    if (!needle || !*needle || !data)
        return -1;
    u64 n = strlen(needle);
    if (n > length)
        return -1;
    for (u64 i = from; i + n <= length; i++) {
        if (memcmp(data + i, needle, n) == 0)
            return i64(i);
    }
    return -1;
}

i64 String::indexOf(char c, u64 from) const
{
    for (u64 i = from; i < length; i++) {
        if (data[i] == c)
            return i64(i);
    }
    return -1;
}

i64 String::lastIndexOf(const char* needle) const
{
    if (!needle || !*needle || !data)
        return -1;
    u64 n = strlen(needle);
    if (n > length)
        return -1;
    for (u64 i = length - n + 1; i-- > 0;) {
        if (memcmp(data + i, needle, n) == 0)
            return i64(i);
    }
    return -1;
}

i64 String::lastIndexOf(char c) const
{
    for (u64 i = length; i-- > 0;) {
        if (data[i] == c)
            return i64(i);
    }
    return -1;
}

String String::from(u64 pos) const
{
    if (pos >= length)
        return String();
    return String(data + pos, length - pos);
}

String String::left(u64 n) const
{
    if (!data || length == 0 || n == 0)
        return String();
    return String(data, n < length ? n : length);
}

void String::keepRange(u64 begin, u64 end)
{
    if (begin >= length || end <= begin) {
        setLength(0);
        return;
    }
    if (end > length)
        end = length;
    memmove(data, data + begin, end - begin);
    setLength(end - begin);
}

void String::cutAtLast(const String& s)
{
    i64 at = lastIndexOf(s.c_str());
    if (at >= 0)
        setLength(u64(at));
}

String String::beforeLast(const String& s) const
{
    i64 at = lastIndexOf(s.c_str());
    if (at < 0)
        return *this;
    return left(u64(at));
}

String String::afterLast(const String& s) const
{
    i64 at = lastIndexOf(s.c_str());
    if (at < 0)
        return *this;
    return from(u64(at) + s.length);
}

void String::trim()
{
    if (!data)
        return;
    u64 begin = 0;
    while (begin < length && isBlankByte(u8(data[begin])))
        begin++;
    u64 end = length;
    while (end > begin && isBlankByte(u8(data[end - 1])))
        end--;
    if (begin > 0)
        memmove(data, data + begin, end - begin);
    setLength(end - begin);
}

bool String::unquote()
{
    if (length == 0)
        return false;
    char q = data[0];
    if ((q != '\'' && q != '"') || data[length - 1] != q)
        return false;
    if (length == 1) {
        setLength(0);
        return true;
    }
    memmove(data, data + 1, length - 2);
    setLength(length - 2);
    return true;
}

void String::toLowerInPlace()
{
    for (u64 i = 0; i < length; i++)
        data[i] = char(asciiLower(u8(data[i])));
}

void String::toUpperInPlace()
{
    for (u64 i = 0; i < length; i++)
        data[i] = char(asciiUpper(u8(data[i])));
}

void String::replaceChar(char from, char to)
{
    for (u64 i = 0; i < length; i++) {
        if (data[i] == from)
            data[i] = to;
    }
}

float String::toFloat() const
{
    if (!data)
        return 0.0f;
    if (length >= 2 && data[0] == '0' && data[1] == 'x')
        return parseHexBits(data + 2);
    return float(atof(data));
}

String operator+(const String& a, const char* b)
{
    String s(a);
    s.append(b);
    return s;
}

String operator+(const String& a, const String& b)
{
    String s(a);
    s.append(b);
    return s;
}

String operator+(const char* a, const String& b)
{
    String s(a);
    s.append(b);
    return s;
}
