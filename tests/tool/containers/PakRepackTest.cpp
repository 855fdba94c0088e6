#include "PakTestUtil.h"
#include "gamedata/codecs/CodecLZW.h"

using namespace paktest;

namespace
{
Bytes innerPak()
{
    return pakLayout({{0xFF, text("inner zero")}, {0, text("inner one!")}});
}

Bytes sampleArchive()
{
    return pakLayout({{0, text("entry zero")}, {0, innerPak()}, {0, text("entry two.")}});
}

struct PakRepack : testing::Test
{
    iotest::ScratchDir dir;
    OptionScope scope;
    ContainerPAK* pak = nullptr;

    void open(const char* name, const Bytes& bytes)
    {
        pak = openPak(name, bytes);
        ASSERT_NE(pak, nullptr);
    }
    void TearDown() override { deleteContainer(pak); }
    String root() const { return String(dir.path.c_str()); }
    bool repack(std::string* out = nullptr, const std::string& from = std::string())
    {
        bool ok = false;
        const String tree = from.empty() ? root() : String(from.c_str());
        std::string printed = captured([&] { ok = pak->repack(tree, String(), 0); });
        if (out)
            *out = printed;
        return ok;
    }
    // The archive's bytes now; the lines serialise prints are not looked at here.
    Bytes rebuilt()
    {
        Bytes b;
        captured([&] { b = serialised(*pak); });
        return b;
    }
    void put(const std::string& name, const Bytes& bytes) { iotest::writeFile(dir.file(name), bytes); }
};

TEST_F(PakRepack, ExtractedTreeRepacksToTheSameArchive)
{
    Bytes bytes = sampleArchive();
    open("S.PAK", bytes);
    captured([&] { pak->extract(root(), 0); });
    EXPECT_TRUE(exists(dir.file("001.PAK/001")));
    EXPECT_TRUE(repack());
    for (PakEntry* e : pak->entries)
        EXPECT_EQ(e->changed, 0) << e->name.c_str();
    EXPECT_EQ(rebuilt(), bytes);
}

TEST_F(PakRepack, OnlyDifferingBytesReplaceAnEntry)
{
    open("S.PAK", sampleArchive());
    put("000", text("entry zero"));
    put("002", text("edited two"));
    scope.options.verbosity = 1;
    std::string out;
    EXPECT_TRUE(repack(&out));
    EXPECT_EQ(out, " << 000\n << 002\n");
    EXPECT_EQ(pak->entries[0]->changed, 0);
    EXPECT_EQ(pak->entries[2]->changed, 1);
    EXPECT_EQ(toBytes(pak->entries[2]->content), text("edited two"));
    EXPECT_EQ(rebuilt(), pakLayout({{0, text("entry zero")}, {0, innerPak()}, {0, text("edited two")}}));
}

TEST_F(PakRepack, EditInsideANestedArchiveRebuildsIt)
{
    open("S.PAK", sampleArchive());
    ASSERT_EQ(mkdir(dir.file("001.PAK").c_str(), 0755), 0);
    put("001.PAK/001", text("inner ONE!"));
    scope.options.verbosity = 1;
    std::string out;
    EXPECT_TRUE(repack(&out));
    EXPECT_EQ(out, " << [001] (Container)\n <<< 001\n");
    Bytes inner = pakLayout({{0xFF, text("inner zero")}, {0, text("inner ONE!")}});
    EXPECT_EQ(rebuilt(), pakLayout({{0, text("entry zero")}, {0, inner}, {0, text("entry two.")}}));
}

// Trees a repack refuses as a whole: each line names what is wrong, and no entry changes.
TEST_F(PakRepack, RefusedTreesNameEachFileAndChangeNothing)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<std::string, Bytes>> files; // a name ending in '/' is a folder
        bool addNew;
        std::string expected; // "@" stands for the tree's path
    };
    const std::string notFound = "' not found in container!\n";
    const std::string refusal = "' can't be added: a PAK adds only files named by a number past its last entry!\n";
    const Case cases[] = {
        // Backup copies beside an edit: only the exact name is the entry's.
        {"no exact name",
         {{".DS_Store", text("finder data")},
          {"readme.txt", text("notes")},
          {"2b.txt", text("not entry two")},
          {"0000000002.txt", text("ten digits")},
          {"000", text("the edit")},
          {"000.orig", text("entry zero")},
          {"002.xml~", text("an editor's backup")}},
         false,
         "ERROR: File '.DS_Store" + notFound + "ERROR: File '000.orig" + notFound + "ERROR: File '0000000002.txt" +
             notFound + "ERROR: File '002.xml~" + notFound + "ERROR: File '2b.txt" + notFound +
             "ERROR: File 'readme.txt" + notFound},
        {"added without a number past the table",
         {{"NEWSOUND.VOC", text("no number")}, {"001.new", text("a number that is taken")}},
         true,
         "ERROR: File '001.new" + refusal + "ERROR: File 'NEWSOUND.VOC" + refusal},
        {"past the table without -a", {{"012", text("new one")}}, false,
         "ERROR: Packet file '@/012' is out of index range!\n"},
        {"new folder", {{"007.PAK/", {}}}, true,
         "ERROR: Cannot (yet) add new directory/sub-container '@/007.PAK' to PAK!\n"},
        {"folder where a file entry goes", {{"000/", {}}}, false, "ERROR: File '000" + notFound},
    };
    for (const Case& c : cases) {
        iotest::ScratchDir tree;
        deleteContainer(pak);
        open("S.PAK", sampleArchive());
        for (const auto& [name, bytes] : c.files) {
            if (name.back() == '/')
                ASSERT_EQ(mkdir(tree.file(name).c_str(), 0755), 0) << c.what;
            else
                iotest::writeFile(tree.file(name), bytes);
        }
        scope.options.addNewFiles = c.addNew;
        std::string out, expected = c.expected;
        for (size_t at; (at = expected.find('@')) != std::string::npos;)
            expected.replace(at, 1, tree.path);
        EXPECT_FALSE(repack(&out, tree.path)) << c.what;
        EXPECT_EQ(out, expected) << c.what;
        EXPECT_EQ(pak->entries.count, 3u) << c.what;
        for (PakEntry* e : pak->entries)
            EXPECT_EQ(e->changed, 0) << c.what;
        EXPECT_EQ(toBytes(pak->entries[0]->content), text("entry zero")) << c.what;
    }
}

TEST_F(PakRepack, UnknownKindEntriesRepackByTheirNumber)
{
    Bytes bytes = pakLayout({{0xA0, text("voice data one")}, {0, text("voice data two")}});
    open("SPEECH.PAK", bytes);
    captured([&] { pak->extract(root(), 0); });
    EXPECT_TRUE(exists(dir.file("000[???]")));
    put("000[???]", text("edited voice 1"));
    EXPECT_TRUE(repack());
    EXPECT_EQ(toBytes(pak->entries[0]->content), text("edited voice 1"));
    // The flag byte stays with the entry.
    EXPECT_EQ(rebuilt(), pakLayout({{0xA0, text("edited voice 1")}, {0, text("voice data two")}}));
}

TEST_F(PakRepack, NewFilesGoToTheEndInNumericOrder)
{
    open("S.PAK", sampleArchive());
    // "15" sorts before "013" by name; the numbers decide.
    put("15.DAT", text("fifteen"));
    put("013", text("thirteen"));
    scope.options.addNewFiles = 1;
    scope.options.verbosity = 1;
    std::string out;
    EXPECT_TRUE(repack(&out));
    EXPECT_EQ(out, " << 013 (NEW FILE)\n << 15 (NEW FILE)\n");
    EXPECT_EQ(entryNames(*pak), (std::vector<std::string>{"000", "001.PAK", "002", "013", "15"}));
    EXPECT_EQ(rebuilt(), pakLayout({{0, text("entry zero")}, {0, innerPak()}, {0, text("entry two.")},
                                           {0, text("thirteen")}, {0, text("fifteen")}}));
}

TEST_F(PakRepack, TinyArchiveGrowsOnlyWhenEntriesAreAdded)
{
    Bytes tiny = le32(12) + le32(8) + text("abcd");
    open("T.PAK", tiny);
    EXPECT_TRUE(repack());
    EXPECT_EQ(rebuilt(), tiny);
    put("000.BIN", text("first entry"));
    scope.options.addNewFiles = 1;
    EXPECT_TRUE(repack());
    EXPECT_EQ(rebuilt(), pakLayout({{0, text("first entry")}}));
}

TEST_F(PakRepack, ArchiveExtractedRawComesBackAsAFile)
{
    Bytes replacement = pakLayout({{0xFF, text("other zero")}});
    for (u8 noRecurse : {1, 0}) {
        deleteContainer(pak);
        open("S.PAK", sampleArchive());
        scope.options.noRecurse = noRecurse;
        put("001.PAK", replacement);
        EXPECT_TRUE(repack()) << int(noRecurse);
        EXPECT_EQ(pak->entries[1]->nested, nullptr);
        EXPECT_EQ(rebuilt(),
                  pakLayout({{0, text("entry zero")}, {0, replacement}, {0, text("entry two.")}}));
        remove(dir.file("001.PAK").c_str());
    }
}

// A written archive is charged what opening it again unpacks: an entry whose stream did not
// unpack is packed once edited, and a packed nested archive is its new image.
TEST_F(PakRepack, UnpackedOnOpenIsWhatAFreshOpenUnpacks)
{
    const Bytes inner = innerPak();
    ByteArray innerArray = toArray(inner);
    ByteArray* lzw = CodecLZW().compress(innerArray);
    ASSERT_NE(lzw, nullptr);
    const Bytes packedInner = le32(u32(inner.size())) + toBytes(lzw);
    deleteByteArray(lzw);
    struct Case
    {
        Bytes archive;
        const char* file;
        Bytes edit;
        u64 unpacks;
    };
    const Case cases[] = {
        {pakLayout({{0x60, le32(50) + text("not implode data")}, {0, filled(768)}}), "000", filled(4096), 4096},
        {pakLayout({{0x20, packedInner}}), "000.PAK/001", filled(3000),
         pakLayout({{0xFF, text("inner zero")}, {0, filled(3000)}}).size()},
    };
    for (const Case& c : cases) {
        deleteContainer(pak);
        open("I.PAK", c.archive);
        if (strchr(c.file, '/'))
            mkdir(dir.file("000.PAK").c_str(), 0755);
        put(c.file, c.edit);
        EXPECT_TRUE(repack()) << c.file;
        const Bytes written = rebuilt();
        ContainerPAK* fresh = openPak("I.PAK", written);
        ASSERT_NE(fresh, nullptr) << c.file;
        EXPECT_EQ(fresh->unpackedOnOpen(), c.unpacks) << c.file;
        EXPECT_EQ(pak->unpackedOnOpen(), c.unpacks) << c.file;
        deleteContainer(fresh);
        remove(dir.file(c.file).c_str());
    }
}

TEST_F(PakRepack, VerboseRepackNamesTheDirectory)
{
    open("S.PAK", sampleArchive());
    scope.options.verbosity = 5;
    std::string out;
    EXPECT_TRUE(repack(&out));
    EXPECT_EQ(out, "Repacking '" + dir.path + "'...\n");
}
}
