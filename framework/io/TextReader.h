#pragma once
#include "framework/core/String.h"
#include "framework/io/ByteSource.h"
#include "framework/io/TokenSpec.h"

// The framework's tokenizer: pulls bytes from a ByteSource and cuts them into words, quoted
// strings, one-byte delimiter tokens or C-like numbers, as its TokenSpec says. No token
// ever holds '\r' or a 0 byte.
class TextReader
{
public:
    ByteSource* source;
    String* token; // the token being built
    TokenSpec tokenSpec;

    explicit TextReader(ByteSource* source);
    virtual ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // The next token into out (out may be null to skip it); false when there is none.
    bool readToken(String* out);
    // The next token, or "" when there is none.
    String readWord();
    // Skips to the first byte of a token.
    bool skipBlanks(u8& first);
    // Builds the token that begins with first; returns its length.
    u32 scanToken(u8 first);

private:
    bool next(u8& c);
    void pushBack(u64 pos, u8 c);
    void store(u8 c);
    u32 scanGeneral(u8 first, u64 firstPos);
    bool scanNumber(u8 first);
    // Set when the last scan closed a quoted part, so "" is a token and not the end.
    bool quotedToken = false;
};
