#include "framework/core/Heap.h"
#include "framework/core/StringArray.h"
#include "framework/io/StringReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
typedef std::vector<std::string> Tokens;

// A byte source that behaves like a stream over memory: exhausted when nothing is left.
class MemorySource : public ByteSource
{
public:
    explicit MemorySource(const std::string& bytes) : bytes(bytes) {}
    bool readByte(u8& out) override
    {
        if (pos >= bytes.size()) {
            out = 0;
            return false;
        }
        out = u8(bytes[pos++]);
        return true;
    }
    u64 tell() override { return pos; }
    void seek(u64 p) override { pos = p < bytes.size() ? p : bytes.size(); }
    bool exhausted() override { return pos >= bytes.size(); }
    bool hasMore() override { return pos < bytes.size(); }

private:
    std::string bytes;
    u64 pos = 0;
};

Tokens readAll(TextReader& reader)
{
    Tokens out;
    String token;
    while (reader.readToken(&token) && out.size() < 1000)
        out.push_back(token.c_str());
    return out;
}

Tokens tokensOf(const std::string& text, const TokenSpec& tokenSpec)
{
    MemorySource source(text);
    TextReader reader(&source);
    reader.tokenSpec = tokenSpec;
    Tokens fromStream = readAll(reader);
    // The same text through a StringReader must cut the same way.
    StringReader sr(text.c_str(), nullptr, 0, 0);
    sr.tokenSpec = tokenSpec;
    EXPECT_EQ(readAll(sr), fromStream) << text;
    return fromStream;
}

Tokens toVector(StringArray* a)
{
    Tokens out;
    for (const String& s : *a)
        out.push_back(s.c_str());
    memDelete(a);
    return out;
}

TokenSpec numbers(const char* delimiters = " \t\r\n", u8 suffixes = 0, u8 delimitersAreTokens = 0)
{
    return TokenSpec(delimiters, 1, 0, 0, delimitersAreTokens ? 0 : 1, delimitersAreTokens, 1, suffixes);
}
}

TEST(TextReader, DefaultReaderCountsLines)
{
    MemorySource source("  alpha\tbeta\n");
    TextReader reader(&source);
    EXPECT_EQ(reader.tokenSpec.delimiterLength, 4u);
    EXPECT_EQ(readAll(reader), (Tokens{"alpha", "beta"}));
    EXPECT_EQ(source.sourceLine, 2u);
    String more("unchanged");
    EXPECT_FALSE(reader.readToken(&more));
    EXPECT_FALSE(reader.readToken(nullptr));
    EXPECT_STREQ(reader.readWord().c_str(), "");
}

TEST(TextReader, TokenCuts)
{
    struct Case
    {
        const char* name;
        std::string text;
        TokenSpec tokenSpec;
        Tokens want;
    };
    const Case cases[] = {
        {"keep empty fields", "a,,b", TokenSpec(",", 0, 0, 0, 0, 0, 0, 0), {"a", "", "b"}},
        {"quotes dropped", "say \"hello world\" now", TokenSpec(" \t\r\n", 1, 1, 0, 1, 0, 0, 0),
         {"say", "hello world", "now"}},
        {"quotes kept", "'x y'", TokenSpec(" \t\r\n", 1, 1, 1, 1, 0, 0, 0), {"'x y'"}},
        {"escaped quote", "\"a\\\"b\" c", TokenSpec(" \t\r\n", 1, 1, 0, 1, 0, 0, 0), {"a\\\"b", "c"}},
        {"other quote inside", "\"it's\" x", TokenSpec(" \t\r\n", 1, 1, 0, 1, 0, 0, 0), {"it's", "x"}},
        {"empty quotes are a token", "a \"\" b", TokenSpec(" \t\r\n", 1, 1, 0, 1, 0, 0, 0), {"a", "", "b"}},
        {"unclosed quote", "x \"rest of", TokenSpec(" \t\r\n", 1, 1, 0, 1, 0, 0, 0), {"x", "rest of"}},
        {"delimiters are tokens", "a=b;", TokenSpec("=;", 1, 0, 0, 0, 1, 0, 0), {"a", "=", "b", ";"}},
        {"delimiter token after blank", "k = v ;", TokenSpec("=;", 1, 0, 0, 0, 1, 0, 0), {"k", "=", "v", ";"}},
        {"no quote handling by default", "\"a b\"", TokenSpec(), {"\"a", "b\""}},
        {"carriage returns never stored", "a\rb\r\nc", TokenSpec("\n", 0, 0, 0, 1, 0, 0, 0), {"ab", "c"}},
        {"lone carriage return is no token", "a,\r,b", TokenSpec(",", 0, 0, 0, 1, 0, 0, 0), {"a", "b"}},
        {"high bytes are blanks", "a\xA0" "b\xFF", TokenSpec(), {"a", "b"}},
        {"blanks kept without skipBlanks", " a b ", TokenSpec(",", 0, 0, 0, 1, 0, 0, 0), {" a b "}},
        {"number with exponent", "-12.5e-3 x", numbers(), {"-12.5e-3", "x"}},
        {"number then comma", "2,", numbers(), {"2,"}},
        {"upper-case exponent", "1E5", numbers(), {"1e5"}},
        {"hex", "0x1F ", numbers(), {"0x1F"}},
        {"hex at end", "0xff", numbers(), {"0xff"}},
        {"word after digits", "12ab", numbers(), {"12ab"}},
        {"suffix", "3.0f 7L", numbers(" \t\r\n", 1), {"3.0f", "7L"}},
        {"suffix needs the flag", "3.0f", numbers(), {"3.0f"}},
        {"lone zero at end", "0", numbers(), {"0"}},
        {"zero then digits", "007 1", numbers(), {"007", "1"}},
        {"second dot fails", "1.2.3", numbers(), {"1.2.3"}},
        {"leading dot", ".5", numbers(), {".5"}},
        {"minus alone", "- 1", numbers(), {"-", "1"}},
        {"numbers and delimiter tokens", "1,-2,", numbers(",", 0, 1), {"1", ",", "-2", ","}},
        {"minus delimiter that is no number", "a-b", numbers("-", 0, 1), {"a", "-", "b"}},
        {"number ends at newline", "5\n6", numbers(), {"5", "6"}},
        {"carriage return inside number", "4\r2", numbers(), {"42"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokensOf(c.text, c.tokenSpec), c.want) << c.name;
}

TEST(TextReader, PushedBackNewlineCountsOnce)
{
    MemorySource source("a\nb\n");
    TextReader reader(&source);
    reader.tokenSpec = TokenSpec("\n", 0, 0, 0, 0, 1, 0, 0);
    EXPECT_EQ(readAll(reader), (Tokens{"a", "\n", "b", "\n"}));
    EXPECT_EQ(source.sourceLine, 3u);
}

TEST(TextReader, LongTokenGrows)
{
    std::string big(100000, 'q');
    MemorySource source(" " + big + " end");
    TextReader reader(&source);
    EXPECT_EQ(readAll(reader), (Tokens{big, "end"}));
}

TEST(StringReader, CountTokensKeepsPosition)
{
    StringReader empty("", nullptr, 1, 0);
    EXPECT_EQ(empty.countTokens(), 0u);
    EXPECT_FALSE(empty.readToken(nullptr));

    StringReader r(String("one two three"), nullptr, 1);
    EXPECT_STREQ(r.readWord().c_str(), "one");
    EXPECT_EQ(r.countTokens(), 3u);
    EXPECT_STREQ(r.readWord().c_str(), "two");
    EXPECT_STREQ(r.readWord().c_str(), "three");
    EXPECT_FALSE(r.readToken(nullptr));

    StringReader nullText(static_cast<const char*>(nullptr), nullptr, 1, 0);
    EXPECT_EQ(nullText.countTokens(), 0u);
}

TEST(StringReader, SeekIsClamped)
{
    StringReader r("abc", nullptr, 1, 0);
    r.source->seek(1000);
    EXPECT_EQ(r.source->tell(), 3u);
    EXPECT_FALSE(r.readToken(nullptr));
    r.source->seek(1);
    EXPECT_STREQ(r.readWord().c_str(), "bc");
}

TEST(String, Split)
{
    EXPECT_EQ(toVector(String::split("a,,b,", ",", 0)), (Tokens{"a", "b"}));
    EXPECT_EQ(toVector(String::split(" a b ", "", 1)), (Tokens{"a", "b"}));
    EXPECT_EQ(toVector(String::split(",,lead,trail,,", ",", 0)), (Tokens{"lead", "trail"}));
    EXPECT_EQ(toVector(String::split("a b,c", ",", 0)), (Tokens{"a b", "c"}));
    EXPECT_EQ(toVector(String::split("a b,c", ",", 1)), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(toVector(String::split("\"a,b\"", ",", 0)), (Tokens{"\"a", "b\""}));
    EXPECT_EQ(toVector(String::split("common..log.level", ".", 1)), (Tokens{"common", "log", "level"}));
    EXPECT_EQ(toVector(String::split(String(), ",", 0)), Tokens{});
    EXPECT_EQ(toVector(String::split(String(u64(8)), ",", 0)), Tokens{});
}

TEST(String, SplitLinesKeepsEmptyLines)
{
    EXPECT_EQ(toVector(String::splitLines("a\r\n\r\nb")), (Tokens{"a", "", "b"}));
    EXPECT_EQ(toVector(String::splitLines("x = 1\ny = 2")), (Tokens{"x = 1", "y = 2"}));
    EXPECT_EQ(toVector(String::splitLines("\n\nz")), (Tokens{"", "", "z"}));
    EXPECT_EQ(toVector(String::splitLines("one")), (Tokens{"one"}));
    EXPECT_EQ(toVector(String::splitLines(String())), Tokens{});
}

TEST(String, SplitWithCommandLineSpec)
{
    TokenSpec tokenSpec(" \t\r\n", 1, 1, 0, 1, 0, 0, 0);
    EXPECT_EQ(toVector(String::splitWith("MORDAX -x \"my dir/a.tre\" out", tokenSpec)),
              (Tokens{"MORDAX", "-x", "my dir/a.tre", "out"}));
    TokenSpec copy(tokenSpec);
    EXPECT_NE(copy.delimiters, tokenSpec.delimiters);
    EXPECT_STREQ(copy.delimiters, " \t\r\n");
    EXPECT_EQ(copy.quotes, 1);
}

TEST(String, SplitLeavesNothingBehind)
{
    u64 before = memLiveBytes();
    memDelete(String::split("a b c d e f g h i j k", " ", 1));
    memDelete(String::splitLines("1\n2\n3"));
    EXPECT_EQ(memLiveBytes(), before);
}
