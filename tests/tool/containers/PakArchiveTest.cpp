#include "PakTestUtil.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZW.h"
#include "gamedata/codecs/CodecRefPack.h"

using namespace paktest;

namespace
{
struct DetectCase
{
    const char* name;
    Bytes bytes;
    bool expected;
};

TEST(PakDetect, NameSuffixAndSizeWord)
{
    const DetectCase cases[] = {
        {"X.PAK", Bytes(), true},
        {"X.PAK", Bytes{0}, true},
        {"X.PAK", Bytes{2, 0}, false},
        {"X.PAK", Bytes{3, 0, 0}, false},
        {"X.PAK", le32(4), true},
        {"X.PAK", le32(5) + Bytes{0}, true},
        {"X.PAK", le32(6) + Bytes{0}, false},
        {"X.TXT", le32(4), false},
        {"x.pak", le32(4), true},
        {"a.vpk", le32(4), true},
        {"a.vpf", le32(4), true},
        {"a.mpk", le32(4), true},
        {"a.elv", le32(4), true},
        {"a.rol", le32(4), true},
        {"a.gen", le32(4), true},
        {"a.adl", le32(4), true},
        {"a.tri", le32(4), true},
        {"a.mid", le32(4), true},
        {"a.pal", le32(4), true},
        {"a.pak.bak", le32(4), false},
    };
    for (const DetectCase& c : cases) {
        ByteArray array = toArray(c.bytes);
        EXPECT_EQ(ContainerPAK::detect(String(c.name), array), c.expected) << c.name << " " << c.bytes.size();
    }
}

struct RefusalCase
{
    const char* what;
    Bytes bytes;
    const char* line;
};

TEST(PakOpen, RefusesWithOneLine)
{
    Bytes stored = filled(8, 1);
    // The 4 bytes 8 before the first entry's data.
    Bytes pakt = le32(28) + le32(24) + filled(8) + text("PAKT") + filled(8);
    auto firstWord = [](u32 first) { return le32(16) + le32(first) + filled(8); };
    const RefusalCase cases[] = {
        {"bad size", le32(99) + filled(20), "ERROR: Aborted 'T.PAK' - not a (recognised) PAK! (Bad size!)\n"},
        {"PAKT", pakt, "ERROR: Aborted 'T.PAK' - PAKT not yet supported!\n"},
        {"first offset 0", firstWord(0), "ERROR: Aborted 'T.PAK' - not a (recognised) PAK! (Too many entries!)\n"},
        {"first offset 3", firstWord(3), "ERROR: Aborted 'T.PAK' - not a (recognised) PAK! (Too many entries!)\n"},
        {"first offset 4", firstWord(4), "ERROR: Aborted 'T.PAK' - not a (recognised) PAK! (No entries!)\n"},
        {"first offset 7", firstWord(7), "ERROR: Aborted 'T.PAK' - not a (recognised) PAK! (No entries!)\n"},
        {"offset past the end", pakLayout({{0, stored}, {0, stored}}), ""},
    };
    for (const RefusalCase& c : cases) {
        Bytes bytes = c.bytes;
        std::string expected = c.line;
        if (expected.empty()) {
            // Second entry's offset one beyond the file's end.
            u32 size = u32(bytes.size());
            Bytes word = le32(size + 1);
            std::copy(word.begin(), word.end(), bytes.begin() + 8);
            expected = "ERROR: Aborted 'T.PAK' - not a (recognised) PAK! (Offset out of range!)\n";
        }
        Container* c2 = nullptr;
        std::string out = captured([&] { c2 = openPak("T.PAK", bytes); });
        EXPECT_EQ(c2, nullptr) << c.what;
        EXPECT_EQ(out, expected) << c.what;
        deleteContainer(c2);
    }
}

TEST(PakOpen, TableOf999EntriesOpensAnd1000DoNot)
{
    for (u32 count : {999u, 1000u}) {
        std::vector<RawEntry> entries(count, RawEntry{0, Bytes()});
        entries.back().data = text("last");
        Bytes bytes = pakLayout(entries);
        std::string out;
        ContainerPAK* pak = nullptr;
        out = captured([&] { pak = openPak("MANY.PAK", bytes); });
        if (count == 999) {
            ASSERT_NE(pak, nullptr);
            EXPECT_EQ(out, "");
            EXPECT_EQ(pak->entries.count, 999u);
            EXPECT_STREQ(pak->entries[998]->name.c_str(), "998");
            EXPECT_EQ(serialised(*pak), bytes);
        } else {
            EXPECT_EQ(pak, nullptr);
            EXPECT_EQ(out, "ERROR: Aborted 'MANY.PAK' - not a (recognised) PAK! (Too many entries!)\n");
        }
        deleteContainer(pak);
    }
}

TEST(PakOpen, OffsetAtTheEndGivesAnEmptyLastEntry)
{
    Bytes bytes = pakLayout({{0, text("abcd")}, {0, Bytes()}});
    ContainerPAK* pak = openPak("E.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    ASSERT_EQ(pak->entries.count, 2u);
    EXPECT_EQ(pak->entries[1]->contentSize(), 0u);
    EXPECT_EQ(serialised(*pak), bytes);
    deleteContainer(pak);
}

TEST(PakOpen, OffsetsGoingBackwardsGiveEmptyEntries)
{
    // Entry 1 starts after entry 2: entry 1 runs to the end, entry 2 would have a negative size.
    Bytes bytes = le32(0) + le32(16) + le32(24) + le32(20) + text("aaaa") + text("bbbb") + text("cccc");
    bytes = le32(u32(bytes.size())) + Bytes(bytes.begin() + 4, bytes.end());
    ContainerPAK* pak = openPak("B.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    ASSERT_EQ(pak->entries.count, 3u);
    EXPECT_EQ(toBytes(pak->entries[0]->content), text("aaaa") + text("bbbb"));
    EXPECT_EQ(pak->entries[1]->contentSize(), 0u);
    EXPECT_EQ(toBytes(pak->entries[2]->content), text("bbbb") + text("cccc"));
    deleteContainer(pak);
}

TEST(PakOpen, TinyDataIsAnEmptyArchiveThatKeepsItsBytes)
{
    struct Tiny
    {
        const char* name;
        Bytes bytes;
    };
    // A 12-byte file with a whole entry in it, a 0-byte and a 1-byte palette, a size-minus-one word.
    const Tiny cases[] = {
        {"T.PAK", le32(12) + le32(8) + text("abcd")},
        {"EMPTY.PAL", Bytes()},
        {"ONE.PAL", Bytes{0}},
        {"M.PAK", le32(9) + Bytes{1, 2, 3, 4, 5, 6}},
    };
    for (const Tiny& t : cases) {
        ContainerPAK* pak = openPak(t.name, t.bytes);
        ASSERT_NE(pak, nullptr) << t.name;
        EXPECT_EQ(pak->variant, 0);
        EXPECT_EQ(captured([&] { pak->list(0); }), "Done. 0 files, 0 bytes total.\n");
        EXPECT_EQ(pak->fileCount(), 0u);
        EXPECT_EQ(serialised(*pak), t.bytes) << t.name;
        deleteContainer(pak);
    }
}

TEST(PakOpen, TinyDataNestedInAnArchiveStaysAsItWas)
{
    // A 0-byte palette inside a PAK is opened as an empty PAK; the parent must not grow.
    Bytes bytes = pakLayout({{0, text("FORM") + le32(4) + text("TEST")}, {0, Bytes()}});
    ContainerPAK* pak = openPak("OUTER.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    EXPECT_EQ(serialised(*pak), bytes);
    deleteContainer(pak);
}

TEST(PakVariants, ChosenByFileNameOrContent)
{
    OptionScope scope;
    Bytes plain = text("plain entry bytes");
    Bytes terrain = text("FORM") + le32(8) + text("TERA") + filled(4);
    struct VariantCase
    {
        const char* name;
        std::vector<RawEntry> entries;
        u8 variant;
        std::vector<std::string> names;
    };
    const VariantCase cases[] = {
        {"SPEECH.PAK", {{0xA0, plain}, {0, plain}}, 2, {"000[???]", "001"}},
        {"speech.pak", {{0, plain}}, 2, {"000"}},
        {"C:/GAME/DSOUNDFX.PAK", {{0, plain}}, 2, {"000"}},
        {"XSPEECH.PAK", {{0xA0, plain}}, 0, {"000"}},
        {"V.VPK", {{0, pakLayout({{0xFF, plain}})}, {0, plain}}, 2, {"000.VPK", "001"}},
        {"V.vpf", {{0, plain}}, 2, {"000"}},
        {"M.MPK", {{0, pakLayout({{0xE0, plain}})}, {0, plain}}, 3, {"000.MPK", "001.XMI"}},
        {"M.adl", {{0, plain}}, 3, {"000.XMI"}},
        {"M.MID", {{0, plain}}, 3, {"000.XMI"}},
        {"M.ROL", {{0, plain}}, 3, {"000.XMI"}},
        {"M.GEN", {{0, plain}}, 3, {"000.XMI"}},
        {"T.PAK",
         {{0, terrain}, {0, plain}, {0, plain}, {0, plain}, {0, plain}, {0, plain}, {0, plain}, {0, plain}},
         1,
         {"000.IFF", "001.ELV", "002.MED", "003.LOW", "004.TRI", "005.OBJ", "006.AVG", "007.???"}},
        // The terrain test skips the last entry.
        {"T.PAK", {{0, plain}, {0, terrain}}, 0, {"000", "001.IFF"}},
        {"P.PAK", {{0, plain}, {0, Bytes{1, 2}}}, 0, {"000", "001"}},
    };
    for (const VariantCase& c : cases) {
        ContainerPAK* pak = openPak(c.name, pakLayout(c.entries));
        ASSERT_NE(pak, nullptr) << c.name;
        EXPECT_EQ(pak->variant, c.variant) << c.name;
        EXPECT_EQ(entryNames(*pak), c.names) << c.name;
        deleteContainer(pak);
    }
}

TEST(PakVariants, ImplodeFlagMakesVariant5AndSaysSo)
{
    OptionScope scope;
    scope.options.verbosity = 1;
    // Not an Implode stream: the entry keeps its stored bytes and the method.
    Bytes bytes = pakLayout({{0x60, le32(50) + text("not implode data")}, {0, filled(768)}});
    ContainerPAK* pak = nullptr;
    std::string out = captured([&] { pak = openPak("I.PAK", bytes); });
    ASSERT_NE(pak, nullptr);
    EXPECT_NE(out.find("Implode PAK detected.\n"), std::string::npos) << out;
    EXPECT_EQ(pak->variant, 5);
    EXPECT_EQ(pak->entries[0]->method, PAK_IMPLODE);
    EXPECT_EQ(toBytes(pak->entries[0]->content), le32(50) + text("not implode data"));
    EXPECT_EQ(entryNames(*pak), (std::vector<std::string>{"000", "001.PAL"}));
    // Unchanged, the undecodable entry goes back as it was.
    EXPECT_EQ(serialised(*pak), bytes);
    deleteContainer(pak);
}

TEST(PakEntries, ShortEntriesAreStoredUnderTheBareNumber)
{
    iotest::ScratchDir dir;
    OptionScope scope;
    // Flags that would select a codec or a variant name do nothing below 4 bytes.
    Bytes bytes = pakLayout({{0x20, Bytes{1}}, {0x60, Bytes{1, 2}}, {0xA0, Bytes{1, 2, 3}}, {0, text("FORM")}});
    ContainerPAK* pak = openPak("S.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    EXPECT_EQ(entryNames(*pak), (std::vector<std::string>{"000", "001", "002", "003.IFF"}));
    EXPECT_EQ(pak->entries[0]->method, PAK_STORED);
    EXPECT_EQ(captured([&] { pak->list(0); }), "000 (1 byte)\n"
                                                "001 (2 bytes)\n"
                                                "002 (3 bytes)\n"
                                                "003.IFF (4 bytes)\n"
                                                " Interchange File Format\n"
                                                "Done. 4 files, 10 bytes total.\n");
    std::string out = captured([&] { EXPECT_EQ(pak->extract(String(dir.path.c_str()), 0), 4u); });
    EXPECT_EQ(out, "Done. Extracted 4/4 files.\n");
    EXPECT_EQ(readFile(dir.file("001")), (Bytes{1, 2}));
    EXPECT_EQ(readFile(dir.file("002")), (Bytes{1, 2, 3}));
    EXPECT_EQ(serialised(*pak), bytes);
    deleteContainer(pak);
}

TEST(PakWrite, SizeWordLessOneOnlyForMid1Txt)
{
    std::vector<RawEntry> entries = {{0, text("text one")}, {0, text("text two")}};
    Bytes exact = pakLayout(entries);
    Bytes lessOne = pakLayout(entries, -1);
    struct SizeCase
    {
        const char* name;
        Bytes in;
        Bytes out;
    };
    const SizeCase cases[] = {
        {"MID1TXT.PAK", lessOne, lessOne},
        {"DATA/mid1txt.pak", exact, lessOne},
        {"OTHER.PAK", lessOne, exact},
        {"OTHER.PAK", exact, exact},
        {"MID1TXT.PAK.VPK", lessOne, exact},
    };
    for (const SizeCase& c : cases) {
        ContainerPAK* pak = openPak(c.name, c.in);
        ASSERT_NE(pak, nullptr) << c.name;
        EXPECT_EQ(serialised(*pak), c.out) << c.name;
        deleteContainer(pak);
    }
}

TEST(PakWrite, OffsetsPastSixteenMegabytesAreRefused)
{
    // The last entry may run past 2^24; an entry that starts there cannot be addressed.
    Bytes big = filled((1u << 24) - 8 + 1, 0x55);
    Bytes bytes = pakLayout({{0, big}});
    ContainerPAK* pak = openPak("BIG.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    EXPECT_EQ(serialised(*pak).size(), bytes.size());
    PakEntry* added = memNew<PakEntry>();
    added->name = "001";
    added->content = memNew<ByteArray>(u32(1));
    added->content->data[0] = 1;
    added->changed = 1;
    pak->entries.push(added);
    ByteArray* out = nullptr;
    std::string printed = captured([&] { out = pak->serialise(noProgress, 0); });
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(printed, "ERROR: Offset out of range; PAK data is too big!\n");
    deleteByteArray(out);
    deleteContainer(pak);
}

TEST(PakWrite, ChangedEntriesAreEncodedWithTheirMethod)
{
    Bytes text1 = text("a packed entry, a packed entry, a packed entry, once more a packed entry");
    Bytes bytes = pakLayout({{0, text("stays")}, {0, text("x")}, {0, text("y")}, {0, text("z")}});
    ContainerPAK* pak = openPak("P.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    // The reader never picks RefPack, but an entry set to it is written with it.
    const u8 methods[] = {PAK_LZW, PAK_REFPACK, PAK_IMPLODE};
    for (u32 i = 1; i <= 3; i++) {
        PakEntry* e = pak->entries[i];
        e->method = methods[i - 1];
        e->changed = 1;
        deleteByteArray(e->content);
        ByteArray content = toArray(text1);
        e->content = memNew<ByteArray>(content);
    }
    Bytes out = serialised(*pak);
    ASSERT_GT(out.size(), 24u);
    for (u32 i = 1; i <= 3; i++) {
        PakEntry* e = pak->entries[i];
        u32 start = e->offset;
        EXPECT_EQ(start, pak->entries[i - 1]->offset + pak->entries[i - 1]->encodedSize);
        Bytes stored(out.begin() + start, out.begin() + start + e->encodedSize);
        ASSERT_GT(stored.size(), 4u);
        EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 4), le32(u32(text1.size())));
        ByteArray stream = toArray(Bytes(stored.begin() + 4, stored.end()));
        ByteArray* decoded = nullptr;
        if (e->method == PAK_LZW)
            decoded = CodecLZW().decompress(stream, u32(text1.size()));
        else if (e->method == PAK_REFPACK)
            decoded = CodecRefPack().decompress(stream, u32(text1.size()));
        else
            decoded = CodecImplode().decompress(stream, u32(text1.size()));
        EXPECT_EQ(toBytes(decoded), text1) << int(e->method);
        deleteByteArray(decoded);
    }
    EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 25), text("stays"));
    deleteContainer(pak);
}

Bytes nestedInner();

TEST(PakWrite, ChildThatCannotBeBuiltFailsTheArchive)
{
    Bytes bytes = pakLayout({{0, text("some bytes")}, {0, nestedInner()}});
    ContainerPAK* pak = openPak("P.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    ASSERT_NE(pak->entries[1]->nested, nullptr);
    // An entry of the child changed under a method no codec writes.
    PakEntry* inner = static_cast<ContainerPAK*>(pak->entries[1]->nested)->entries[0];
    inner->method = 9;
    inner->changed = 1;
    ByteArray* out = nullptr;
    std::string printed = captured([&] { out = pak->serialise(noProgress, 0); });
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(printed, "ERROR: Couldn't pack '000' !\n");
    deleteByteArray(out);
    deleteContainer(pak);
}

Bytes nestedInner()
{
    return pakLayout({{0xFF, text("inner zero")}, {0, text("inner one!")}});
}

TEST(PakNesting, ListExtractHashAndRewrite)
{
    iotest::ScratchDir dir;
    OptionScope scope;
    Bytes bytes = pakLayout({{0, text("outer zero")}, {0, nestedInner()}, {0, Bytes{0, 0, 2, 0} + filled(6, 3)}});
    ContainerPAK* pak = openPak("OUT.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    EXPECT_EQ(entryNames(*pak), (std::vector<std::string>{"000", "001.PAK", "002.PAL"}));
    ASSERT_NE(pak->entries[1]->nested, nullptr);
    EXPECT_EQ(pak->fileCount(), 4u);
    EXPECT_EQ(captured([&] { pak->list(0); }), "000 (10 bytes)\n"
                                                "001.PAK (32 bytes)\n"
                                                " 000 (10 bytes)\n"
                                                " 001 (10 bytes)\n"
                                                "002.PAL (10 bytes)\n"
                                                "Done. 3 files, 52 bytes total.\n");
    scope.options.noRecurse = 1;
    EXPECT_EQ(captured([&] { pak->list(0); }), "000 (10 bytes)\n"
                                                "001.PAK (32 bytes)\n"
                                                "002.PAL (10 bytes)\n"
                                                "Done. 3 files, 52 bytes total.\n");
    scope.options.noRecurse = 0;

    scope.options.verbosity = 2;
    std::string out = captured([&] { EXPECT_EQ(pak->extract(String(dir.path.c_str()), 0), 4u); });
    EXPECT_EQ(out, " >> " + dir.file("000") + "\n >>> " + dir.file("001.PAK/000") + "\n >>> " +
                       dir.file("001.PAK/001") + "\n >> " + dir.file("002.PAL") + "\nDone. Extracted 4/4 files.\n");
    EXPECT_EQ(readFile(dir.file("001.PAK/001")), text("inner one!"));

    // Hash lines: the running digest after each entry, the child's block closed by "^". Each
    // look at the live digest moves it on, so the check takes the same looks.
    Md5 context;
    out = captured([&] { pak->hashContents(context, 0); });
    Md5 check;
    std::vector<u64> digests;
    for (const char* s : {"outer zero", "inner zero", "inner one!"}) {
        check.update(s, 10);
        digests.push_back(peekDigest(check));
    }
    digests.push_back(peekDigest(check));
    u8 pal[10] = {0, 0, 2, 0, 3, 3, 3, 3, 3, 3};
    check.update(pal, 10);
    digests.push_back(peekDigest(check));
    char expected[512];
    snprintf(expected, sizeof expected,
             "000 (10 bytes) -> %llu\n001.PAK\n 000 (10 bytes) -> %llu\n 001 (10 bytes) -> %llu\n^ %llu\n"
             "002.PAL (10 bytes) -> %llu\n",
             (unsigned long long)digests[0], (unsigned long long)digests[1], (unsigned long long)digests[2],
             (unsigned long long)digests[3], (unsigned long long)digests[4]);
    EXPECT_EQ(out, expected);

    scope.options.verbosity = 1;
    out = captured([&] { EXPECT_EQ(serialised(*pak), bytes); });
    EXPECT_EQ(out, " <<< 000 \n <<< 001 \n << 000 \n << [001.PAK] \n << 002.PAL \n");
    deleteContainer(pak);
}

TEST(PakNesting, ProgressCountsEveryLeafAtItsDepth)
{
    static std::vector<u32> seen;
    seen.clear();
    Bytes bytes = pakLayout({{0, text("outer zero")}, {0, nestedInner()}});
    ContainerPAK* pak = openPak("OUT.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    ByteArray* out = pak->serialise([](u32 depth) { seen.push_back(depth); }, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(seen, (std::vector<u32>{1, 1, 0}));
    deleteByteArray(out);
    deleteContainer(pak);
}

TEST(PakExtract, ADirectoryInTheWayRefusesItsEntryAlone)
{
    iotest::ScratchDir dir;
    OptionScope scope;
    clearToolFailure();
    Bytes bytes = pakLayout({{0, text("first")}, {0, text("second")}, {0, text("third")}});
    ContainerPAK* pak = openPak("W.PAK", bytes);
    ASSERT_NE(pak, nullptr);
    // A directory in the way of the second file: never opened, and the third is still written.
    ASSERT_EQ(mkdir(dir.file("001").c_str(), 0755), 0);
    std::string out = captured([&] { EXPECT_EQ(pak->extract(String(dir.path.c_str()), 0), 2u); });
    EXPECT_EQ(out, "ERROR: Something that is not a regular file is in the way of '" + dir.file("001") +
                       "'; it was left alone!\nDone. Extracted 2/3 files.\n");
    EXPECT_TRUE(toolFailureNoted());
    EXPECT_TRUE(exists(dir.file("002")));
    clearToolFailure();
    deleteContainer(pak);
}
}
