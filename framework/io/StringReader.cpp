#include "framework/io/StringReader.h"
#include "framework/core/Heap.h"

#include <cstring>

bool StringReader::Source::readByte(u8& out)
{
    if (cursor >= length || text[cursor] == 0) {
        out = 0;
        return false;
    }
    out = u8(text[cursor++]);
    return true;
}

StringReader::StringReader(const char* text, const char* delimiters, u8 skipBlanks, u8 keepEmpty)
    : TextReader(&inner)
{
    init(text, text ? strlen(text) : 0, delimiters, skipBlanks, keepEmpty ? 0 : 1);
}

StringReader::StringReader(const String& text, const char* delimiters, u8 skipBlanks) : TextReader(&inner)
{
    init(text.c_str(), text.length, delimiters, skipBlanks, 1);
}

StringReader::~StringReader()
{
    memFree(inner.text);
}

void StringReader::init(const char* text, u64 length, const char* delimiters, u8 skipBlanks, u8 skipDelimiters)
{
    inner.text = strDupN(length, text, nullptr);
    inner.length = inner.text ? length : 0;
    tokenSpec.setDelimiters(delimiters ? delimiters : DEFAULT_DELIMITERS);
    tokenSpec.skipBlanks = skipBlanks;
    tokenSpec.quotes = 0;
    tokenSpec.keepQuotes = 0;
    tokenSpec.skipDelimiters = skipDelimiters;
    tokenSpec.delimitersAreTokens = 0;
    tokenSpec.numberMode = 0;
    tokenSpec.suffixes = 0;
}

void StringReader::restart()
{
    inner.cursor = 0;
    inner.sourceLine = 1;
}

u32 StringReader::countTokens()
{
    u64 cursor = inner.cursor;
    u32 line = inner.sourceLine;
    restart();
    u32 n = 0;
    while (n < UINT32_MAX && readToken(nullptr))
        n++;
    inner.cursor = cursor;
    inner.sourceLine = line;
    return n;
}
