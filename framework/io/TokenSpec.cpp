#include "framework/io/TokenSpec.h"
#include "framework/core/Heap.h"

#include <cstring>

const char* const DEFAULT_DELIMITERS = " \t\r\n";

TokenSpec::TokenSpec()
{
    setDelimiters(DEFAULT_DELIMITERS);
}

TokenSpec::TokenSpec(const char* delims, u8 skipBlanks_, u8 quotes_, u8 keepQuotes_, u8 skipDelimiters_,
                     u8 delimitersAreTokens_, u8 numberMode_, u8 suffixes_)
    : skipBlanks(skipBlanks_), quotes(quotes_), keepQuotes(keepQuotes_), skipDelimiters(skipDelimiters_),
      delimitersAreTokens(delimitersAreTokens_), numberMode(numberMode_), suffixes(suffixes_)
{
    setDelimiters(delims);
}

TokenSpec::TokenSpec(const TokenSpec& other)
{
    *this = other;
}

TokenSpec& TokenSpec::operator=(const TokenSpec& other)
{
    if (this == &other)
        return *this;
    setDelimiters(other.delimiters);
    skipBlanks = other.skipBlanks;
    quotes = other.quotes;
    keepQuotes = other.keepQuotes;
    skipDelimiters = other.skipDelimiters;
    delimitersAreTokens = other.delimitersAreTokens;
    numberMode = other.numberMode;
    suffixes = other.suffixes;
    return *this;
}

TokenSpec::~TokenSpec()
{
    memFree(delimiters);
}

void TokenSpec::setDelimiters(const char* text)
{
    // Copy before freeing: text may be our own copy.
    char* copy = nullptr;
    u32 n = 0;
    if (text && *text) {
        size_t len = strlen(text);
        n = len > UINT32_MAX - 1 ? UINT32_MAX - 1 : u32(len);
        copy = strDupN(n, text, nullptr);
        if (!copy)
            n = 0;
    }
    memFree(delimiters);
    delimiters = copy;
    delimiterLength = n;
}

bool TokenSpec::isDelimiter(u8 c) const
{
    return delimiterLength && memchr(delimiters, c, delimiterLength) != nullptr;
}
