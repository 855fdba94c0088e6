#include "framework/io/DirectoryTree.h"
#include "framework/vfs/SubStream.h"
#include "tests/framework/threads/LogCapture.h"
#include "tests/framework/vfs/PackageTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::vector<PackageFileEntry> sampleEntries()
{
    std::string ramp;
    for (int i = 0; i < 300; i++)
        ramp.push_back(char(i * 7));
    return {
        {"readme.txt", "hello, package\n"},
        {"DATA/Ships/fighter.iff", "FORM\0\0\0\4SHIP"},
        {"data/empty.bin", ""},
        {"x/y/z/ramp.bin", ramp},
    };
}

std::string readAll(Stream* s)
{
    std::string out(size_t(s->bytesLeft()), '\0');
    u64 n = s->read(out.data(), out.size());
    out.resize(size_t(n));
    return out;
}

struct RoundTrip
{
    int version;
    std::string key;
};

class PackageRoundTrip : public testing::TestWithParam<RoundTrip>
{
};
}

TEST_P(PackageRoundTrip, EveryEntryReadsBackWhole)
{
    LogCapture log;
    const RoundTrip& p = GetParam();
    const auto entries = sampleEntries();
    const std::string file = p.version == 1 ? writePackageV1(entries, p.key) : writePackageV2(entries, p.key);
    Package* pkg = storedPackage("round", file, p.key);
    ASSERT_TRUE(pkg->load());
    ASSERT_EQ(pkg->entries.count, entries.size());
    for (u32 i = 0; i < entries.size(); i++) {
        SCOPED_TRACE(entries[i].name);
        const PackageEntry* e = pkg->entries[i];
        EXPECT_EQ(std::string(e->name.c_str()), entries[i].name);
        EXPECT_EQ(e->storedSize, entries[i].stored.size());
        EXPECT_EQ(e->unpackedSize, e->storedSize);
        const String path(entries[i].name.c_str());
        EXPECT_TRUE(pkg->exists(path));
        ByteArray* bytes = pkg->readFile(path);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(toString(bytes), entries[i].stored);
        memDelete(bytes);
        Stream* s = pkg->openFile(path);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->size(), entries[i].stored.size());
        EXPECT_EQ(readAll(s), entries[i].stored);
        EXPECT_TRUE(s->atEnd());
        memDelete(s);
    }
    EXPECT_EQ(log.lines(LOG_WARN), std::vector<std::string>{});
    EXPECT_EQ(log.messages("Package"), std::vector<std::string>{"'round' contains 4 files."});
    memDelete(pkg);
}

INSTANTIATE_TEST_SUITE_P(VersionsAndKeys, PackageRoundTrip,
                         testing::Values(RoundTrip{1, ""}, RoundTrip{2, ""}, RoundTrip{1, "\x5a\xa5\x3c"},
                                         RoundTrip{2, "\x5a\xa5\x3c"}, RoundTrip{2, std::string("\x01\x00\xff", 3)},
                                         RoundTrip{1, "k"}, RoundTrip{2, "a longer key than most"}));

TEST(Package, NamesMatchWithoutCaseButWholly)
{
    Package* pkg = storedPackage("names", writePackageV2(sampleEntries()));
    ASSERT_TRUE(pkg->load());
    EXPECT_EQ(pkg->findEntry(String("README.TXT")), pkg->entries[0]);
    EXPECT_EQ(pkg->findEntry(String("data/ships/FIGHTER.IFF")), pkg->entries[1]);
    EXPECT_EQ(pkg->findEntry(String("readme.tx")), nullptr);
    EXPECT_EQ(pkg->findEntry(String("readme.txt ")), nullptr);
    EXPECT_FALSE(pkg->exists(String("nothing")));
    EXPECT_EQ(pkg->readFile(String("nothing")), nullptr);
    EXPECT_EQ(pkg->openFile(String("nothing")), nullptr);
    memDelete(pkg);
}

TEST(Package, ListsItsDirectoriesAndFiles)
{
    Package* pkg = storedPackage("tree", writePackageV1(sampleEntries()));
    ASSERT_TRUE(pkg->load());
    DirectoryTree tree;
    pkg->listDirectories(&tree);
    // Directory names keep their case; "DATA" and "data" are two directories.
    ASSERT_EQ(tree.files.count, 1u);
    EXPECT_STREQ(tree.files[0]->name.c_str(), "readme.txt");
    ASSERT_EQ(tree.directories.count, 3u);
    EXPECT_STREQ(tree.directories[0]->name.c_str(), "DATA");
    EXPECT_STREQ(tree.directories[0]->directories[0]->name.c_str(), "Ships");
    EXPECT_STREQ(tree.directories[0]->directories[0]->files[0]->path.c_str(), "DATA/Ships/fighter.iff");
    EXPECT_STREQ(tree.directories[1]->name.c_str(), "data");
    EXPECT_STREQ(tree.directories[1]->files[0]->name.c_str(), "empty.bin");
    const DirectoryTree* z = tree.directories[2]->directories[0]->directories[0];
    EXPECT_STREQ(z->name.c_str(), "z");
    EXPECT_EQ(z->level, 3u);
    EXPECT_STREQ(z->files[0]->name.c_str(), "ramp.bin");
    memDelete(pkg);
}

// Entry bytes are scrambled from each entry's own start, whatever its offset in the file.
TEST(Package, KeyRestartsAtEveryEntry)
{
    const std::string key = "\x11\x22\x33";
    std::vector<PackageFileEntry> entries = {{"a", "12345"}, {"b", "abcdefgh"}};
    const std::string file = writePackageV2(entries, key);
    Package* pkg = storedPackage("keyed", file, key);
    ASSERT_TRUE(pkg->load());
    const PackageEntry* b = pkg->entries[1];
    ASSERT_EQ(b->offset, 5u);
    for (u32 i : {0u, 3u, 6u})
        EXPECT_EQ(u8(file[b->offset + i]), u8(entries[1].stored[i] ^ key[0])) << i;
    ByteArray* bytes = pkg->readFile(String("b"));
    EXPECT_EQ(toString(bytes), "abcdefgh");
    memDelete(bytes);
    memDelete(pkg);
}

namespace
{
struct Layout
{
    const char* what;
    std::string file;
    bool loads;
    std::vector<std::string> entries; // name:offset:size
    std::vector<std::string> errors;  // lines on "Package" at ERROR
    std::string key = "";
};

std::string toc1(std::vector<std::pair<u32, std::string>> records, size_t extra = 0)
{
    std::string toc(1, '\1');
    for (auto& r : records) {
        putU32(toc, r.first);
        toc += r.second;
        toc.push_back('\0');
    }
    toc.append(extra, '\0');
    return toc;
}

std::string withTrailer(const std::string& body, u32 tocLength)
{
    std::string out = body;
    putU32(out, tocLength);
    return out;
}

std::vector<Layout> layouts()
{
    const std::string data(20, 'd');
    std::string v2two(1, '\2');
    putU32(v2two, 0);
    putU32(v2two, 8);
    v2two += '\0';
    v2two += "first";
    v2two.push_back('\0');
    putU32(v2two, 8);
    putU32(v2two, 12);
    v2two += '\0';
    v2two += "second";
    v2two.push_back('\0');
    std::string runaway(1, '\1');
    putU32(runaway, 0);
    // An odd table length: read on as table, the trailer's bytes are unscrambled with the other
    // key byte and none of them comes out 0.
    runaway += "abcd";
    std::string keyedRunaway = packageFile(data, runaway, "\x11\x22");
    std::string v2Cut(1, '\2');
    putU32(v2Cut, 0);
    putU32(v2Cut, 20);
    v2Cut += '\0';
    v2Cut += "only";
    v2Cut.push_back('\0');
    v2Cut.append(2, '\0');
    return {
        {"shorter than its length", "ab", false, {}, {"Length read failed for 'p'!"}},
        {"length as long as the file", withTrailer(data, 24), false, {}, {"Failed TOC sanity check for 'p'!"}},
        {"length past the file", withTrailer(data, 22), false, {}, {"Failed TOC sanity check for 'p'!"}},
        {"length of 4 GiB", withTrailer(data, 0xFFFFFFFFu), false, {}, {"Failed TOC sanity check for 'p'!"}},
        {"version 0", packageFile(data, std::string(1, '\0')), false, {}, {"Bad package version 0 for 'p'!"}},
        {"version 3", packageFile(data, std::string("\3\0\0\0\0", 5)), false, {}, {"Bad package version 3 for 'p'!"}},
        {"version 1 from offset 0", packageFile(data, toc1({{0, "a"}, {12, "b"}})), true, {"a:0:12", "b:12:8"}, {}},
        {"version 1 from offset 4", packageFile(data, toc1({{4, "a"}, {12, "b"}})), true,
         {":0:4", "a:4:8", "b:12:8"}, {}},
        {"version 1 with a record at 0 later", packageFile(data, toc1({{4, "a"}, {0, "z"}, {12, "b"}})), true,
         {":0:4", "z:0:12", "b:12:8"}, {}},
        {"table of one byte", packageFile(data, std::string(1, '\1')), true, {":0:20"}, {}},
        {"table one byte longer than its records", packageFile(data, toc1({{0, "a"}}, 1)), true, {"a:0:20"},
         {"TOC corrupt for 'p'!"}},
        {"version 2, two records", packageFile(data, v2two), true, {"first:0:8", "second:8:12"}, {}},
        {"name running off the end", keyedRunaway, false, {}, {"EOF before string terminator in 'p'!"}, "\x11\x22"},
        {"version 2 next offset cut off", packageFile(data, v2Cut), true, {}, {"TOC corrupt for 'p'!"}},
        {"version 2 without a first offset", packageFile(data, std::string("\2\0\0", 3)), false, {},
         {"EOF before string terminator in 'p'!"}},
        // Hostile tables: every entry must lie in the data before the table.
        {"version 1 offset past the data", packageFile(data, toc1({{0, "a"}, {21, "b"}})), false, {},
         {"Entry 'a' lies outside the data of 'p'!"}},
        {"version 1 offsets going back", packageFile(data, toc1({{8, "a"}, {4, "b"}})), false, {},
         {"Entry 'a' lies outside the data of 'p'!"}},
        {"version 1 offset near 4 GiB", packageFile(data, toc1({{0xFFFFFFF0u, "a"}})), false, {},
         {"Entry '' lies outside the data of 'p'!"}},
    };
}

std::vector<Layout> hostileV2()
{
    const std::string data(20, 'd');
    std::vector<Layout> out;
    for (u32 first : {0u, 30u, 0xFFFFFFFFu}) {
        for (u32 next : {0u, 10u, 21u, 0x80000000u}) {
            std::string toc(1, '\2');
            putU32(toc, first);
            putU32(toc, 100);
            toc += '\0';
            toc += "x";
            toc.push_back('\0');
            putU32(toc, next);
            putU32(toc, 100);
            toc += '\0';
            toc += "y";
            toc.push_back('\0');
            bool ok = first <= next && next <= 20;
            Layout l{"version 2 offsets", packageFile(data, toc), ok, {}, {}};
            // The first entry ends where the second begins, so it is the one found out.
            if (ok)
                l.entries = {"x:" + std::to_string(first) + ":" + std::to_string(next - first),
                             "y:" + std::to_string(next) + ":" + std::to_string(20 - next)};
            else
                l.errors = {"Entry 'x' lies outside the data of 'p'!"};
            out.push_back(l);
        }
    }
    return out;
}

void checkLayout(const Layout& l)
{
    SCOPED_TRACE(l.what);
    LogCapture log;
    Package* pkg = storedPackage("p", l.file, l.key);
    EXPECT_EQ(pkg->load(), l.loads);
    std::vector<std::string> got;
    for (PackageEntry* e : pkg->entries)
        got.push_back(std::string(e->name.c_str()) + ":" + std::to_string(e->offset) + ":" +
                      std::to_string(e->storedSize));
    if (l.loads) {
        EXPECT_EQ(got, l.entries);
    }
    std::vector<std::string> errors;
    for (const std::string& line : log.lines(LOG_ERROR))
        errors.push_back(line.substr(line.find(" > ") + 3));
    EXPECT_EQ(errors, l.errors);
    // Nothing of a refused package is left open.
    EXPECT_EQ(pkg->source->stream, nullptr);
    memDelete(pkg);
}
}

TEST(Package, TableLayoutsAndDamage)
{
    for (const Layout& l : layouts())
        checkLayout(l);
}

TEST(Package, HostileOffsetsAreRefusedBeforeAnyRead)
{
    for (const Layout& l : hostileV2())
        checkLayout(l);
}

// A claimed size of 4 GiB for a small compressed entry allocates nothing and reads nothing.
TEST(Package, CompressedEntryWithoutDecompressorGivesNothing)
{
    LogCapture log;
    Package* pkg = storedPackage("packed", writePackageV2({{"big", "tiny", 0xFFFFFFF0u, 3}}));
    ASSERT_TRUE(pkg->load());
    EXPECT_EQ(pkg->entries[0]->unpackedSize, 0xFFFFFFF0u);
    EXPECT_EQ(pkg->readFile(String("big")), nullptr);
    EXPECT_EQ(pkg->openFile(String("big")), nullptr);
    EXPECT_TRUE(log.lines(LOG_WARN).empty());
    memDelete(pkg);
}

namespace
{
// Method 9 stores every byte once and unpacks it twice.
struct Doubler : Decompressor
{
    ByteArray* decompress(ByteArray* stored, u32 unpackedSize, u8 method) override
    {
        lastMethod = method;
        if (method != 9 || u64(stored->count) * 2 != unpackedSize)
            return nullptr;
        ByteArray* out = memNew<ByteArray>(unpackedSize);
        for (u32 i = 0; i < stored->count; i++)
            out->data[2 * i] = out->data[2 * i + 1] = stored->data[i];
        return out;
    }
    u8 lastMethod = 0;
};
}

TEST(Package, CompressedEntriesGoThroughTheDecompressor)
{
    Doubler doubler;
    const std::string key = "\x7f\x01";
    Package* pkg = storedPackage("doubled", writePackageV2({{"plain", "as is"}, {"twice", "abc", 6, 9}}, key), key);
    pkg->decompressor = &doubler;
    ASSERT_TRUE(pkg->load());
    ByteArray* bytes = pkg->readFile(String("twice"));
    EXPECT_EQ(toString(bytes), "aabbcc");
    EXPECT_EQ(doubler.lastMethod, 9);
    memDelete(bytes);
    Stream* s = pkg->openFile(String("twice"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(readAll(s), "aabbcc");
    memDelete(s);
    bytes = pkg->readFile(String("plain"));
    EXPECT_EQ(toString(bytes), "as is");
    memDelete(bytes);
    memDelete(pkg);
}

TEST(Package, ManyRecordsLoadInProportion)
{
    std::vector<PackageFileEntry> entries;
    for (int i = 0; i < 20000; i++)
        entries.push_back({"f" + std::to_string(i), std::string(size_t(1 + i % 3), char('a' + i % 26))});
    Package* pkg = storedPackage("many", writePackageV1(entries));
    ASSERT_TRUE(pkg->load());
    EXPECT_EQ(pkg->entries.count, 20000u);
    ByteArray* bytes = pkg->readFile(String("F19999"));
    EXPECT_EQ(toString(bytes), entries.back().stored);
    memDelete(bytes);
    memDelete(pkg);
}

TEST(PackageLoadJob, LoadsOrReportsThePackage)
{
    LogCapture log;
    packageStore()["good"] = writePackageV2(sampleEntries());
    packageStore()["bad"] = "xx";
    PackageLoadJob good(&storeRecord(), nullptr, false, String("good"));
    Package* pkg = good.run();
    ASSERT_NE(pkg, nullptr);
    EXPECT_STREQ(pkg->name().c_str(), "good");
    EXPECT_EQ(pkg->entries.count, 4u);
    memDelete(pkg);

    ByteArray* key = memNew<ByteArray>(reinterpret_cast<const u8*>("k"), 1u);
    PackageLoadJob bad(&storeRecord(), key, true, String("bad"));
    EXPECT_EQ(bad.run(), nullptr);
    PackageLoadJob missing(&storeRecord(), nullptr, false, String("missing"));
    EXPECT_EQ(missing.run(), nullptr);
    const std::vector<std::string> expected = {
        "Package > Length read failed for 'bad'!",
        "Loader > Error unpacking package 'bad'!",
        "Package > Couldn't open 'missing' for reading!",
        "Loader > Error unpacking package 'missing'!",
    };
    EXPECT_EQ(log.lines(LOG_ERROR), expected);
}

namespace
{
ByteArray* bytesOf(const std::string& s)
{
    return memNew<ByteArray>(reinterpret_cast<const u8*>(s.data()), u32(s.size()));
}
}

TEST(SubStream, WindowBoundsEveryMove)
{
    const std::string text = "0123456789ABCDEFGHIJ";
    MemoryStream* inner = memNew<MemoryStream>(reinterpret_cast<const u8*>(text.data()), u32(text.size()));
    SubStream s(inner, 5, 10); // "56789ABCDE"
    EXPECT_EQ(s.size(), 10u);
    EXPECT_EQ(s.tell(), 5u);
    EXPECT_EQ(s.bytesLeft(), 10u);
    EXPECT_EQ(s.readU8(), '5');
    s.seek(0);
    EXPECT_EQ(s.tell(), 5u);
    s.seek(100);
    EXPECT_EQ(s.tell(), 15u);
    EXPECT_TRUE(s.atEnd());
    EXPECT_EQ(s.readU8(), 0);
    s.skipBack(3);
    EXPECT_EQ(s.tell(), 12u);
    s.skipBack(100);
    EXPECT_EQ(s.tell(), 5u);
    s.skip(8);
    // Two bytes left: a four-byte read gives 0 and ends the window, never reading "FG".
    EXPECT_EQ(s.readU32(), 0u);
    EXPECT_TRUE(s.atEnd());
    s.seek(13);
    EXPECT_EQ(s.readU16(), u16('D' | 'E' << 8));
    s.rewind();
    char buf[16];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(s.read(buf, sizeof buf), 10u);
    EXPECT_EQ(std::string(buf, 16), "56789ABCDE######");
    s.rewind();
    ByteArray dst(8u);
    memset(dst.data, '#', 8);
    EXPECT_EQ(s.readInto(dst, 2, 4), 4u);
    EXPECT_EQ(toString(&dst), "##5678##");
    EXPECT_EQ(s.tell(), 9u);
    // A destination that cannot hold the read takes nothing; the stream still moves on.
    EXPECT_EQ(s.readInto(dst, 6, 4), 0u);
    EXPECT_EQ(s.tell(), 13u);
}

TEST(SubStream, ByteArrayWindowAndCloneKeepTheirOwnPositions)
{
    SubStream s(bytesOf("abcdefgh"), 2);
    EXPECT_EQ(s.size(), 6u);
    EXPECT_EQ(s.readU8(), 'c');
    Stream* c = s.clone();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->tell(), 3u);
    EXPECT_EQ(c->size(), 6u);
    EXPECT_EQ(readAll(c), "defgh");
    EXPECT_EQ(s.tell(), 3u);
    c->rewind();
    EXPECT_EQ(c->tell(), 2u);
    memDelete(c);
    EXPECT_EQ(readAll(&s), "defgh");

    SubStream past(bytesOf("abc"), 10);
    EXPECT_EQ(past.size(), 0u);
    EXPECT_TRUE(past.atEnd());
}

TEST(SubStream, KeyFollowsThePositionInTheWindow)
{
    const std::string key = "\x10\x20\x30";
    const std::vector<PackageFileEntry> entries = {{"pad", "xxxx"}, {"text", "The quick brown fox"}};
    Package* pkg = storedPackage("stream", writePackageV1(entries, key), key);
    ASSERT_TRUE(pkg->load());
    Stream* s = pkg->openFile(String("TEXT"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->tell(), 4u);
    s->seek(4 + 4);
    EXPECT_EQ(s->readU8(), 'q');
    EXPECT_EQ(s->readU32(), u32('u' | 'i' << 8 | 'c' << 16 | 'k' << 24));
    Stream* c = s->clone();
    EXPECT_EQ(readAll(c), " brown fox");
    s->skipBack(5);
    EXPECT_EQ(readAll(s), "quick brown fox");
    memDelete(c);
    memDelete(s);
    memDelete(pkg);
}
