#pragma once
#include "framework/core/Types.h"

class String;

// A blank is a non-zero byte that is at most 0x20 read as a signed byte, so 0x80-0xFF are
// blanks too; trimming and tokenising both rely on this.
inline bool isBlankByte(u8 c)
{
    return c != 0 && static_cast<i8>(c) <= 0x20;
}

// Case folding is ASCII only; other bytes pass through unchanged.
inline u8 asciiLower(u8 c)
{
    return (c >= 'A' && c <= 'Z') ? u8(c + ('a' - 'A')) : c;
}

inline u8 asciiUpper(u8 c)
{
    return (c >= 'a' && c <= 'z') ? u8(c - ('a' - 'A')) : c;
}

namespace textutils_detail
{
struct HexDigitTable
{
    i8 value[256];
    constexpr HexDigitTable() : value()
    {
        for (int c = 0; c < 256; c++)
            value[c] = c >= '0' && c <= '9' ? i8(c - '0')
                       : c >= 'a' && c <= 'f' ? i8(c - 'a' + 10)
                       : c >= 'A' && c <= 'F' ? i8(c - 'A' + 10)
                                              : i8(-1);
    }
};
inline constexpr HexDigitTable HEX_DIGITS;
}

// The value of a hex digit of either case, -1 for any other byte: a table lookup, as dumps of
// hundreds of megabytes are read back a digit at a time.
inline int hexDigitValue(u8 c)
{
    return textutils_detail::HEX_DIGITS.value[c];
}

// C strings. A null pointer counts as "".
u64 strLength(const char* s);
// Copies at most destSize - 1 bytes and terminates; nothing when destSize is 0.
void copyStringBounded(char* dest, u64 destSize, const char* src);
// ASCII case-insensitive comparison in the manner of strcmp; null counts as "".
int compareNoCase(const char* a, const char* b);
bool equalsNoCase(const char* a, const char* b);

// Numbers.
String intToString(i32 value);
String uintToString(u32 value);
String doubleToString(double value);
String toHexString(u32 value);
// Hex digits (any other byte counts as 0) give the raw bits of a 32-bit float; digits beyond
// the eighth shift the earlier ones out.
float parseHexBits(const char* text);
// Decimal digits to u32 with no sign, range or character checks; wraps modulo 2^32.
u32 parseUnsigned(const char* text);
// A plain unsigned decimal (digits only; empty is 0) of at most `largest`; false for anything else.
bool parsePlainDecimal(const char* text, u64 length, u64 largest, u64& value);

// Paths inside the program use '/'; every function here first turns '\' into '/'.
void normalisePath(String& path);
String getFileName(const String& path);
String getExtension(const String& name);
String joinPath(const String& a, const String& b);
