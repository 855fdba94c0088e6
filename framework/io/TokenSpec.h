#pragma once
#include "framework/core/Types.h"

// How a TextReader cuts text into tokens: the delimiter bytes and seven flags. The defaults
// are those of a plain reader: delimiters " \t\r\n", skipBlanks and skipDelimiters set.
struct TokenSpec
{
    char* delimiters = nullptr; // owned copy; null when there are none
    u32 delimiterLength = 0;
    u8 skipBlanks = 1;
    u8 quotes = 0;
    u8 keepQuotes = 0;
    u8 skipDelimiters = 1;
    u8 delimitersAreTokens = 0;
    u8 numberMode = 0;
    u8 suffixes = 0;

    TokenSpec();
    TokenSpec(const char* delimiters, u8 skipBlanks, u8 quotes, u8 keepQuotes, u8 skipDelimiters,
              u8 delimitersAreTokens, u8 numberMode, u8 suffixes);
    TokenSpec(const TokenSpec& other);
    TokenSpec& operator=(const TokenSpec& other);
    ~TokenSpec();

    // Null or "" means no delimiters at all.
    void setDelimiters(const char* text);
    bool isDelimiter(u8 c) const;
};

extern const char* const DEFAULT_DELIMITERS;
