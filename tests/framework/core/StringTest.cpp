#include "framework/core/Heap.h"
#include "framework/core/String.h"
#include "framework/core/StringArray.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace
{
// A String holding `text` in a buffer of exactly `capacity` bytes.
String withCapacity(const char* text, u64 capacity)
{
    String s;
    s.reserve(capacity - 2);
    EXPECT_EQ(s.capacity, capacity);
    s.assign(text);
    EXPECT_EQ(s.capacity, capacity);
    return s;
}
}

TEST(String, ConstructionSizes)
{
    String empty;
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_STREQ(empty.c_str(), "");

    String none(u64(0));
    EXPECT_EQ(none.capacity, 0u);
    String small(u64(3));
    EXPECT_EQ(small.capacity, 16u);
    EXPECT_EQ(small.length, 0u);
    String big(u64(100));
    EXPECT_EQ(big.capacity, 101u);

    String copy(String("hello"));
    EXPECT_EQ(copy.capacity, 6u);
    String copyOfEmpty{String()};
    EXPECT_EQ(copyOfEmpty.data, nullptr);

    String partial("abcdef", 3);
    EXPECT_STREQ(partial.c_str(), "abc");
    EXPECT_EQ(partial.length, 3u);
}

TEST(String, BoundedFormatConstructor)
{
    String s(8, "%s-%d", "abcdef", 12345);
    EXPECT_EQ(s.capacity, 10u);
    EXPECT_STREQ(s.c_str(), "abcdef-");
    EXPECT_EQ(s.length, 7u);
    String none(0, "%d", 1);
    EXPECT_EQ(none.data, nullptr);
}

TEST(String, RawBytesDropByteOrderMark)
{
    const u8 bom[] = {0xEF, 0xBB, 0xBF, 0x41};
    EXPECT_STREQ(String(bom, 4).c_str(), "A");
    const u8 onlyBom[] = {0xEF, 0xBB, 0xBF};
    EXPECT_STREQ(String(onlyBom, 3).c_str(), "");
    const u8 partBom[] = {0xEF, 0xBB, 0x41};
    EXPECT_EQ(String(partBom, 3).length, 3u);
    EXPECT_EQ(String(bom, 0).data, nullptr);
}

TEST(String, TakenBufferIsFreed)
{
    u64 before = memLiveBytes();
    {
        char* raw = strDupN(5, "taken", nullptr);
        String s = String::fromTaken(raw);
        EXPECT_STREQ(s.c_str(), "taken");
        String t;
        t.assignTake(strDupN(3, "abc", nullptr));
        EXPECT_STREQ(t.c_str(), "abc");
    }
    EXPECT_EQ(memLiveBytes(), before);
}

TEST(String, EmptyAndNullAssignment)
{
    String s("hello");
    s.assign("");
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.length, 0u);

    String t("hello");
    t.assign(static_cast<const char*>(nullptr));
    EXPECT_NE(t.data, nullptr);
    EXPECT_EQ(t.capacity, 6u);
    EXPECT_EQ(t.length, 0u);
    EXPECT_STREQ(t.c_str(), "");

    String u("hello");
    u = String();
    EXPECT_EQ(u.capacity, 6u);
    EXPECT_EQ(u.length, 0u);

    String v("hello");
    v.assign(String());
    EXPECT_EQ(v.data, nullptr);

    String w("hello");
    w.assign("abc", 0);
    EXPECT_EQ(w.data, nullptr);
}

TEST(String, AssignmentKeepsOrReplacesBuffer)
{
    String s("hello");
    char* before = s.data;
    s = "bye";
    EXPECT_EQ(s.data, before);
    EXPECT_STREQ(s.c_str(), "bye");
    s = "hello"; // 5 < 6: still fits
    EXPECT_EQ(s.data, before);
    s = "longer text";
    EXPECT_EQ(s.capacity, 12u);
    EXPECT_STREQ(s.c_str(), "longer text");
}

TEST(String, SourceInsideItself)
{
    String s("abcdefghij");
    s.assign(s.data + 3);
    EXPECT_STREQ(s.c_str(), "defghij");

    String grow("xyz");
    grow.append(grow.data, grow.length); // must reallocate while reading itself
    EXPECT_STREQ(grow.c_str(), "xyzxyz");
    grow.append(grow.data + 1, 2); // fits in place now
    EXPECT_STREQ(grow.c_str(), "xyzxyzyz");

    String self("same");
    self = self;
    EXPECT_STREQ(self.c_str(), "same");
    self.assign(self);
    EXPECT_STREQ(self.c_str(), "same");

    String h("abc");
    String* ph = &h;
    struct Fmt
    {
        static void run(String* target, const char* fmt, ...)
        {
            va_list args;
            va_start(args, fmt);
            target->formatV(fmt, args);
            va_end(args);
        }
    };
    Fmt::run(ph, "%s+%s+%s+%s", h.c_str(), h.c_str(), h.c_str(), h.c_str());
    EXPECT_STREQ(h.c_str(), "abc+abc+abc+abc");
}

TEST(String, AppendGrowth)
{
    // 14 bytes in a 15-byte buffer, one byte appended with growth 1000.
    String s = withCapacity("abcdefghijklmn", 15);
    s.append("o", 1, 1000);
    EXPECT_EQ(s.capacity, 1017u);
    EXPECT_STREQ(s.c_str(), "abcdefghijklmno");

    String t("ab");
    t.append("c", 1); // 2 + 1 + 10 + 2
    EXPECT_EQ(t.capacity, 15u);

    // One large append reserves about its own size, not growth times it.
    const std::string large(1 << 20, 'x');
    String grown("ab");
    grown.append(large.c_str(), large.size());
    EXPECT_EQ(grown.length, large.size() + 2);
    EXPECT_LE(grown.capacity, large.size() + 2 + 4096 + 2);

    String fromNothing;
    fromNothing.append("xyz", 3);
    EXPECT_EQ(fromNothing.capacity, 4u);
    fromNothing.append(static_cast<const char*>(nullptr), 5);
    EXPECT_STREQ(fromNothing.c_str(), "xyz");

    EXPECT_STREQ((String("a") + "b").c_str(), "ab");
    EXPECT_STREQ((String("a") + static_cast<const char*>(nullptr)).c_str(), "a");
    EXPECT_STREQ((String("a") + String("bc")).c_str(), "abc");
}

TEST(String, ManySmallAppendsGrowGeometrically)
{
    String s;
    u32 reallocations = 0;
    char* last = nullptr;
    for (u32 i = 0; i < 1000000; i++) {
        s.append("x", 1, 1);
        if (s.data != last) {
            reallocations++;
            last = s.data;
        }
    }
    EXPECT_EQ(s.length, 1000000u);
    EXPECT_LT(reallocations, 40u);
}

TEST(String, ReserveDiscardsText)
{
    String s("hello");
    s.reserve(3); // fits: nothing changes
    EXPECT_STREQ(s.c_str(), "hello");
    s.reserve(6);
    EXPECT_EQ(s.capacity, 8u);
    EXPECT_EQ(s.length, 0u);
    EXPECT_STREQ(s.c_str(), "");
}

TEST(String, Format)
{
    String s = String::format("%d-%s", 42, "x");
    EXPECT_STREQ(s.c_str(), "42-x");
    EXPECT_EQ(s.length, 4u);
    EXPECT_EQ(s.capacity, 1025u);
    String longer = String::format("%02000d", 7);
    EXPECT_EQ(longer.length, 2000u);
    EXPECT_EQ(longer.capacity, 2003u);
    EXPECT_EQ(longer.c_str()[1999], '7');
}

TEST(String, Comparison)
{
    EXPECT_TRUE(String().equals(String("")));
    EXPECT_TRUE(String("abc").equals("abc"));
    EXPECT_FALSE(String("abc").equals("abd"));
    EXPECT_FALSE(String("abc").equals(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(String("ABC").equalsNoCase("abc"));
    EXPECT_TRUE(String("ABC").equalsNoCase(String("aBc")));
    EXPECT_FALSE(String("ABC").equalsNoCase("abcd"));
    // Only ASCII letters fold: 0xC0 and 0xE0 stay different, '@' and '`' too.
    EXPECT_FALSE(String("\xC0").equalsNoCase("\xE0"));
    EXPECT_FALSE(String("@").equalsNoCase("`"));
    EXPECT_TRUE(String("\xC0").equalsNoCase("\xC0"));

    EXPECT_TRUE(String("Archive.TRE").endsWithNoCase(".tre"));
    EXPECT_TRUE(String("Archive.TRE").startsWithNoCase("arch"));
    EXPECT_TRUE(String("Archive.TRE").startsWithNoCase(""));
    EXPECT_FALSE(String().startsWithNoCase(""));
    EXPECT_FALSE(String("ab").startsWithNoCase("abc"));
    EXPECT_FALSE(String("ab").endsWithNoCase("xab"));
}

TEST(String, TrueWordsAndNumeric)
{
    struct Case
    {
        const char* text;
        int index;
    } cases[] = {{"true", 0}, {"YES", 1}, {"On", 2}, {"1", 3}, {"enable", 4}, {"Enabled", 5},
                 {"ACTIVE", 6}, {"2", -1}, {"", -1}, {"yes ", -1}, {"false", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(String(c.text).trueWordIndex(), c.index) << c.text;

    EXPECT_FALSE(String().isNumeric());
    EXPECT_TRUE(String(u64(4)).isNumeric());
    EXPECT_TRUE(String("0123456789").isNumeric());
    for (const char* bad : {"-1", "1e5", "0x10", "12 ", "1.5"})
        EXPECT_FALSE(String(bad).isNumeric()) << bad;
}

TEST(String, Substrings)
{
    String s("hello world");
    EXPECT_STREQ(s.from(6).c_str(), "world");
    EXPECT_STREQ(s.from(11).c_str(), "");
    EXPECT_STREQ(s.from(100).c_str(), "");
    EXPECT_STREQ(s.left(5).c_str(), "hello");
    EXPECT_STREQ(s.left(100).c_str(), "hello world");
    EXPECT_STREQ(s.left(0).c_str(), "");

    String k("0123456789");
    k.keepRange(2, 5);
    EXPECT_STREQ(k.c_str(), "234");
    String k2("0123456789");
    k2.keepRange(7, 100);
    EXPECT_STREQ(k2.c_str(), "789");
    String k3("0123");
    k3.keepRange(3, 3);
    EXPECT_STREQ(k3.c_str(), "");
    String k4("0123");
    k4.keepRange(4, 9);
    EXPECT_STREQ(k4.c_str(), "");

    String path("a/b/c.txt");
    EXPECT_STREQ(path.beforeLast("/").c_str(), "a/b");
    EXPECT_STREQ(path.afterLast("/").c_str(), "c.txt");
    EXPECT_STREQ(path.beforeLast("#").c_str(), "a/b/c.txt");
    EXPECT_STREQ(path.afterLast("#").c_str(), "a/b/c.txt");
    EXPECT_STREQ(String("x::y::z").afterLast("::").c_str(), "z");
    path.cutAtLast("/");
    EXPECT_STREQ(path.c_str(), "a/b");
    path.cutAtLast("#");
    EXPECT_STREQ(path.c_str(), "a/b");

    EXPECT_EQ(String("abcabc").indexOf("bc"), 1);
    EXPECT_EQ(String("abcabc").indexOf("bc", 2), 4);
    EXPECT_EQ(String("abcabc").lastIndexOf("bc"), 4);
    EXPECT_EQ(String("abc").indexOf("abcd"), -1);
    EXPECT_EQ(String().lastIndexOf('a'), -1);
}

TEST(String, TrimTreatsHighBytesAsBlank)
{
    struct Case
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"  a b  ", "a b"},
        {"\t\r\nx\x01", "x"},
        {"\x80\xFFmid\xA0", "mid"},
        {"   ", ""},
        {"keep", "keep"},
        {"\xC3\xA9t\xC3\xA9", "t"},
    };
    for (const Case& c : cases) {
        String s(c.in);
        s.trim();
        EXPECT_STREQ(s.c_str(), c.out) << c.in;
        EXPECT_EQ(s.length, strlen(c.out));
    }
    String none;
    none.trim();
    EXPECT_EQ(none.data, nullptr);
}

TEST(String, Unquote)
{
    struct Case
    {
        const char* in;
        bool result;
        const char* out;
    } cases[] = {{"\"a b\"", true, "a b"}, {"'x'", true, "x"}, {"'", true, ""},     {"\"", true, ""},
                 {"'x\"", false, "'x\""}, {"abc", false, "abc"}, {"", false, ""}, {"\"\"", true, ""}};
    for (const Case& c : cases) {
        String s(c.in);
        EXPECT_EQ(s.unquote(), c.result) << c.in;
        EXPECT_STREQ(s.c_str(), c.out) << c.in;
    }
}

TEST(String, NumbersToText)
{
    EXPECT_STREQ(intToString(-42).c_str(), "-42");
    EXPECT_STREQ(intToString(0).c_str(), "0");
    EXPECT_STREQ(intToString(INT32_MIN).c_str(), "-2147483648");
    EXPECT_STREQ(intToString(INT32_MAX).c_str(), "2147483647");
    EXPECT_STREQ(uintToString(4294967295u).c_str(), "4294967295");
    EXPECT_STREQ(toHexString(255).c_str(), "0xff");
    EXPECT_STREQ(toHexString(0).c_str(), "0x0");
    EXPECT_STREQ(toHexString(0xDEADBEEF).c_str(), "0xdeadbeef");
    EXPECT_STREQ(doubleToString(0.1).c_str(), "0.10000000000000001");
    EXPECT_STREQ(doubleToString(-3.5).c_str(), "-3.5");
    EXPECT_STREQ(doubleToString(0.00390625 * 3).c_str(), "0.01171875");
}

TEST(String, TextToNumbers)
{
    EXPECT_EQ(String("0x3f800000").toFloat(), 1.0f);
    EXPECT_EQ(String("0x3FC00000").toFloat(), 1.5f);
    EXPECT_EQ(String("1.5").toFloat(), 1.5f);
    EXPECT_EQ(String("-2.25").toFloat(), -2.25f);
    EXPECT_EQ(String().toFloat(), 0.0f);
    // Only a lower-case x means raw bits; otherwise atof reads the hex as a number.
    EXPECT_EQ(String("0X3f800000").toFloat(), 1065353216.0f);
    EXPECT_EQ(parseHexBits("40000000"), 2.0f);
    EXPECT_EQ(parseHexBits(""), 0.0f);

    EXPECT_EQ(parseUnsigned(""), 0u);
    EXPECT_EQ(parseUnsigned("300"), 300u);
    EXPECT_EQ(parseUnsigned("4294967295"), 4294967295u);
    EXPECT_EQ(parseUnsigned("4294967296"), 0u); // wraps modulo 2^32
    EXPECT_EQ(parseUnsigned(nullptr), 0u);
}

TEST(String, CStrings)
{
    EXPECT_EQ(strLength("abc"), 3u);
    EXPECT_EQ(strLength(nullptr), 0u);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    copyStringBounded(buffer, sizeof buffer, "abcdef");
    EXPECT_STREQ(buffer, "abc");
    copyStringBounded(buffer, sizeof buffer, "z");
    EXPECT_STREQ(buffer, "z");
    copyStringBounded(buffer, 0, "q");
    EXPECT_STREQ(buffer, "z");
    EXPECT_EQ(compareNoCase("ABC", "abc"), 0);
    EXPECT_LT(compareNoCase("abc", "ABD"), 0);
    EXPECT_GT(compareNoCase("b", "A"), 0);
    EXPECT_EQ(asciiLower(0xC4), 0xC4);
    EXPECT_EQ(asciiLower('Q'), 'q');
}

TEST(String, Paths)
{
    struct Case
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"a/./b/../c", "a/c"},
        {"../x", "../x"},
        {"\\dir\\f", "/dir/f"},
        {"a/b/../../..", ".."},
        {"a//b///c/", "a/b/c"},
        {"./.", ""},
        {"/", ""},
        {"../../a/..", "../.."},
        {"/a/../..", "/.."},
        {"C:\\GAME\\X.IFF", "C:/GAME/X.IFF"},
        {"a b/ c", "a b/ c"},
    };
    for (const Case& c : cases) {
        String p(c.in);
        normalisePath(p);
        EXPECT_STREQ(p.c_str(), c.out) << c.in;
    }

    EXPECT_STREQ(getFileName("dir/sub/file.txt").c_str(), "file.txt");
    EXPECT_STREQ(getFileName("dir\\file.txt").c_str(), "file.txt");
    EXPECT_STREQ(getFileName("file.txt").c_str(), "file.txt");
    EXPECT_STREQ(getFileName("dir/").c_str(), "");

    EXPECT_STREQ(getExtension("readme.txt").c_str(), "txt");
    EXPECT_STREQ(getExtension("dir.old/readme").c_str(), "old/readme");
    EXPECT_STREQ(getExtension("readme").c_str(), "");
    EXPECT_STREQ(getExtension("").c_str(), "");
    EXPECT_STREQ(getExtension("a.tar.gz").c_str(), "gz");

    EXPECT_STREQ(joinPath("out", "x/y.iff").c_str(), "out/x/y.iff");
    EXPECT_STREQ(joinPath("out/", "x").c_str(), "out/x");
    EXPECT_STREQ(joinPath("", "x\\y").c_str(), "x/y");
    EXPECT_STREQ(joinPath("a/b", "../c").c_str(), "a/c");
    EXPECT_STREQ(joinPath("/abs", "f").c_str(), "/abs/f");
}

TEST(StringArray, ElementsStartEmptyAndAreFreed)
{
    u64 before = memLiveBytes();
    StringArray* a = memNew<StringArray>(3u);
    ASSERT_EQ(a->count, 3u);
    EXPECT_EQ(a->byteSize, 3 * sizeof(String));
    EXPECT_EQ(a->owns, 1);
    for (const String& s : *a)
        EXPECT_EQ(s.data, nullptr);
    (*a)[1] = "middle";
    (*a)[2].append("tail with some length");
    memDelete(a);
    EXPECT_EQ(memLiveBytes(), before);
}
