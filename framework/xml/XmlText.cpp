#include "framework/xml/XmlText.h"
#include "framework/core/TextUtils.h"

#include <cstring>
#include <utility>

namespace
{
const char HEX[] = "0123456789ABCDEF";

// The reference a byte is written as, or null when it is written as it is (every byte but
// '&', '<', '>', '"', tab, line feed, carriage return and 0x80 and above is). `at` and `text`
// tell whether a '>' ends "]]>".
const char* referenceFor(const char* text, u64 at, bool attribute, char buffer[8])
{
    const u8 c = u8(text[at]);
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return at >= 2 && text[at - 1] == ']' && text[at - 2] == ']' ? "&gt;" : nullptr;
    case '"':
        return attribute ? "&quot;" : nullptr;
    case '\t':
        return attribute ? "&#x9;" : nullptr;
    case '\n':
        return attribute ? "&#xA;" : nullptr;
    case '\r':
        return "&#xD;";
    default:
        break;
    }
    if (c < 0x80)
        return nullptr;
    buffer[0] = '&';
    buffer[1] = '#';
    buffer[2] = 'x';
    buffer[3] = HEX[c >> 4];
    buffer[4] = HEX[c & 15];
    buffer[5] = ';';
    buffer[6] = 0;
    return buffer;
}

// Eight bytes at a time: the documents' texts run to many megabytes, nearly all plain.
constexpr u64 ONES = 0x0101010101010101ull;
constexpr u64 HIGHS = 0x8080808080808080ull;

u64 loadWord(const char* p)
{
    u64 x;
    memcpy(&x, p, 8);
    return x;
}

// A high bit in each byte of x below n (n at most 0x80), or that is 0x80 and above.
u64 belowOrHigh(u64 x, u8 n)
{
    return ((x - ONES * n) & ~x & HIGHS) | (x & HIGHS);
}

u64 equalTo(u64 x, u8 c)
{
    const u64 y = x ^ (ONES * c);
    return (y - ONES) & ~y & HIGHS;
}

// The position of the first byte from `at` that is below 0x20, 0x80 and above, or one of the
// marks (0 stands for none); `length` when there is none.
template <char A, char B, char C, char D>
u64 firstOf(const char* text, u64 at, u64 length)
{
    while (at + 8 <= length) {
        const u64 x = loadWord(text + at);
        u64 hit = belowOrHigh(x, 0x20);
        if (A)
            hit |= equalTo(x, u8(A));
        if (B)
            hit |= equalTo(x, u8(B));
        if (C)
            hit |= equalTo(x, u8(C));
        if (D)
            hit |= equalTo(x, u8(D));
        if (hit)
            break;
        at += 8;
    }
    for (; at < length; at++) {
        const char c = text[at];
        if (u8(c) < 0x20 || u8(c) >= 0x80 || (A && c == A) || (B && c == B) || (C && c == C) || (D && c == D))
            return at;
    }
    return length;
}

constexpr auto firstToEscape = firstOf<'&', '<', '>', '"'>;
constexpr auto firstControl = firstOf<0, 0, 0, 0>;
constexpr auto firstToDecode = firstOf<'&', 0, 0, 0>;

// The reference at text[0] (an '&'): its code point and length, or length 0 when it is none.
u64 readReference(const char* text, u64 left, u32& value)
{
    static const struct
    {
        const char* name;
        u8 value;
    } entities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto& e : entities) {
        const u64 n = strlen(e.name);
        if (left >= n && memcmp(text, e.name, n) == 0) {
            value = e.value;
            return n;
        }
    }
    if (left < 4 || text[1] != '#')
        return 0;
    const bool hex = text[2] == 'x';
    u64 i = hex ? 3 : 2;
    u64 digits = 0;
    u64 v = 0;
    for (; i < left && text[i] != ';'; i++, digits++) {
        const int d = hex ? hexDigitValue(u8(text[i])) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0)
            return 0;
        // Past the last character: it stays past it, however many digits follow.
        v = v > 0x10FFFF ? v : v * (hex ? 16 : 10) + u64(d);
    }
    if (i >= left || digits == 0)
        return 0;
    value = v > 0x10FFFF ? 0x110000 : u32(v);
    return i + 1;
}

bool isContinuation(u8 c)
{
    return (c & 0xC0) == 0x80;
}

// The UTF-8 sequence at text[0] (a byte of 0x80 and above): its code point and length, or length
// 0 when the bytes are not UTF-8.
u64 readUtf8(const u8* text, u64 left, u32& value)
{
    const u8 c = text[0];
    u64 n = 0;
    u32 v = 0;
    u32 least = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        v = c & 0x1F;
        least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        v = c & 0x0F;
        least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        v = c & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (u64 i = 1; i < n; i++) {
        if (!isContinuation(text[i]))
            return 0;
        v = (v << 6) | (text[i] & 0x3F);
    }
    if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    value = v;
    return n;
}
}

bool xmlCanHold(const char* text, u64 length)
{
    for (u64 i = firstControl(text, 0, length); i < length; i = firstControl(text, i + 1, length)) {
        const u8 c = u8(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return false;
    }
    return true;
}

u64 xmlEscapedLength(const char* text, u64 length, bool attribute)
{
    u64 n = length;
    char buffer[8];
    for (u64 i = firstToEscape(text, 0, length); i < length; i = firstToEscape(text, i + 1, length)) {
        if (const char* reference = referenceFor(text, i, attribute, buffer))
            n += strlen(reference) - 1;
    }
    return n;
}

char* writeXmlEscaped(char* out, const char* text, u64 length, bool attribute)
{
    char buffer[8];
    u64 plain = 0; // the start of the bytes not yet copied
    for (u64 i = firstToEscape(text, 0, length); i < length; i = firstToEscape(text, i + 1, length)) {
        const char* reference = referenceFor(text, i, attribute, buffer);
        if (!reference)
            continue;
        memcpy(out, text + plain, size_t(i - plain));
        out += i - plain;
        const size_t n = strlen(reference);
        memcpy(out, reference, n);
        out += n;
        plain = i + 1;
    }
    memcpy(out, text + plain, size_t(length - plain));
    return out + (length - plain);
}

bool appendXmlEscaped(String& out, const char* text, u64 length, bool attribute)
{
    const u64 n = xmlEscapedLength(text, length, attribute);
    if (!n)
        return true;
    if (out.length + n >= out.capacity) {
        // Grown to at least double, so appending value after value stays linear.
        const u64 needed = out.length + n + 1;
        String grown(needed > out.capacity * 2 ? needed : out.capacity * 2);
        if (grown.capacity < needed)
            return false;
        if (out.length)
            memcpy(grown.data, out.data, size_t(out.length));
        // Swapped, as moving an empty String keeps the old buffer; a view is never freed.
        grown.length = out.length;
        std::swap(out.data, grown.data);
        std::swap(out.capacity, grown.capacity);
        if (!grown.capacity)
            grown.data = nullptr;
    }
    // Escaped straight into place; a text with nothing to escape is one copy.
    char* at = out.data + out.length;
    if (n == length)
        memcpy(at, text, size_t(length));
    else
        writeXmlEscaped(at, text, length, attribute);
    out.length += n;
    out.data[out.length] = 0;
    return true;
}

bool xmlEncodingNamed(const char* name, u64 length, XmlEncoding& encoding)
{
    static const struct
    {
        const char* name;
        XmlEncoding encoding;
    } names[] = {
        {"utf-8", XmlEncoding::UTF8},          {"utf8", XmlEncoding::UTF8},
        {"iso-8859-1", XmlEncoding::LATIN1},   {"iso8859-1", XmlEncoding::LATIN1},
        {"iso_8859-1", XmlEncoding::LATIN1},   {"iso_8859-1:1987", XmlEncoding::LATIN1},
        {"latin-1", XmlEncoding::LATIN1},      {"latin1", XmlEncoding::LATIN1},
        {"l1", XmlEncoding::LATIN1},           {"iso-ir-100", XmlEncoding::LATIN1},
        {"cp819", XmlEncoding::LATIN1},        {"ibm819", XmlEncoding::LATIN1},
        {"csisolatin1", XmlEncoding::LATIN1},  {"us-ascii", XmlEncoding::ASCII},
        {"ascii", XmlEncoding::ASCII},         {"us", XmlEncoding::ASCII},
        {"iso646-us", XmlEncoding::ASCII},     {"ansi_x3.4-1968", XmlEncoding::ASCII},
        {"iso-ir-6", XmlEncoding::ASCII},      {"cp367", XmlEncoding::ASCII},
        {"ibm367", XmlEncoding::ASCII},        {"csascii", XmlEncoding::ASCII},
    };
    for (const auto& n : names) {
        bool same = strlen(n.name) == length;
        for (u64 i = 0; same && i < length; i++)
            same = asciiLower(u8(name[i])) == u8(n.name[i]);
        if (same) {
            encoding = n.encoding;
            return true;
        }
    }
    return false;
}

bool xmlNeedsDecoding(const char* text, u64 length, const XmlTextKind& kind)
{
    for (u64 i = firstToDecode(text, 0, length); i < length; i = firstToDecode(text, i + 1, length)) {
        const u8 c = u8(text[i]);
        if ((c == '&' && !kind.literal) || c == '\r' || (c >= 0x80 && kind.encoding != XmlEncoding::LATIN1) ||
            (kind.attribute && (c == '\t' || c == '\n')) || (c < 0x20 && !xmlAllowsControl(c)))
            return true;
    }
    return false;
}

bool appendXmlText(const char* text, u64 length, String& out, XmlRefusal& refused, const XmlTextKind& kind)
{
    refused = XmlRefusal();
    // Decoding never lengthens the text.
    const u64 start = out.length;
    if (start + length + 1 > out.capacity) {
        // At least twice the room when appending, so that text after text is copied a bounded
        // number of times.
        const u64 wanted = start + length + 1;
        String grown(start && out.capacity * 2 > wanted ? out.capacity * 2 : wanted);
        if (grown.capacity <= start + length)
            return false;
        if (start)
            memcpy(grown.data, out.data, size_t(start));
        // Swapped, as moving an empty String keeps the old buffer; a view is never freed.
        grown.length = start;
        std::swap(out.data, grown.data);
        std::swap(out.capacity, grown.capacity);
        std::swap(out.length, grown.length);
        if (!grown.capacity)
            grown.data = nullptr;
    }
    char* at = out.data + start;
    const u8* p = reinterpret_cast<const u8*>(text);
    const char lineEnd = kind.attribute ? ' ' : '\n';
    for (u64 i = 0; i < length;) {
        const u8 c = p[i];
        u32 value = 0;
        u64 n = 0;
        if (c == '&' && !kind.literal) {
            n = readReference(text + i, length - i, value);
        } else if (c == '\r') {
            *at++ = lineEnd;
            i += i + 1 < length && p[i + 1] == '\n' ? 2 : 1;
            continue;
        } else if (kind.attribute && (c == '\t' || c == '\n')) {
            *at++ = ' ';
            i++;
            continue;
        } else if (c < 0x20 && !xmlAllowsControl(c)) {
            refused.byte = c;
            refused.control = true;
            out.length = start;
            out.data[start] = 0;
            return false;
        } else if (c >= 0x80) {
            if (kind.encoding == XmlEncoding::ASCII) {
                refused.byte = c;
                out.length = start;
                out.data[start] = 0;
                return false;
            }
            if (kind.encoding == XmlEncoding::UTF8)
                n = readUtf8(p + i, length - i, value);
        }
        if (!n) {
            *at++ = char(c);
            i++;
            continue;
        }
        if (value > 0xFF || (value < 0x20 && !xmlAllowsControl(value))) {
            refused.character = value;
            refused.forbidden = value < 0x20;
            out.length = start;
            out.data[start] = 0;
            return false;
        }
        *at++ = char(value);
        i += n;
    }
    *at = 0;
    out.length = u64(at - out.data);
    return true;
}

bool decodeXmlText(const char* text, u64 length, String& out, XmlRefusal& refused, const XmlTextKind& kind)
{
    String decoded;
    if (!appendXmlText(text, length, decoded, refused, kind))
        return false;
    out = std::move(decoded);
    return true;
}
