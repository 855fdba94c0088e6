#include "framework/io/TextReader.h"
#include "framework/core/Heap.h"
#include "framework/core/TextUtils.h"

#include <cstring>

namespace
{
bool isDigit(u8 c)
{
    return c >= '0' && c <= '9';
}
}

TextReader::TextReader(ByteSource* src) : source(src), token(memNew<String>(u64(31)))
{
}

TextReader::~TextReader()
{
    memDelete(token);
}

bool TextReader::next(u8& c)
{
    if (!source || !source->readByte(c)) {
        c = 0;
        return false;
    }
    if (c == '\n')
        source->sourceLine++;
    return true;
}

void TextReader::pushBack(u64 pos, u8 c)
{
    source->seek(pos);
    if (c == '\n' && source->sourceLine > 1)
        source->sourceLine--;
}

void TextReader::store(u8 c)
{
    // One byte at a time: a large growth keeps long tokens from reallocating often.
    char one = char(c);
    token->append(&one, 1, 1000);
}

bool TextReader::skipBlanks(u8& first)
{
    u8 c;
    while (next(c)) {
        if (c == 0 || isBlankByte(c) || (tokenSpec.skipDelimiters && tokenSpec.isDelimiter(c)))
            continue;
        first = c;
        return true;
    }
    return false;
}

bool TextReader::readToken(String* out)
{
    if (!token || !source)
        return false;
    for (;;) {
        token->assign(static_cast<const char*>(nullptr));
        u8 first = 0;
        if (tokenSpec.skipBlanks) {
            if (!skipBlanks(first))
                return false;
        } else if (tokenSpec.skipDelimiters) {
            bool found = false;
            while (next(first)) {
                if (!tokenSpec.isDelimiter(first)) {
                    found = true;
                    break;
                }
            }
            if (!found)
                return false;
        } else if (!next(first)) {
            return false;
        }

        u32 len = scanToken(first);
        if (len == 0 && tokenSpec.skipDelimiters && !quotedToken) {
            // Nothing stored (a lone '\r', say): that is no token, but text may follow.
            continue;
        }
        if (len > 0 && tokenSpec.quotes && tokenSpec.keepQuotes) {
            // The scanner keeps an opening quote but never stores the closing one.
            if (token->indexOf('"') >= 0)
                store('"');
            else if (token->indexOf('\'') >= 0)
                store('\'');
        }
        if (out)
            out->assign(*token);
        return true;
    }
}

String TextReader::readWord()
{
    String word(u64(64));
    if (!readToken(&word))
        word.assign(static_cast<const char*>(nullptr));
    return word;
}

u32 TextReader::scanToken(u8 first)
{
    quotedToken = false;
    u64 firstPos = source->tell();
    if (tokenSpec.numberMode && (isDigit(first) || first == '-' || first == '.')) {
        if (scanNumber(first))
            return u32(token->length);
        // Start again just after the first byte.
        token->assign(static_cast<const char*>(nullptr));
        source->seek(firstPos);
        if ((first == '-' || first == '.') && tokenSpec.isDelimiter(first)) {
            store(first);
            return u32(token->length);
        }
    }
    return scanGeneral(first, firstPos > 0 ? firstPos - 1 : 0);
}

u32 TextReader::scanGeneral(u8 c, u64 before)
{
    if (tokenSpec.delimitersAreTokens && tokenSpec.isDelimiter(c)) {
        if (c != 0)
            store(c);
        return u32(token->length);
    }
    u8 quote = 0;
    u8 prev = 0;
    for (;;) {
        if (quote) {
            if (c == quote && prev != '\\') {
                quotedToken = true;
                break;
            }
        } else if (tokenSpec.quotes && (c == '"' || c == '\'')) {
            quote = c;
            if (!tokenSpec.keepQuotes) {
                // The byte after a dropped quote is looked at afresh, so "" closes at once.
                prev = c;
                before = source->tell();
                if (!next(c) || c == 0)
                    break;
                continue;
            }
        }
        if (!quote) {
            if (tokenSpec.isDelimiter(c)) {
                if (tokenSpec.delimitersAreTokens)
                    pushBack(before, c);
                break;
            }
            if (tokenSpec.skipBlanks && isBlankByte(c))
                break;
        }
        if (c != '\r' && c != 0)
            store(c);
        prev = c;
        if (source->exhausted())
            break;
        before = source->tell();
        if (!next(c) || c == 0)
            break;
    }
    return u32(token->length > UINT32_MAX ? UINT32_MAX : token->length);
}

bool TextReader::scanNumber(u8 c)
{
    bool hex = false, dot = false, exponent = false;
    bool digits = false;
    if (c == '-' || c == '.') {
        store(c);
        dot = c == '.';
        if (!next(c))
            return false;
    }
    if (c == '0') {
        u64 afterZero = source->tell();
        u8 x;
        if (!next(x)) {
            store('0');
            return true;
        }
        if (x == 'x') {
            store('0');
            store('x');
            hex = true;
            if (!next(c) || hexDigitValue(c) < 0)
                return false;
        } else {
            pushBack(afterZero, x);
        }
    } else if (!isDigit(c) && !(c == '.' && !dot)) {
        return false;
    }

    for (;;) {
        if (hex ? hexDigitValue(c) >= 0 : isDigit(c)) {
            store(c);
            digits = true;
        } else if (c == '.' && !hex) {
            if (dot && !exponent)
                return false;
            dot = true;
            store(c);
        } else if ((c == 'e' || c == 'E') && !hex) {
            if (exponent || token->length == 0)
                return false;
            exponent = true;
            store('e');
        } else if (c == '-' && exponent) {
            store(c);
        } else if (c == '\r') {
        } else if (tokenSpec.isDelimiter(c) || c == '\n') {
            if (tokenSpec.delimitersAreTokens)
                pushBack(source->tell() - 1, c);
            break;
        } else if (isBlankByte(c)) {
            pushBack(source->tell() - 1, c);
            break;
        } else if (tokenSpec.suffixes && (c == 'L' || c == 'U' || c == 'f') && token->length > 0) {
            store(c);
        } else {
            return false;
        }
        if (!next(c))
            break;
    }
    return digits || token->length > 0;
}
