#pragma once
#include "framework/core/String.h"

// Values are stored as bytes and written as XML that any conforming reader, taking each
// character U+0000 to U+00FF as the byte of that value, reads back as exactly those bytes:
// '&' as "&amp;", '<' as "&lt;", '>' after "]]" as "&gt;", bytes 0x80 to 0xFF as "&#xHH;", a
// carriage return as "&#xD;"; in an attribute value also '"' as "&quot;" and tab and line feed
// as "&#x9;" and "&#xA;" (readers turn them into blanks). Anything else is written as it is, so
// text that needs none of this keeps its bytes.

// False when the text holds a byte no XML 1.0 document can carry in any form (0x00 to 0x08,
// 0x0B, 0x0C, 0x0E to 0x1F).
bool xmlCanHold(const char* text, u64 length);
inline bool xmlCanHold(const String& text)
{
    return xmlCanHold(text.data, text.length);
}

// The length of the text as written.
u64 xmlEscapedLength(const char* text, u64 length, bool attribute);
// Writes the text as XML at `out`, which has room for xmlEscapedLength bytes; the end of what
// was written.
char* writeXmlEscaped(char* out, const char* text, u64 length, bool attribute);
// Appends the text as XML, in place when `out` has room; false (and `out` unchanged) when memory
// ran out.
bool appendXmlEscaped(String& out, const char* text, u64 length, bool attribute);

// Whether text read from a document must be decoded: it holds a reference, a carriage return or
// a byte of 0x80 and above.
bool xmlNeedsDecoding(const char* text, u64 length);
// The bytes text read from a document stands for: the predefined entities and character
// references up to U+00FF become their bytes, CR LF and a lone CR become LF, UTF-8 sequences of
// U+0080 to U+00FF become their one byte, and bytes that are not UTF-8 (and an '&' that begins no
// reference) are taken as they are. False for a character above U+00FF (typed or referred to),
// which no byte stands for: `refused` then holds it. Also false, with `refused` 0, when memory ran
// out.
bool decodeXmlText(const char* text, u64 length, String& out, u32& refused);
