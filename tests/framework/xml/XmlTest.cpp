#include "framework/log/Log.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlReader.h"
#include "framework/xml/XmlText.h"
#include "framework/xml/XmlTokenizer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace
{
// Collects the log lines written while it lives, and keeps them off the console.
struct LogCapture
{
    static LogCapture* current;
    LogListener listener{};
    std::vector<std::string> lines;
    u8 savedConsoleLevel;

    LogCapture()
    {
        listener.fn = &LogCapture::hook;
        listener.next = logListeners;
        logListeners = &listener;
        current = this;
        savedConsoleLevel = consoleLogLevel;
        consoleLogLevel = LOG_FATAL + 1;
    }
    ~LogCapture()
    {
        logListeners = listener.next;
        current = nullptr;
        consoleLogLevel = savedConsoleLevel;
    }
    static void hook(u8 level, const char* channel, const char* message)
    {
        if (current)
            current->lines.push_back(std::string(logLevelName(level)) + " " + channel + " > " + message);
    }
};
LogCapture* LogCapture::current = nullptr;

ByteArray* bytesOf(const std::string& text)
{
    return memNew<ByteArray>(reinterpret_cast<const u8*>(text.data()), u32(text.size()));
}

// Parses text; null on failure, with the log lines in `log`.
PtrArray<XmlElement>* parse(const std::string& text, std::vector<std::string>* log = nullptr)
{
    LogCapture capture;
    ByteArray* bytes = bytesOf(text);
    PtrArray<XmlElement>* doc = parseXml(*bytes);
    memDelete(bytes);
    if (log)
        *log = capture.lines;
    return doc;
}

std::string write(const PtrArray<XmlElement>& doc)
{
    String out = writeXml(doc);
    return std::string(out.c_str(), out.length);
}

std::string str(const String& s)
{
    return std::string(s.c_str(), s.length);
}

bool sameElement(const XmlElement& a, const XmlElement& b)
{
    if (!a.name.equals(b.name) || !a.value.equals(b.value) || a.attributes.count != b.attributes.count ||
        a.children.count != b.children.count)
        return false;
    for (u32 i = 0; i < a.attributes.count; i++) {
        if (!a.attributes[i]->name.equals(b.attributes[i]->name) ||
            !a.attributes[i]->value.equals(b.attributes[i]->value))
            return false;
    }
    for (u32 i = 0; i < a.children.count; i++) {
        if (!sameElement(*a.children[i], *b.children[i]))
            return false;
    }
    return true;
}

bool sameDocument(const PtrArray<XmlElement>& a, const PtrArray<XmlElement>& b)
{
    if (a.count != b.count)
        return false;
    for (u32 i = 0; i < a.count; i++) {
        if (!sameElement(*a[i], *b[i]))
            return false;
    }
    return true;
}

// Random documents. With `plain` set they are well-formed plain-ASCII XML with one root;
// otherwise names, values and attributes use every byte XML can carry.
class TreeMaker
{
public:
    std::mt19937 rng;
    bool plain;

    TreeMaker(u32 seed, bool plainAscii) : rng(seed), plain(plainAscii) {}

    u32 below(u32 n) { return std::uniform_int_distribution<u32>(0, n - 1)(rng); }

    String name()
    {
        static const char first[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
        static const char rest[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789-.";
        std::string s(1, first[below(sizeof(first) - 1)]);
        u32 n = below(8);
        for (u32 i = 0; i < n; i++) {
            if (plain || below(4)) {
                s += rest[below(sizeof(rest) - 1)];
            } else {
                // Any visible byte that does not end a name inside a tag.
                char c;
                do
                    c = char(0x21 + below(0x5E));
                while (strchr("<>/=\"'?", c));
                s += c;
            }
        }
        return String(s.c_str());
    }

    char valueByte(bool blankAllowed)
    {
        for (;;) {
            char c = plain ? char(0x20 + below(0x5F)) : char(1 + below(255));
            // Control bytes but tab, line feed and carriage return are no XML in any form.
            if (c == '<' || (plain && (c == '&' || c == ']')) || (u8(c) < 0x20 && !xmlAllowsControl(u8(c))))
                continue;
            if (!blankAllowed && (c == 0x20 || (u8(c) <= 0x20 && u8(c) != 0) || u8(c) >= 0x80))
                continue;
            return c;
        }
    }

    String text()
    {
        u32 n = 1 + below(20);
        std::string s;
        for (u32 i = 0; i < n; i++)
            s += valueByte(i != 0 && i != n - 1);
        if (plain && below(4) == 0)
            s.insert(s.size() / 2, "\n  line two ");
        return String(s.c_str());
    }

    String attributeValue()
    {
        u32 n = below(12);
        std::string s;
        for (u32 i = 0; i < n; i++) {
            char c;
            do
                c = plain ? char(0x20 + below(0x5F)) : char(1 + below(255));
            while (c == '"' || (plain && (c == '<' || c == '&')) || (u8(c) < 0x20 && !xmlAllowsControl(u8(c))));
            s += c;
        }
        return String(s.c_str());
    }

    void fill(XmlElement& e, u32 depth)
    {
        u32 attributes = below(4);
        for (u32 i = 0; i < attributes; i++) {
            String attributeName = name();
            String found;
            if (e.getAttribute(attributeName, found))
                continue;
            e.addAttribute(attributeName, attributeValue());
        }
        if (!plain && e.attributes.count && below(8) == 0) {
            // A duplicate, as a parsed document may hold.
            XmlAttribute* twin = memNew<XmlAttribute>();
            twin->name = e.attributes[0]->name;
            twin->value = attributeValue();
            e.attributes.push(twin);
        }
        u32 children = depth < 5 ? below(5 - depth) + (depth == 0 ? 1 : 0) : 0;
        for (u32 i = 0; i < children; i++)
            fill(*e.addChild(name()), depth + 1);
        if (!children && below(2))
            e.value = text();
    }

    void document(PtrArray<XmlElement>& doc)
    {
        u32 roots = plain ? 1 : 1 + below(3);
        for (u32 i = 0; i < roots; i++)
            fill(*addXmlElement(doc, name()), 0);
    }
};

std::string tempPath(const std::string& leaf)
{
    return (fs::temp_directory_path() / ("mordax-xml-" + std::to_string(getpid()) + "-" + leaf)).string();
}
}

TEST(Xml, WriterLayoutIsExact)
{
    PtrArray<XmlElement> doc;
    addXmlElement(doc, String("?xml"))->addAttribute(String("version"), String("1.0"));
    XmlElement* root = addXmlElement(doc, String("IFF"));
    root->addAttribute(String("Version"), String("1"));
    XmlElement* form = root->addChild(String("FORM"));
    form->addAttribute(String("type"), String("SHIP"));
    form->addChild(String("v"))->value = String("5");
    form->addChild(String("empty"))->addAttribute(String("a"), String("b"));
    XmlElement* mixed = form->addChild(String("mixed"));
    mixed->value = String("dropped, since the element has children");
    mixed->addChild(String("k"))->value = String("a & b < c");
    form->addEmptyAttribute(String("note"));
    const char* want = "<?xml version=\"1.0\"?>\n"
                       "<IFF Version=\"1\">\n"
                       " <FORM type=\"SHIP\" note=\"\">\n"
                       "  <v>\n"
                       "   5\n"
                       "  </v>\n"
                       "  <empty a=\"b\"/>\n"
                       "  <mixed>\n"
                       "   <k>\n"
                       "    a &amp; b &lt; c\n"
                       "   </k>\n"
                       "  </mixed>\n"
                       " </FORM>\n"
                       "</IFF>\n";
    EXPECT_EQ(write(doc), want);

    String single;
    ASSERT_TRUE(form->children[0]->write(single, 1));
    EXPECT_EQ(str(single), " <v>\n  5\n </v>\n");
    destroyXmlElements(doc);
}

TEST(Xml, ParsesWhatTheModelHolds)
{
    PtrArray<XmlElement>* doc = parse("\xef\xbb\xbf<?xml version=\"1.0\"?>\n"
                                      "<root a=\"x < y > z / w = v\" b = \"  spaced  \" a=\"second\">\n"
                                      "  <v>\t  two\n   lines \xc3\xa9 </v>\n"
                                      "  <e/><f></f>\n"
                                      "  <g><!-- a comment is passed over --><!--x--></g>\n"
                                      "  <h>&amp; <![CDATA[<x> & ]]]><![CDATA[ y]]> z </h>\n"
                                      "  <i>\xc3\xa9t\xc3\xa9</i>\n"
                                      "  <j>0x01 0x02 <!-- note --> 0x03 <!-- end --> </j>\n"
                                      "  <k>x<!-- a > b -->&amp;y</k>\n"
                                      "</root>");
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->count, 2u);
    EXPECT_EQ(str((*doc)[0]->name), "?xml");
    String version;
    EXPECT_TRUE((*doc)[0]->getAttribute(String("version"), version));
    EXPECT_EQ(str(version), "1.0");
    const XmlElement& root = *(*doc)[1];
    ASSERT_EQ(root.attributes.count, 3u);
    String a("untouched");
    EXPECT_TRUE(root.getAttribute(String("a"), a));
    EXPECT_EQ(str(a), "x < y > z / w = v");
    EXPECT_EQ(str(root.attributes[1]->value), "  spaced  ");
    EXPECT_EQ(str(root.attributes[2]->value), "second");
    String missing("untouched");
    EXPECT_FALSE(root.getAttribute(String("A"), missing));
    EXPECT_EQ(str(missing), "untouched");

    ASSERT_EQ(root.children.count, 8u);
    // Blanks are trimmed from both ends of text; UTF-8 of U+0080 to U+00FF is its one byte, a
    // comment is passed over (within text too), a reference is its byte, a CDATA section is its
    // text as it stands, joined with the text around it.
    EXPECT_EQ(str(root.children[0]->value), "two\n   lines \xE9");
    EXPECT_EQ(str(root.children[1]->name), "e");
    EXPECT_EQ(str(root.children[2]->value), "");
    EXPECT_EQ(str(root.children[3]->value), "");
    EXPECT_EQ(root.children[3]->children.count, 0u);
    EXPECT_EQ(str(root.children[4]->value), "& <x> & ] y z");
    EXPECT_EQ(str(root.children[5]->value), "\xE9t\xE9");
    EXPECT_EQ(str(root.children[6]->value), "0x01 0x02  0x03");
    EXPECT_EQ(str(root.children[7]->value), "x&y");
    memDelete(doc);

    for (const char* blankOnly : {"", "   \n\t\r\n  ", "\xef\xbb\xbf"}) {
        PtrArray<XmlElement>* none = parse(blankOnly);
        ASSERT_NE(none, nullptr);
        EXPECT_EQ(none->count, 0u);
        memDelete(none);
    }
}

// A document is read as its declaration says: its encoding, attribute values as XML reads them.
TEST(Xml, ReadsAsTheDeclarationSays)
{
    struct Case
    {
        std::string text;
        const char* value;     // of the element after the declaration; null when refused
        const char* attribute; // its attribute "a"
    } cases[] = {
        {"<?xml version='1.0' encoding='latin-1'?><e a='caf\xC3\xA9'>caf\xC3\xA9 &#xE9;</e>", "caf\xC3\xA9 \xE9",
         "caf\xC3\xA9"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><e a=\"\xE9\">\xE9</e>", "\xE9", "\xE9"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><e a=\"\xC3\xA9\">\xC3\xA9</e>", "\xE9", "\xE9"},
        {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><e a='x &amp; y'>&#233;</e>", "\xE9", "x & y"},
        {"<?xml version=\"1.0\" encoding=\"us-ascii\"?><e>\xE9</e>", nullptr, nullptr},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><e>x</e>", nullptr, nullptr},
        {"<e a=\"one\ttwo\nthree\r\nfour &#9;&#10;&#13;\">x</e>", "x", "one two three four \t\n\r"},
        {"<e a='x &amp; y'>x</e>", "x", "x & y"},
        // Decoded values among plain ones and repeats, in a plain tag and in one that is not.
        {"<e b='&#9;&#9;&#9;' c='raw' a='&amp;&amp;' a='second'>x</e>", "x", "&&"},
        {"<e b='&#9;&#9;&#9;' c='raw' a='&amp;&amp;' a='second' ?>", "", "&&"},
        // Blanks for a raw tab and line feed also in a value that needs nothing else.
        {"<e a=\"one\ttwo\nthree\">x</e>", "x", "one two three"},
        // Instructions say nothing; a section is text like any other, trimmed with it.
        {"<?xml version='1.0'?><?app k='v'?><e a='x'><?app free text?> v<![CDATA[ w ]]><?b?> </e><?c?>", "v w",
         "x"},
        {"<e a='x'>\n <![CDATA[\n \"v\"\n ]]>\n</e>", "\"v\"", "x"},
        {"<e a='A&#0;B'>x</e>", nullptr, nullptr},
        {"<e a='x'>&#x1F;</e>", nullptr, nullptr},
        {"<e a='x'>\x02</e>", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        PtrArray<XmlElement>* doc = parse(c.text, &log);
        ASSERT_EQ(doc != nullptr, c.value != nullptr) << c.text;
        if (!doc)
            continue;
        const XmlElement* e = (*doc)[doc->count - 1];
        EXPECT_EQ(str(e->value), c.value) << c.text;
        String a;
        EXPECT_TRUE(e->getAttribute(String("a"), a) || !c.attribute);
        if (c.attribute) {
            EXPECT_EQ(str(a), c.attribute) << c.text;
        }
        memDelete(doc);
    }
    const std::pair<std::string, const char*> unreadable[] = {
        {"<?xml version='1.0' encoding='KOI8-R'?><e/>", "KOI8-R"},
        {std::string("\xFF\xFE<\0e\0/\0>\0", 10), "UTF-16"},
        {std::string("\0<\0e\0/\0>", 8), "UTF-16"},
        {std::string("\0\0\xFE\xFF\0\0\0<", 8), "UTF-32"},
    };
    for (const auto& [text, encoding] : unreadable) {
        XmlReader reader(text.data(), text.size());
        reader.setQuiet(true);
        EXPECT_EQ(reader.next(), XmlReader::FAILED) << encoding;
        EXPECT_EQ(str(reader.unreadableEncoding()), encoding);
    }
}

TEST(Xml, ErrorsNameTheirLine)
{
    struct Case
    {
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"<a>x<b/>y</a>", "Parsing content error in element 'a'! (Line 1)"},
        {"<a>x<![CDATA[y</a>", "Unclosed CDATA section in element 'a'! (Line 1)"},
        {"<a></b>", "Invalid closing tag 'b' in element 'a'! (Line 1)"},
        {"<a>\n <b>\n  x\n </c>\n</a>", "Invalid closing tag 'c' in element 'b'! (Line 4)"},
        {"<a b=c/>", "Expected quoted value for attribute 'b'! (Line 1)"},
        {"<a\n\n b>", "Expected assignment for attribute 'b'! (Line 3)"},
        {"<a b \"c\"/>", "Expected assignment for attribute 'b'! (Line 1)"},
        {"<a></a x>", "Expected final closing '>' in element 'a'! (Line 1)"},
        {"hello", "Found 'hello' instead of next tag! (Line 1)"},
        {"<a/>\n\nhello <b/>", "Found 'hello' instead of next tag! (Line 3)"},
        {"<a>\n\xe2\x82\xac</a>", "The character U+20AC cannot be stored: each character must be one byte (U+0000 "
                                 "to U+00FF)! (Line 2)"},
        {"<a b=\"&#x100;\"/>", "The character U+0100 cannot be stored: each character must be one byte (U+0000 to "
                               "U+00FF)! (Line 1)"},
        {"<a", "Unexpected end of data while parsing element 'a'!"},
        {"<a>text", "Unexpected end of data while parsing element 'a'!"},
        {"<a><b></b>", "Unexpected end of data while parsing element 'a'!"},
        {"<a></a", "Unexpected end of data while parsing element 'a'!"},
        {"<a b", "Unexpected end of data while parsing attribute 'b'!"},
        {"<a b=", "Unexpected end of data while parsing attribute 'b'!"},
        {"<a/>\n<", "Unexpected end of data after '<'! (Line 2)"},
        {"<a>\nx", "Unexpected end of data while parsing element 'a'!"},
        {"<a>\n<b>x\0y</b></a>"s, "Unexpected NUL byte in XML text! (Line 2)"},
        {"<a/>\0"s, "Unexpected NUL byte in XML text! (Line 1)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        PtrArray<XmlElement>* doc = parse(c.text, &log);
        EXPECT_EQ(doc, nullptr) << c.text;
        memDelete(doc);
        EXPECT_EQ(log, std::vector<std::string>{std::string("ERROR XML > ") + c.error}) << c.text;
    }
}

TEST(Xml, DuplicateAttributesAreRefusedWhenAdded)
{
    LogCapture capture;
    XmlElement e{String("e")};
    EXPECT_NE(e.addAttribute(String("x"), String("1")), nullptr);
    EXPECT_EQ(e.addAttribute(String("x"), String("2")), nullptr);
    EXPECT_NE(e.addAttribute(String("X"), String("3")), nullptr);
    EXPECT_EQ(e.addEmptyAttribute(String("x")), nullptr);
    EXPECT_EQ(e.attributes.count, 2u);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"ERROR XML > Element already has a value for attribute 'x'!",
                                                       "ERROR XML > Element already has a value for attribute 'x'!"}));
}

TEST(Xml, NestingIsBoundedEverywhere)
{
    auto nested = [](u32 levels) {
        std::string s;
        for (u32 i = 0; i < levels; i++)
            s += "<a>";
        s += "x";
        for (u32 i = 0; i < levels; i++)
            s += "</a>";
        return s;
    };
    // 256 levels is the most a document may nest, written and read back alike.
    std::vector<std::string> log;
    PtrArray<XmlElement>* deepest = parse(nested(256), &log);
    ASSERT_NE(deepest, nullptr);
    EXPECT_TRUE(log.empty());
    std::string written = write(*deepest);
    PtrArray<XmlElement>* again = parse(written);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(sameDocument(*deepest, *again));
    memDelete(again);

    // One level more is refused by the reader and by the writer.
    EXPECT_EQ(parse(nested(257), &log), nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"ERROR XML > Element 'a' is nested more than 256 levels deep! (Line 1)"});
    XmlElement* bottom = (*deepest)[0];
    while (bottom->children.count)
        bottom = bottom->children[0];
    bottom->addChild(String("z"));
    {
        LogCapture capture;
        bool ok = true;
        EXPECT_EQ(str(writeXml(*deepest, &ok)), "");
        EXPECT_FALSE(ok);
        EXPECT_EQ(capture.lines, std::vector<std::string>{"ERROR XML > Element 'z' is nested more than 256 levels deep!"});
    }
    memDelete(deepest);

    std::string hostile;
    for (int i = 0; i < 200000; i++)
        hostile += "<a>\n";
    EXPECT_EQ(parse(hostile, &log), nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"ERROR XML > Element 'a' is nested more than 256 levels deep! (Line 257)"});

    // A tree built in memory deeper than any document is still freed without recursion.
    u64 before = memLiveBytes();
    PtrArray<XmlElement> doc;
    XmlElement* e = addXmlElement(doc, String("a"));
    for (int i = 0; i < 200000; i++)
        e = e->addChild(String("a"));
    destroyXmlElements(doc);
    EXPECT_EQ(memLiveBytes(), before);
}

TEST(Xml, RandomTreesRoundTrip)
{
    TreeMaker maker(20240607u, false);
    for (int i = 0; i < 500; i++) {
        PtrArray<XmlElement> doc;
        maker.document(doc);
        std::string first = write(doc);
        std::vector<std::string> log;
        PtrArray<XmlElement>* back = parse(first, &log);
        ASSERT_NE(back, nullptr) << "tree " << i << ":\n" << first << (log.empty() ? "" : log[0]);
        EXPECT_TRUE(sameDocument(doc, *back)) << "tree " << i << ":\n" << first;
        EXPECT_EQ(write(*back), first) << "tree " << i;
        memDelete(back);
        // Read in place (values looking into the text), and streamed (each child of a
        // top-level element handed over as soon as it is whole): the same document.
        const String text(first.c_str(), first.size());
        PtrArray<XmlElement>* inPlace = parseXmlInPlace(text);
        ASSERT_NE(inPlace, nullptr);
        EXPECT_TRUE(sameDocument(doc, *inPlace)) << "tree " << i;
        memDelete(inPlace);
        PtrArray<XmlElement> taken(true);
        const XmlChildSink sink{[](void* list, XmlElement* child) {
                                    return static_cast<PtrArray<XmlElement>*>(list)->push(child) != nullptr;
                                },
                                &taken};
        PtrArray<XmlElement>* streamed = parseXml(text, &sink);
        ASSERT_NE(streamed, nullptr);
        u32 next = 0;
        for (u32 top = 0; top < doc.count; top++) {
            EXPECT_EQ((*streamed)[top]->children.count, 0u);
            for (const XmlElement* child : doc[top]->children)
                EXPECT_TRUE(next < taken.count && sameElement(*child, *taken[next++])) << "tree " << i;
        }
        EXPECT_EQ(next, taken.count);
        memDelete(streamed);
        destroyXmlElements(doc);
    }
}

TEST(Xml, XmllintAcceptsTheWritersOutput)
{
    std::vector<std::string> files;
    TreeMaker maker(77u, true);
    for (int i = 0; i < 40; i++) {
        PtrArray<XmlElement> doc;
        if (i % 4 == 0)
            addXmlElement(doc, String("?xml"))->addAttribute(String("version"), String("1.0"));
        maker.document(doc);
        files.push_back(tempPath(std::to_string(i) + ".xml"));
        std::ofstream(files.back(), std::ios::binary) << write(doc) << "\n";
        destroyXmlElements(doc);
    }
    std::string command = "xmllint --noout";
    for (const std::string& f : files)
        command += " '" + f + "'";
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        output.append(buffer, n);
    int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output, "");
    for (const std::string& f : files)
        fs::remove(f);
}

TEST(Xml, TokenizerSplitsTagsAndText)
{
    XmlTokenizer t(String("<?xml v=\"1\"?>\n<a b=\"x y\">  text  here </a>"));
    std::vector<std::string> tokens;
    while (t.hasMore())
        tokens.push_back(str(t.next()));
    EXPECT_EQ(tokens, (std::vector<std::string>{"<", "?xml", "v", "=", "\"1\"", "?", ">", "<", "a", "b", "=",
                                                "\"x y\"", ">", "text  here", "<", "/", "a", ">"}));
    EXPECT_EQ(t.line, 2u);
}

TEST(Xml, DamagedDocumentsFailCleanly)
{
    // Every refusal says why; nothing crashes or leaks on the way (the sanitizers watch).
    TreeMaker maker(991u, false);
    std::mt19937 rng(5u);
    static const char damage[] = "<>/=\"?! \n\0ab";
    u32 refused = 0;
    for (int i = 0; i < 2000; i++) {
        PtrArray<XmlElement> doc;
        maker.document(doc);
        std::string text = write(doc);
        destroyXmlElements(doc);
        u32 edits = 1 + rng() % 4;
        for (u32 e = 0; e < edits && !text.empty(); e++) {
            size_t at = rng() % text.size();
            char c = damage[rng() % (sizeof(damage) - 1)];
            switch (rng() % 3) {
            case 0: text[at] = c; break;
            case 1: text.insert(at, 1, c); break;
            default: text.erase(at, 1 + rng() % 8); break;
            }
        }
        std::vector<std::string> log;
        PtrArray<XmlElement>* back = parse(text, &log);
        if (!back) {
            refused++;
            ASSERT_EQ(log.size(), 1u) << text;
            EXPECT_EQ(log[0].rfind("ERROR XML > ", 0), 0u) << log[0];
        }
        memDelete(back);
    }
    EXPECT_GT(refused, 1000u);
}
