#include "framework/core/TextUtils.h"
#include "framework/core/Heap.h"
#include "framework/core/String.h"

#include <cstdio>
#include <cstring>

u64 strLength(const char* s)
{
    return s ? strlen(s) : 0;
}

void copyStringBounded(char* dest, u64 destSize, const char* src)
{
    if (!dest || destSize == 0)
        return;
    u64 n = src ? strnlen(src, destSize - 1 > SIZE_MAX ? SIZE_MAX : size_t(destSize - 1)) : 0;
    if (n)
        memcpy(dest, src, n);
    dest[n] = 0;
}

int compareNoCase(const char* a, const char* b)
{
    const u8* x = reinterpret_cast<const u8*>(a ? a : "");
    const u8* y = reinterpret_cast<const u8*>(b ? b : "");
    for (;; x++, y++) {
        int d = int(asciiLower(*x)) - int(asciiLower(*y));
        if (d != 0 || *x == 0)
            return d;
    }
}

bool equalsNoCase(const char* a, const char* b)
{
    return compareNoCase(a, b) == 0;
}

String intToString(i32 value)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%d", int(value));
    return String(buffer);
}

String uintToString(u32 value)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%u", unsigned(value));
    return String(buffer);
}

String doubleToString(double value)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%.17g", value);
    return String(buffer);
}

String toHexString(u32 value)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%x", unsigned(value));
    return String(buffer);
}

float parseHexBits(const char* text)
{
    u32 bits = 0;
    for (const char* p = text ? text : ""; *p; p++) {
        char c = *p;
        u32 digit = 0;
        if (c >= '0' && c <= '9')
            digit = u32(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = u32(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = u32(c - 'A' + 10);
        bits = (bits << 4) | digit;
    }
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

bool parsePlainDecimal(const char* text, u64 length, u64 largest, u64& value)
{
    u64 n = 0;
    for (u64 i = 0; i < length; i++) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + u64(c - '0');
        if (n > largest)
            return false;
    }
    value = n;
    return true;
}

u32 parseUnsigned(const char* text)
{
    u32 value = 0;
    for (const u8* p = reinterpret_cast<const u8*>(text ? text : ""); *p; p++)
        value = value * 10u + (u32(*p) - u32('0'));
    return value;
}

void normalisePath(String& path)
{
    if (!path.data)
        return;
    path.replaceChar('\\', '/');
    const char* text = path.data;
    u64 length = path.length;
    bool absolute = text[0] == '/';

    // Component spans (start, length); there are at most length / 2 + 1 of them.
    u64 maxParts = length / 2 + 1;
    u64* parts = static_cast<u64*>(memAlloc(maxParts * 2 * sizeof(u64)));
    if (!parts)
        return;
    u64 count = 0;
    for (u64 i = 0; i < length;) {
        while (i < length && text[i] == '/')
            i++;
        u64 start = i;
        while (i < length && text[i] != '/')
            i++;
        u64 n = i - start;
        if (n == 0 || (n == 1 && text[start] == '.'))
            continue;
        bool dotDot = n == 2 && text[start] == '.' && text[start + 1] == '.';
        if (dotDot && count > 0) {
            u64 lastStart = parts[2 * (count - 1)];
            u64 lastLen = parts[2 * (count - 1) + 1];
            bool lastIsDotDot = lastLen == 2 && text[lastStart] == '.' && text[lastStart + 1] == '.';
            if (!lastIsDotDot) {
                count--;
                continue;
            }
        }
        parts[2 * count] = start;
        parts[2 * count + 1] = n;
        count++;
    }

    String result(length + 1);
    for (u64 k = 0; k < count; k++) {
        if (k > 0 || absolute)
            result.append("/", 1);
        result.append(text + parts[2 * k], parts[2 * k + 1]);
    }
    memFree(parts);
    if (count == 0)
        path.free();
    else
        path.assign(result);
}

String getFileName(const String& path)
{
    String name(path);
    name.replaceChar('\\', '/');
    i64 at = name.lastIndexOf('/');
    if (at < 0)
        return name;
    return name.from(u64(at) + 1);
}

String getExtension(const String& name)
{
    i64 at = name.lastIndexOf('.');
    if (at < 0)
        return String();
    return name.from(u64(at) + 1);
}

String joinPath(const String& a, const String& b)
{
    String path(a);
    normalisePath(path);
    if (!path.isEmpty() && !path.endsWith("/"))
        path.append("/", 1, 10);
    path.append(b);
    normalisePath(path);
    return path;
}
