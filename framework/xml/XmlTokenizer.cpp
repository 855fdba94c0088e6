#include "framework/xml/XmlTokenizer.h"
#include "framework/core/TextUtils.h"

#include <utility>

XmlTokenizer::XmlTokenizer(String&& source) : text(std::move(source))
{
}

void XmlTokenizer::advance()
{
    if (text.data[position] == '\n')
        line++;
    position++;
}

String& XmlTokenizer::next()
{
    previous = token;
    // A token is always one run of the text, [start, position), trimmed once at the end.
    u64 start = position;
    bool hasNonBlank = false;
    while (hasMore()) {
        char c = text.data[position];
        if (inQuote) {
            advance();
            if (c == '"') {
                inQuote = false;
                break;
            }
            continue;
        }
        if (c == '<') {
            // "<!" starts a comment or declaration, which is not interpreted: it runs on as text.
            if (position + 1 < text.length && text.data[position + 1] == '!') {
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
            if (!isBlankByte(u8(c)))
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
        if (c == '?' && !pending && previous.equals("<")) {
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
        if (c == '"')
            inQuote = true;
        advance();
        hasNonBlank = true;
    }
    u64 end = position;
    while (start < end && isBlankByte(u8(text.data[start])))
        start++;
    while (end > start && isBlankByte(u8(text.data[end - 1])))
        end--;
    if (end > start)
        token.assign(text.data + start, end - start);
    else
        token.keepRange(0, 0);
    return token;
}
