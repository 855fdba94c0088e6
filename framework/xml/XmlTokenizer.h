#pragma once
#include "framework/core/String.h"
#include "framework/core/Types.h"

#include <cstring>
#include <initializer_list>

// Bytes that neither end a token in a tag nor are blank there (names are runs of them).
struct XmlNameBytes
{
    bool table[256] = {};
    constexpr XmlNameBytes()
    {
        for (int c = 0x21; c <= 0x7F; c++)
            table[c] = true;
        for (const char c : {'<', '>', '/', '=', '?', '"', '\''})
            table[u8(c)] = false;
    }
};
inline constexpr XmlNameBytes XML_NAME_BYTES;
inline bool isXmlNameByte(u8 c)
{
    return XML_NAME_BYTES.table[c];
}

// Whether an XML declaration ("<?xml" and a blank, or "<?xml?>") stands at `at`: it is read as a
// tag, never passed over, wherever it stands.
bool xmlDeclarationAt(const char* data, u64 length, u64 at);
// Whether what stands at `at` is passed over as saying nothing: a comment, or a processing
// instruction other than the declaration (whatever its body holds).
bool xmlPassedOverAt(const char* data, u64 length, u64 at);
// Where it ends: after its "-->" or "?>", or at the end of the text when it is not closed.
u64 xmlPassedOverEnd(const char* data, u64 length, u64 at);

// Splits XML text into tags, names, '=' and '/' marks, quoted values (in double or single
// quotes) and text runs; comments and processing instructions are passed over. Tokens come back
// trimmed of blank bytes (0x01-0x20, and in tags also 0x80-0xFF), so text loses blanks at its
// ends.
class XmlTokenizer
{
public:
    String text; // the text, when the tokenizer holds it
    const char* data = nullptr; // the bytes read: text's, or the caller's
    u64 length = 0;
    u64 position = 0;
    String token;
    u32 line = 1;
    bool inTag = false;
    bool inQuote = false;
    // With spanText set, a run of text between tags is not copied into `token` (which is left
    // empty): it lies at [spanStart, spanStart + spanLength) of data, trimmed, and isText tells
    // that the last token was one. A document's text is by far its largest part.
    bool spanText = false;
    // With spanTags set, the tokens of tags are not copied either: each lies at its span.
    bool spanTags = false;
    bool isText = false;
    u64 spanStart = 0;
    u64 spanLength = 0;
    // The text held a comment or processing instruction: the span covers it (without spanText, `token` holds the text
    // without it, trimmed again).
    bool heldComment = false;
    // The text held a CDATA section (the span covers it, markup and all), or one that the text
    // ends inside.
    bool heldCdata = false;
    bool unclosedCdata = false;
    // A processing instruction has been passed over since the tokenizer began.
    bool passedInstruction = false;

    XmlTokenizer() = default;
    explicit XmlTokenizer(String&& source);
    // Reads n bytes that the caller keeps, which must outlive the tokenizer.
    XmlTokenizer(const char* bytes, u64 n);
    XmlTokenizer(const XmlTokenizer&) = delete;
    XmlTokenizer& operator=(const XmlTokenizer&) = delete;

    // A 0 byte ends the text only where a token would start: parseXmlElements refuses text that
    // holds one before reading it.
    String& next();
    // The token last read, where it lies (with spanText or spanTags, the token itself).
    const char* spanData() const { return data + spanStart; }
    bool spanIs(char c) const { return spanLength == 1 && data[spanStart] == c; }
    char spanFirst() const { return spanLength ? data[spanStart] : 0; }
    bool spanEquals(const String& s) const
    {
        return spanLength == s.length && (!spanLength || memcmp(data + spanStart, s.data, spanLength) == 0);
    }
    bool hasMore() const { return position < length && data[position] != 0; }

    // Where the tokenizer stands, to read ahead and come back.
    struct Place
    {
        u64 position;
        u32 line;
        bool inTag;
        bool inQuote;
        bool afterOpen;
        char quote;
    };
    Place place() const { return {position, line, inTag, inQuote, afterOpen, quote}; }
    void moveTo(const Place& p)
    {
        position = p.position;
        line = p.line;
        inTag = p.inTag;
        inQuote = p.inQuote;
        afterOpen = p.afterOpen;
        quote = p.quote;
    }

private:
    bool afterOpen = false; // the last token was "<"
    char quote = '"';       // the quote that opened the value being read

    void advance();
    void countLines(u64 from, u64 to);
    // Passes over a comment or processing instruction (to its close, or to the end of the text).
    void skipComment();
    // Copies the text [start, end) into `token` without its comments.
    void takeTextWithoutComments(u64 start, u64 end);
};
