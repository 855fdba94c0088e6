#pragma once
#include "framework/core/TextUtils.h"
#include "framework/core/Types.h"

#include <cstdarg>

class StringArray;
struct TokenSpec;

// The framework's text type: a growable, zero-terminated byte string on the tracked heap.
// A null buffer means ""; c_str() never returns null. Text is bytes, case folding ASCII only.
class String
{
public:
    u8 flag = 0;
    char* data = nullptr;
    u64 capacity = 0; // bytes allocated including the terminator; 0 when nothing is owned
    u64 length = 0;

    String() = default;
    String(const String& other);
    String(String&& other) noexcept;
    String(const char* text);
    // At most len bytes of text (stops at a 0 byte).
    String(const char* text, u64 len);
    // Empty, with max(reserve, 15) + 1 zeroed bytes; no buffer when reserve is 0.
    explicit String(u64 reserve);
    // printf-style into a buffer of maxLen + 2 bytes, keeping at most maxLen - 1 characters.
    String(u32 maxLen, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // Raw bytes; a leading UTF-8 byte-order mark is dropped.
    String(const u8* bytes, u64 n);
    ~String();

    // Takes a C string obtained from memAlloc: copies it, then frees it.
    static String fromTaken(char* taken);
    String* newCopy() const;

    const char* c_str() const { return data ? data : ""; }
    bool isEmpty() const { return length == 0; }
    char operator[](u64 i) const { return i < length ? data[i] : 0; }

    // Assignment. A null C string empties in place (buffer kept); "" releases the buffer.
    String& assign(const char* src, u64 len);
    // Exactly `len` bytes of src, 0 bytes included (for bytes known to hold none, it is the same
    // as assign without looking for one).
    String& assignBytes(const char* src, u64 len);
    String& assign(const char* src);
    String& assign(const String& src);
    String& assignTake(char* taken);
    String& assignCopy(u64 len, const char* src);
    String& operator=(const String& src);
    String& operator=(String&& src) noexcept;
    String& operator=(const char* src);
    void free();

    // Appends at most len bytes of src (stops at a 0 byte). A new buffer holds the text, the
    // bytes appended and growth times their number more (at most 4 KiB more), and is at least
    // twice the old one.
    String& append(const char* src, u64 len, u32 growth = 10);
    String& append(const char* src);
    String& append(const String& src);
    String& append(char c);
    String& operator+=(const char* src) { return append(src); }
    String& operator+=(const String& src) { return append(src); }
    String& operator+=(char c) { return append(c); }

    // When n >= capacity the text is discarded and an empty n + 2 byte buffer replaces it.
    void reserve(u64 n);
    String& formatV(const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));
    static String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    // Comparison; a null C string compares false.
    bool equals(const String& other) const;
    bool equals(const char* other) const;
    bool equalsNoCase(const String& other) const;
    bool equalsNoCase(const char* other) const;
    bool startsWith(const char* prefix) const;
    bool endsWith(const char* suffix) const;
    bool startsWithNoCase(const char* prefix) const;
    bool endsWithNoCase(const char* suffix) const;
    bool operator==(const String& other) const { return equals(other); }
    bool operator==(const char* other) const { return equals(other); }
    // Index 0-6 in "true", "yes", "on", "1", "enable", "enabled", "active"; -1 when none.
    int trueWordIndex() const;
    bool isNumeric() const;

    // Search: byte index of the first/last occurrence, -1 when absent (an empty needle is absent).
    i64 indexOf(const char* needle, u64 from = 0) const;
    i64 indexOf(char c, u64 from = 0) const;
    i64 lastIndexOf(const char* needle) const;
    i64 lastIndexOf(char c) const;
    bool contains(const char* needle) const { return indexOf(needle) >= 0; }

    // Substrings.
    String from(u64 pos) const;
    String left(u64 n) const;
    void keepRange(u64 begin, u64 end);
    void cutAtLast(const String& s);
    String beforeLast(const String& s) const;
    String afterLast(const String& s) const;
    void trim();
    bool unquote();
    void toLowerInPlace();
    void toUpperInPlace();
    void replaceChar(char from, char to);

    float toFloat() const;

    // Splitting; the caller deletes the array (memDelete). A string without data gives 0 items.
    static StringArray* split(const String& text, const String& separators, u8 skipBlanks);
    static StringArray* splitWith(const String& text, const TokenSpec& tokenSpec);
    static StringArray* splitLines(const String& text);

private:
    void setLength(u64 n);
};

String operator+(const String& a, const char* b);
String operator+(const String& a, const String& b);
String operator+(const char* a, const String& b);
