#include "framework/xml/XmlTokenizer.h"
#include "framework/core/TextUtils.h"

#include <cstring>
#include <utility>

XmlTokenizer::XmlTokenizer(String&& source) : text(std::move(source)), data(text.data), length(text.length)
{
}

XmlTokenizer::XmlTokenizer(const char* bytes, u64 n) : data(bytes), length(bytes ? n : 0)
{
}

u64 xmlPassedOverEnd(const char* data, u64 length, u64 at)
{
    const bool comment = length - at >= 4 && memcmp(data + at, "<!--", 4) == 0;
    const char* close = comment ? "-->" : "?>";
    const u64 from = at + (comment ? 4 : 2);
    const void* found = from + strlen(close) <= length ? memmem(data + from, size_t(length - from), close, strlen(close))
                                                      : nullptr;
    return found ? u64(static_cast<const char*>(found) - data) + strlen(close) : length;
}

bool xmlDeclarationAt(const char* data, u64 length, u64 at)
{
    if (length - at < 6 || memcmp(data + at, "<?xml", 5) != 0)
        return false;
    const u8 after = u8(data[at + 5]);
    return after == '?' || (after && after <= 0x20);
}

bool xmlPassedOverAt(const char* data, u64 length, u64 at)
{
    if (length - at >= 4 && memcmp(data + at, "<!--", 4) == 0)
        return true;
    return length - at >= 2 && data[at] == '<' && data[at + 1] == '?' && !xmlDeclarationAt(data, length, at);
}

void XmlTokenizer::skipComment()
{
    passedInstruction = passedInstruction || data[position + 1] == '?';
    const u64 stop = xmlPassedOverEnd(data, length, position);
    countLines(position, stop);
    position = stop;
}

void XmlTokenizer::takeTextWithoutComments(u64 start, u64 end)
{
    token.keepRange(0, 0);
    for (u64 at = start; at < end;) {
        u64 open = at;
        while (open < end && !xmlPassedOverAt(data, end, open)) {
            const void* next = memchr(data + open + 1, '<', size_t(end - open - 1));
            open = next ? u64(static_cast<const char*>(next) - data) : end;
        }
        token.append(data + at, open - at);
        // As skipComment reads it: to its close, or to the end.
        at = open < end ? xmlPassedOverEnd(data, end, open) : end;
    }
    // The blanks the comments stood between are trimmed as the text's own would be.
    u64 from = 0, to = token.length;
    while (from < to && u8(token.data[from]) <= 0x20)
        from++;
    while (to > from && u8(token.data[to - 1]) <= 0x20)
        to--;
    token.keepRange(from, to);
}

void XmlTokenizer::countLines(u64 from, u64 to)
{
    for (const char* p = data + from; p < data + to; p++) {
        p = static_cast<const char*>(memchr(p, '\n', size_t(data + to - p)));
        if (!p)
            break;
        line++;
    }
}

void XmlTokenizer::advance()
{
    if (data[position] == '\n')
        line++;
    position++;
}

String& XmlTokenizer::next()
{
    // A token is always one run of the text, [start, position), trimmed once at the end.
    const bool wasInTag = inTag;
    u64 start = position;
    bool hasNonBlank = false;
    heldComment = false;
    heldCdata = false;
    unclosedCdata = false;
    while (hasMore()) {
        const char c = data[position];
        if (!inQuote && !inTag && c != '<') {
            // Text runs to the next '<' (or the end of the text): taken a stretch at a time.
            const u64 rest = length - position;
            const void* open = memchr(data + position, '<', size_t(rest));
            const u64 stop = open ? u64(static_cast<const char*>(open) - data) : length;
            for (u64 i = position; !hasNonBlank && i < stop; i++)
                hasNonBlank = u8(data[i]) > 0x20;
            countLines(position, stop);
            position = stop;
            continue;
        }
        if (inQuote) {
            advance();
            if (c == quote) {
                inQuote = false;
                break;
            }
            continue;
        }
        if (c == '<' && !inTag && length - position >= 9 && memcmp(data + position, "<![CDATA[", 9) == 0) {
            // A CDATA section is text, whatever it holds, up to its "]]>".
            const u64 from = position + 9;
            const void* close = memmem(data + from, size_t(length - from), "]]>", 3);
            const u64 stop = close ? u64(static_cast<const char*>(close) - data) + 3 : length;
            countLines(position, stop);
            position = stop;
            hasNonBlank = true;
            heldCdata = true;
            unclosedCdata = !close;
            continue;
        }
        if (c == '<') {
            // A comment or a processing instruction says nothing: it is passed over, within text
            // too (the text goes on after it, and it is dropped from the token).
            if (xmlPassedOverAt(data, length, position)) {
                if (hasNonBlank && inTag)
                    break;
                skipComment();
                if (hasNonBlank)
                    heldComment = true;
                else
                    start = position;
                continue;
            }
            // Any other "<!" (a declaration) is not interpreted: it runs on as text.
            if (position + 1 < length && data[position + 1] == '!') {
                advance();
                hasNonBlank = true;
                continue;
            }
            if (hasNonBlank)
                break;
            start = position;
            advance();
            inTag = true;
            break;
        }
        if (!inTag) {
            if (u8(c) > 0x20)
                hasNonBlank = true;
            advance();
            continue;
        }
        bool pending = position > start;
        if (c == '>') {
            if (pending)
                break;
            advance();
            inTag = false;
            break;
        }
        if (c == '?' && !pending && afterOpen) {
            advance();
            hasNonBlank = true;
            continue;
        }
        if (c == '/' || c == '=' || c == '?') {
            if (!pending)
                advance();
            break;
        }
        if (isBlankByte(u8(c))) {
            if (pending)
                break;
            advance();
            start = position;
            continue;
        }
        if (c == '"' || c == '\'') {
            // The value runs to its closing quote (or a 0 byte, or the end): found in one go.
            const u64 from = position + 1;
            const void* close = memchr(data + from, c, size_t(length - from));
            u64 stop = close ? u64(static_cast<const char*>(close) - data) : length;
            if (const void* nul = memchr(data + from, 0, size_t(stop - from)))
                stop = u64(static_cast<const char*>(nul) - data);
            countLines(from, stop);
            hasNonBlank = true;
            if (stop < length && data[stop] == c) {
                position = stop + 1;
                break;
            }
            inQuote = true;
            quote = c;
            position = stop;
            continue;
        }
        // A name (or any run of bytes that end no token) is taken in one go.
        u64 end = position + 1;
        while (end < length && isXmlNameByte(u8(data[end])))
            end++;
        position = end;
        hasNonBlank = true;
    }
    u64 end = position;
    isText = !wasInTag && !inTag;
    // Text is UTF-8: its bytes of 0x80 and above are characters, not blanks.
    const auto blank = [this](u64 at) {
        const u8 c = u8(data[at]);
        return isText ? c && c <= 0x20 : isBlankByte(c);
    };
    while (start < end && blank(start))
        start++;
    while (end > start && blank(end - 1))
        end--;
    spanStart = start;
    spanLength = end - start;
    if (isText && heldComment && !spanText)
        takeTextWithoutComments(start, end);
    else if ((isText && spanText) || (!isText && spanTags)) {
        if (token.length)
            token.keepRange(0, 0);
    }
    else if (end > start)
        token.assign(data + start, end - start);
    else
        token.keepRange(0, 0);
    afterOpen = end == start + 1 && data[start] == '<';
    return token;
}
