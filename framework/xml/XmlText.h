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

// How a document's bytes stand for characters: its declaration's encoding.
enum class XmlEncoding : u8
{
    UTF8,   // the default
    LATIN1, // ISO-8859-1: each byte is the character of its value
    ASCII,  // US-ASCII: a byte of 0x80 and above stands for no character
};
// The encoding an XML declaration names (any case); false for one this reader cannot read.
bool xmlEncodingNamed(const char* name, u64 length, XmlEncoding& encoding);

// How a text read from a document is taken.
struct XmlTextKind
{
    XmlEncoding encoding = XmlEncoding::UTF8;
    // An attribute's value: a raw tab, line feed or carriage return (CR LF as one) is a blank.
    bool attribute = false;
    // A CDATA section's content: no references.
    bool literal = false;
};

// What decodeXmlText refuses: a character above U+00FF (typed or referred to), which no byte
// stands for; a byte that the document's encoding does not take; and what XML 1.0 cannot carry,
// a reference to U+0000 or to U+0001-U+001F but tab, line feed and carriage return, or such a
// byte written raw.
struct XmlRefusal
{
    u32 character = 0;      // the code point (0x110000 for a reference past the last one)
    u8 byte = 0;            // the byte a US-ASCII document holds above 0x7F, or a raw control byte
    bool forbidden = false; // `character` is one XML does not allow (it may be U+0000)
    bool control = false;   // `byte` is a control byte written raw
};
// Characters XML 1.0 allows below U+0020: tab, line feed and carriage return.
inline bool xmlAllowsControl(u32 c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

// Whether text read from a document must be decoded: it holds a reference, a carriage return,
// a byte the encoding reads as more than itself, a control byte XML does not allow, or (in an
// attribute) a tab or line feed.
bool xmlNeedsDecoding(const char* text, u64 length, const XmlTextKind& kind = XmlTextKind());
// The bytes text read from a document stands for, appended to `out`: the predefined entities and
// character references up to U+00FF (any number of leading zeros) become their bytes, CR LF and a
// lone CR become LF (a blank in an attribute, as a raw tab or LF is), UTF-8 sequences of U+0080
// to U+00FF become their one byte, and bytes that are not UTF-8 (and an '&' that begins no
// reference) are taken as they are; in ISO-8859-1 each byte is itself. False for what `refused`
// then holds; also false, with `refused` empty, when memory ran out.
bool appendXmlText(const char* text, u64 length, String& out, XmlRefusal& refused,
                   const XmlTextKind& kind = XmlTextKind());
// The same into `out` alone.
bool decodeXmlText(const char* text, u64 length, String& out, XmlRefusal& refused,
                   const XmlTextKind& kind = XmlTextKind());
