#pragma once
#include "framework/core/String.h"
#include "framework/core/Types.h"

// Splits XML text into tags, names, '=' and '/' marks, quoted values and text runs. Tokens
// come back trimmed of blank bytes (0x01-0x20 and 0x80-0xFF), so text loses bytes at its ends.
class XmlTokenizer
{
public:
    String text;
    u64 position = 0;
    String token;
    String previous;
    u32 line = 1;
    bool inTag = false;
    bool inQuote = false;

    XmlTokenizer() = default;
    explicit XmlTokenizer(String&& source);
    XmlTokenizer(const XmlTokenizer&) = delete;
    XmlTokenizer& operator=(const XmlTokenizer&) = delete;

    String& next();
    bool hasMore() const { return position < text.length && text.data[position] != 0; }

private:
    void advance();
};
