#pragma once
#include "framework/io/TextReader.h"

// A TextReader over its own copy of a text.
class StringReader : public TextReader
{
public:
    // delimiters null means " \t\r\n"; keepEmpty clears skipDelimiters; other flags are 0.
    StringReader(const char* text, const char* delimiters, u8 skipBlanks, u8 keepEmpty);
    StringReader(const String& text, const char* delimiters, u8 skipBlanks);
    ~StringReader() override;

    // Counts the tokens of the whole text from its beginning; the position is kept.
    u32 countTokens();
    // Back to the first byte and the first line.
    void restart();

private:
    class Source : public ByteSource
    {
    public:
        char* text = nullptr;
        u64 length = 0;
        u64 cursor = 0;

        bool readByte(u8& out) override;
        u64 tell() override { return cursor; }
        // Clamped: a position past the text would read outside the copy.
        void seek(u64 pos) override { cursor = pos < length ? pos : length; }
        bool exhausted() override { return cursor > length; }
        bool hasMore() override { return cursor <= length; }
    };
    Source inner;

    void init(const char* text, u64 length, const char* delimiters, u8 skipBlanks, u8 skipDelimiters);
};
