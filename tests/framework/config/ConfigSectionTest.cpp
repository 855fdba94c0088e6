#include "framework/config/ConfigSection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::string saved(const ConfigSection& root)
{
    String out;
    root.save(out, String());
    return out.c_str();
}

std::string loadedAndSaved(const char* text)
{
    ConfigSection root("###");
    root.load(text);
    return saved(root);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

struct Named : HashedName
{
    int id;
    Named(const char* n, int id) : HashedName(n), id(id) {}
};
}

TEST(HashBuckets, CreateNeedsPowerOfTwo)
{
    struct Case
    {
        u32 n;
        bool ok;
    };
    const Case cases[] = {{0, false}, {1, true}, {2, true}, {3, false}, {1000, false}, {1024, true}, {1025, false}};
    for (const Case& c : cases) {
        HashBuckets<Named> table;
        EXPECT_EQ(table.create(c.n), c.ok) << c.n;
        EXPECT_EQ(table.count, c.ok ? c.n : 0u);
        if (c.ok) {
            EXPECT_EQ(table.mask, c.n - 1);
        }
        // A table that was refused takes nothing and finds nothing.
        Named* item = memNew<Named>("x", 1);
        if (!table.add(item))
            memDelete(item);
        EXPECT_EQ(table.findByName("x") != nullptr, c.ok);
        table.clearDeleting();
    }
}

TEST(HashBuckets, BucketKeepsInsertionOrderAndMatchesBytes)
{
    HashBuckets<Named> table;
    ASSERT_TRUE(table.create(1));
    const char* names[] = {"alpha", "beta", "", "alpha", "alph"};
    for (int i = 0; i < 5; i++)
        ASSERT_TRUE(table.add(memNew<Named>(names[i], i)));
    ASSERT_EQ(table.buckets[0].count, 5u);
    for (u32 i = 0; i < 5; i++)
        EXPECT_EQ(table.buckets[0][i]->id, int(i));
    // The first of two equal names wins; the empty name is a name like any other.
    EXPECT_EQ(table.findByName("alpha")->id, 0);
    EXPECT_EQ(table.findByName("")->id, 2);
    EXPECT_EQ(table.findByName("alph")->id, 4);
    EXPECT_EQ(table.findByName("ALPHA"), nullptr);
    EXPECT_EQ(table.findByName("alphab"), nullptr);
    table.clearDeleting();
    EXPECT_EQ(table.buckets[0].count, 0u);
}

TEST(ConfigSection, ValuesAsLoaded)
{
    struct Case
    {
        const char* line;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"k = plain", "k", "plain"},
        {"  k\t=\t  spaced out  ", "k", "spaced out"},
        {"k = \"quoted\"", "k", "quoted"},
        {"k = 'single'", "k", "single"},
        {"k = \"  inner  \"", "k", "inner"},
        {"k = \"", "k", ""},
        {"k = ''", "k", ""},
        {"k = \"\"", "k", ""},
        {"k = \"mixed'", "k", "\"mixed'"},
        {"k = \"\"twice\"\"", "k", "\"twice\""},
        {"k=a=b", "k", "a=b"},
        {"k =", "k", ""},
        {"=orphan", "", "orphan"},
        {";x = 1", ";x", "1"},
        {"[s] = 2", "[s]", "2"},
        {"k = abc\x80", "k", "abc"},
        {"k = abc\xff\xa0", "k", "abc"},
        {"k = a\rb\r", "k", "ab"},
        {"Common.Log.FileName = x.log", "common.log.filename", "x.log"},
    };
    for (const Case& c : cases) {
        ConfigSection root("###");
        root.load(c.line);
        EXPECT_EQ(std::string(root.findValue(c.key).c_str()), c.value) << c.line;
    }
}

TEST(ConfigSection, LinesWithoutEqualsChangeNothing)
{
    ConfigSection root("###");
    root.load("# comment\n[section]\n\n   \r\nvalue only\n");
    EXPECT_EQ(saved(root), "");
    root.load("a = 1\r\nnot a setting\r\nb = 2");
    EXPECT_STREQ(root.findValue("a").c_str(), "1");
    EXPECT_STREQ(root.findValue("b").c_str(), "2");
}

TEST(ConfigSection, FirstSpellingKeptLastValueWins)
{
    EXPECT_EQ(loadedAndSaved("Common.Log.FileName = first.log\nCOMMON.log.filename = second.log\n"),
              "Common.Log.FileName = second.log\n");
    ConfigSection root("###");
    root.setValue("Jobs.Count", "4");
    root.setValue("jobs.COUNT", "8");
    EXPECT_STREQ(root.findValue("JOBS.count").c_str(), "8");
    EXPECT_EQ(saved(root), "Jobs.Count = 8\n");
}

TEST(ConfigSection, PathsSplitAtDotsAndBlanks)
{
    struct Case
    {
        const char* line;
        const char* savedText;
    };
    const Case cases[] = {
        {"a..b = 1", "a.b = 1\n"},
        {"a...b....c = 1", "a.b.c = 1\n"},
        {".a.b = 1", "a.b = 1\n"},
        {"a b.c = 1", "a.b.c = 1\n"},
        {"a\xa0" "b.c = 1", "a.b.c = 1\n"},
        // Only the section path splits; blanks inside the value name stay.
        {"a. b = 1", "a. b = 1\n"},
        {"a. = 1", "a. = 1\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(loadedAndSaved(c.line), c.savedText) << c.line;

    ConfigSection root("###");
    root.load("a..b = 1");
    EXPECT_STREQ(root.findValue("a.b").c_str(), "1");
    EXPECT_STREQ(root.findValue("A . .b").c_str(), "1");
    EXPECT_STREQ(root.findValue("a. b").c_str(), "");
    EXPECT_EQ(root.findSection("a"), root.findSection("..A.."));
    EXPECT_EQ(root.findSection(""), &root);
    EXPECT_EQ(root.getSection("..."), &root);
}

TEST(ConfigSection, FindCreatesNothingSetCreatesPath)
{
    ConfigSection root("###");
    EXPECT_STREQ(root.findValue("vfs.readLooseFiles").c_str(), "");
    EXPECT_EQ(root.findValue("vfs.readLooseFiles").length, 0u);
    EXPECT_EQ(root.findSection("vfs"), nullptr);
    EXPECT_EQ(saved(root), "");

    root.setValue("one.two.key", "v");
    ConfigSection* one = root.findSection("one");
    ASSERT_NE(one, nullptr);
    ConfigSection* two = one->findSection("TWO");
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(root.findSection("one.two"), two);
    EXPECT_EQ(root.getSection("One.Two"), two);
    EXPECT_STREQ(two->findValue("key").c_str(), "v");
    EXPECT_EQ(saved(root), "one.two.key = v\n");

    // getSection makes what is missing, from where it is called.
    ConfigSection* jobs = root.getSection("jobs");
    ASSERT_NE(jobs, nullptr);
    jobs->setValue("threads", "3");
    EXPECT_STREQ(root.findValue("jobs.threads").c_str(), "3");
}

TEST(ConfigSection, RootLinesBeforeSectionLines)
{
    ConfigSection root("###");
    root.load("s.one = 1\nx = 2\ns.two = 3\ny = 4\nt.deep.z = 5\n");
    std::vector<std::string> lines = linesOf(saved(root));
    ASSERT_EQ(lines.size(), 5u);
    // Root values first (bucket order), then each sub-section with its prefix.
    for (int i = 0; i < 2; i++)
        EXPECT_TRUE(lines[i] == "x = 2" || lines[i] == "y = 4") << lines[i];
    std::vector<std::string> rest(lines.begin() + 2, lines.end());
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest, (std::vector<std::string>{"s.one = 1", "s.two = 3", "t.deep.z = 5"}));

    // The saved text appends to what the output already holds.
    String out("head\n");
    root.findSection("t")->save(out, "T.");
    EXPECT_STREQ(out.c_str(), "head\nT.deep.z = 5\n");
}

TEST(ConfigSection, SaveLoadSaveKeepsText)
{
    const char* text = "Common.waitJobThreshold_uS = 2500\r\n"
                       "common.log.filename = 'my log.txt'\n"
                       "common.log.consoleLevel = \"\"quoted\"\"\n"
                       "common.log.FileLevel=ERROR\n"
                       "vfs.readLooseFiles =\n"
                       "=empty key\n"
                       "x.y. = empty name\n"
                       "weird = 'a\"\n"
                       "lone = \"\"\"\n"
                       "eq = a = b\n"
                       "JOBS..count = 7\n"
                       "jobs.Count = 8\n"
                       "ignored line\n";
    std::string first = loadedAndSaved(text);
    std::string second = loadedAndSaved(first.c_str());
    EXPECT_EQ(second, first);
    EXPECT_EQ(linesOf(first).size(), 11u);

    // Values that read back differently raw are written inside one more pair of quotes.
    ConfigSection root("###");
    root.load(first.c_str());
    EXPECT_STREQ(root.findValue("common.log.consoleLevel").c_str(), "\"quoted\"");
    EXPECT_STREQ(root.findValue("lone").c_str(), "\"");
    EXPECT_STREQ(root.findValue("weird").c_str(), "'a\"");
    EXPECT_STREQ(root.findValue("common.log.filename").c_str(), "my log.txt");
    EXPECT_STREQ(root.findValue("jobs.count").c_str(), "8");
    EXPECT_STREQ(root.findValue("").c_str(), "empty key");
    EXPECT_STREQ(root.findValue("x.y.").c_str(), "empty name");
    EXPECT_NE(first.find("JOBS.count = 8\n"), std::string::npos);
    EXPECT_NE(first.find("Common.log.consoleLevel = \"\"quoted\"\"\n"), std::string::npos);
}
