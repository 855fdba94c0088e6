// XTRE archives through the container interface: images laid out here field by field, opened,
// listed, repacked from directories and written again.
#include "framework/io/FileStream.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "tests/framework/io/IoTestUtil.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tool/ToolOptions.h"
#include "tool/containers/ContainerXTRE.h"
#include "tool/containers/Driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
using namespace testutil;

// Readable text that packs well.
Bytes prose(size_t n, u32 seed)
{
    static const char* words[] = {"pilot", "wing", "launch", "carrier", "torpedo", "shield", "nav", "point",
                                  "jump", "the", "and", "of", "fighter", "squadron"};
    Bytes out;
    u32 s = seed * 2654435761u + 1;
    while (out.size() < n) {
        s = s * 1103515245u + 12345u;
        for (const char* p = words[(s >> 16) % 14]; *p; p++)
            out.push_back(u8(*p));
        out.push_back(' ');
    }
    out.resize(n);
    return out;
}

u32 wordAt(const Bytes& b, size_t at)
{
    return u32(b[at]) | u32(b[at + 1]) << 8 | u32(b[at + 2]) << 16 | u32(b[at + 3]) << 24;
}

void putWord(Bytes& b, u32 v)
{
    for (int i = 0; i < 4; i++)
        b.push_back(u8(v >> (8 * i)));
}

void setWord(Bytes& b, size_t at, u32 v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = u8(v >> (8 * i));
}

// Where a slot or clash record points: a file's descriptor, a clash table, or a raw offset.
struct Target
{
    enum Kind
    {
        FILE,
        TABLE,
        RAW
    } kind;
    u32 value;
};
Target file(u32 i)
{
    return {Target::FILE, i};
}
Target table(u32 k)
{
    return {Target::TABLE, k};
}
Target raw(u32 offset)
{
    return {Target::RAW, offset};
}

// One descriptor and its stored bytes.
struct XFile
{
    Bytes stored;
    u32 sizeWord;
};

XFile plain(const Bytes& data, u32 flags = 0)
{
    return {data, flags << 30 | u32(data.size())};
}

XFile packed(const Bytes& data, u8 type, u32 flags = 0)
{
    ByteArray in(data.data(), u32(data.size()));
    ByteArray* out = type == 1 ? CodecRefPack().compress(in) : compressLZWX(in);
    Bytes stream = toBytes(out);
    deleteByteArray(out);
    EXPECT_LT(stream.size(), data.size());
    return {stream, flags << 30 | u32(data.size())};
}

struct Record
{
    std::string name;
    Target target;
};

struct Layout
{
    u32 a, b, c, d;
};

// Header, slots, clash tables, descriptors in file order and the files' bytes from d on.
Bytes buildXtre(u32 version, const std::vector<XFile>& files, const std::vector<std::pair<u32, Target>>& slots,
                const std::vector<std::vector<Record>>& tables = {}, Layout* layout = nullptr)
{
    const u32 a = 24, b = a + 8 * u32(slots.size());
    std::vector<u32> tableAt;
    u32 c = b;
    for (const auto& t : tables) {
        tableAt.push_back(c);
        for (const Record& r : t)
            c += 5 + u32(r.name.size());
    }
    const u32 d = c + 8 * u32(files.size());
    auto resolve = [&](Target t) {
        return t.kind == Target::FILE ? c + 8 * t.value : t.kind == Target::TABLE ? tableAt[t.value] : t.value;
    };
    Bytes out = bytesOf("XTRE");
    for (u32 v : {version, a, b, c, d})
        putWord(out, v);
    for (const auto& [hash, target] : slots) {
        putWord(out, hash);
        putWord(out, resolve(target));
    }
    for (const auto& t : tables) {
        for (const Record& r : t) {
            out.push_back(u8(r.name.size()));
            out.insert(out.end(), r.name.begin(), r.name.end());
            putWord(out, resolve(r.target));
        }
    }
    u32 pos = d;
    for (const XFile& f : files) {
        putWord(out, pos);
        putWord(out, f.sizeWord);
        pos += u32(f.stored.size());
    }
    for (const XFile& f : files)
        out.insert(out.end(), f.stored.begin(), f.stored.end());
    if (layout)
        *layout = {a, b, c, d};
    return out;
}

// Opens an image; the container is deleted with the holder.
struct Opened
{
    ContainerXTRE* x = nullptr;
    std::string printed;
    Opened(const char* name, const Bytes& image)
    {
        ByteArray* bytes = newByteArray(image.data(), u32(image.size()));
        printed = captured([&] {
            x = static_cast<ContainerXTRE*>(keepingImage(ContainerXTRE::open(String(name), *bytes), bytes));
        });
    }
    ~Opened() { deleteContainer(x); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (XtreEntry* e : x->entries)
            out.push_back(e->name.c_str());
        return out;
    }
    Bytes data(u32 i) const { return toBytes(x->entries[i]->data); }
    Bytes written() const
    {
        ByteArray* out = nullptr;
        captured([&] { out = x->serialise(noProgress, 0); });
        EXPECT_NE(out, nullptr);
        Bytes b = toBytes(out);
        deleteByteArray(out);
        return b;
    }
};

void writeTree(const std::string& root, const std::vector<std::pair<std::string, Bytes>>& files)
{
    for (const auto& [path, data] : files) {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + path).parent_path());
        iotest::writeFile(root + "/" + path, data);
    }
}
}

TEST(XtreArchive, HeaderChecks)
{
    OptionScope options;
    Bytes good = buildXtre(1, {plain(bytesOf("hello"))}, {{0x1234, file(0)}});
    const std::string invalid = "ERROR: This doesn't seem to be a valid XTRE file!\n";
    struct Case
    {
        const char* what;
        size_t at;
        u32 value;
        std::string printed;
    };
    std::vector<Case> cases = {
        {"version 2", 4, 2, "ERROR: Unknown XTRE version (2).\n"},
        {"hash table in the header", 8, 20, invalid},
        {"hash table after the clash tables", 8, 40, invalid},
        {"no slot", 12, 24, invalid},
        {"half a slot", 12, 36, invalid},
        {"clash tables after the descriptors", 16, 100, invalid},
        {"data region past the end", 20, u32(good.size() + 1), invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = good;
        setWord(image, c.at, c.value);
        Opened o("X.TRE", image);
        EXPECT_EQ(o.x, nullptr);
        EXPECT_EQ(o.printed, c.printed);
    }
    for (size_t n : {0, 4, 23}) {
        Opened o("X.TRE", Bytes(good.begin(), good.begin() + n));
        EXPECT_EQ(o.x, nullptr);
        EXPECT_EQ(o.printed, invalid);
    }
    Opened ok("X.TRE", good);
    ASSERT_NE(ok.x, nullptr);
    EXPECT_EQ(ok.printed, "Reading files...\n");
    EXPECT_EQ(ok.names(), std::vector<std::string>{"0x00001234"});
}

TEST(XtreArchive, DetectedByItsMagicWhateverItsName)
{
    OptionScope options;
    Bytes image = buildXtre(0, {plain(bytesOf("abc"))}, {{7, file(0)}});
    for (const char* name : {"X.TRE", "X.PAK", "X.BIN", "X"}) {
        ByteArray bytes(image.data(), u32(image.size()));
        Container* c = nullptr;
        captured([&] { c = detectContainer(String(name), bytes); });
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->typeCode, CONTAINER_XTRE);
        deleteContainer(c);
    }
}

TEST(XtreArchive, EntryTypesFromSpanAndFirstByte)
{
    OptionScope options(1);
    Bytes text = prose(3000, 1);
    Bytes more = prose(4000, 2);
    XFile oversize = plain(bytesOf("short"));
    oversize.stored = bytesOf("short and then some");
    std::vector<XFile> files = {plain(text, 1), packed(text, 1, 2), packed(more, 1), packed(text, 2, 3), oversize};
    Bytes image = buildXtre(1, files, {{1, file(0)}, {2, file(1)}, {3, file(2)}, {4, file(3)}, {5, file(4)}});
    Opened o("X.TRE", image);
    ASSERT_NE(o.x, nullptr) << o.printed;
    ASSERT_EQ(o.x->entries.count, 5u);
    const u8 types[] = {0, 1, 1, 2, 0};
    const Bytes contents[] = {text, text, more, text, bytesOf("short")};
    for (u32 i = 0; i < 5; i++) {
        EXPECT_EQ(o.x->entries[i]->type, types[i]) << i;
        EXPECT_TRUE(o.data(i) == contents[i]) << i;
    }
    EXPECT_EQ(o.x->entries[4]->storedSpan, 19u);
    EXPECT_EQ(o.printed, "File size: " + std::to_string(image.size()) +
                             "\nGame IV XTRE file.\nReading files...\n"
                             " >> 0x00000001 (3000 bytes)\n >> 0x00000002 (3000 bytes, compressed)\n"
                             " >> 0x00000003 (4000 bytes, compressed)\n >> 0x00000004 (3000 bytes, compressed)\n"
                             " >> 0x00000005 (5 bytes)\n");
    // Every stored byte comes back, the size words' top bits included.
    EXPECT_TRUE(o.written() == image);
}

TEST(XtreArchive, VersionZeroDropsBlankFilesButWritesThemBack)
{
    OptionScope options(1);
    XFile blank = {bytesOf("BLANKBLANK"), 0};
    Bytes image = buildXtre(0, {plain(bytesOf("first")), blank, plain(bytesOf("third"))},
                            {{1, file(0)}, {2, file(1)}, {3, file(2)}});
    Opened o("X.TRE", image);
    ASSERT_NE(o.x, nullptr);
    EXPECT_EQ(o.names(), (std::vector<std::string>{"0x00000001", "0x00000003"}));
    EXPECT_NE(o.printed.find("Game III XTRE file.\nBlank file found and ignored! Expected for the Japanese game III.\n"),
              std::string::npos);
    EXPECT_TRUE(o.written() == image);
    // An edit in front of it moves it, and it still reads as blank.
    o.x->entries[0]->replaceData(memNew<ByteArray>(reinterpret_cast<const u8*>("a longer first file"), 19u));
    Bytes edited = o.written();
    Opened again("X.TRE", edited);
    ASSERT_NE(again.x, nullptr);
    EXPECT_EQ(again.names(), (std::vector<std::string>{"0x00000001", "0x00000003"}));
    EXPECT_TRUE(again.data(0) == bytesOf("a longer first file"));
    EXPECT_TRUE(again.data(1) == bytesOf("third"));
    EXPECT_EQ(again.x->blanks.count, 1u);
}

TEST(XtreArchive, BadDescriptorsAreSkipped)
{
    OptionScope options;
    Layout l;
    std::vector<XFile> files = {plain(bytesOf("one")), plain(bytesOf("two")), plain(bytesOf("three"))};
    Bytes probe = buildXtre(1, files, {{1, file(0)}, {2, file(1)}}, {}, &l);
    const std::string badDescriptor = "ERROR: Bad XTRE file descriptor offset!\n";
    const std::string badData = "ERROR: Bad XTRE file data offset!\n";
    struct Case
    {
        const char* what;
        Target target;
        size_t patchAt; // a descriptor word to change first (0 = none)
        u32 value;
        std::string printed;
        u32 other = 2; // the file a second slot names, which opens
    };
    std::vector<Case> cases = {
        {"descriptor past its region", raw(l.d - 4), 0, 0, badDescriptor},
        {"descriptor in the clash tables", raw(l.c - 8), 0, 0, badDescriptor},
        {"descriptor off its grid", raw(l.c + 4), 0, 0, badDescriptor},
        {"data before the data region", file(0), l.c, l.d - 1, badData},
        {"data past the end", file(2), l.c + 16, u32(probe.size()), badData, 0},
        {"next data offset not above", file(0), l.c + 8, l.d, badData},
        {"next data offset past the end", file(0), l.c + 8, u32(probe.size() + 1), badData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<u32, Target>> slots = {{0xAA, c.target}, {0xBB, file(c.other)}};
        Bytes image = buildXtre(1, files, slots);
        if (c.patchAt)
            setWord(image, c.patchAt, c.value);
        Opened o("X.TRE", image);
        ASSERT_NE(o.x, nullptr);
        EXPECT_EQ(o.printed, c.printed + "Reading files...\n");
        EXPECT_EQ(o.x->entries.count, 1u);
    }
    // With b = c every slot names a descriptor.
    Bytes noTables = buildXtre(1, files, {{1, file(0)}, {2, file(1)}, {3, file(2)}});
    Opened all("X.TRE", noTables);
    ASSERT_NE(all.x, nullptr);
    EXPECT_EQ(all.names(), (std::vector<std::string>{"0x00000001", "0x00000002", "0x00000003"}));
}

TEST(XtreArchive, ClashTables)
{
    OptionScope options(3);
    std::vector<XFile> files = {plain(bytesOf("A")), plain(bytesOf("BB")), plain(bytesOf("CCC")),
                                plain(bytesOf("DDDD"))};
    // Tables are read in ascending order of their offsets, after every slot; a NUL byte in a
    // name is dropped; a record that does not fit ends its table.
    std::vector<std::vector<Record>> tables = {
        {{std::string("FIRST\0.TXT", 10), file(0)}, {"SECOND.TXT", file(1)}},
        {{"THIRD.TXT", file(2)}, {"CUT", file(3)}},
    };
    Bytes image = buildXtre(1, files, {{0x99, table(1)}, {0x42, file(3)}, {0x98, table(0)}}, tables);
    // The last record claims a longer name than its table holds.
    size_t cut = std::string(image.begin(), image.end()).find("\x03" "CUT");
    ASSERT_NE(cut, std::string::npos);
    image[cut] = 200;
    Opened o("X.TRE", image);
    ASSERT_NE(o.x, nullptr);
    EXPECT_EQ(o.names(), (std::vector<std::string>{"0x00000042", "FIRST.TXT", "SECOND.TXT", "THIRD.TXT"}));
    EXPECT_EQ(o.x->entries[1]->fromClashTable, 1);
    EXPECT_EQ(o.x->entries[1]->hash, 0u);
    const std::string tail = "Clashing file: 'FIRST.TXT'\nClashing file: 'SECOND.TXT'\nResolved clash into 2 files.\n"
                             "Clashing file: 'THIRD.TXT'\nResolved clash into 1 files.\n";
    EXPECT_NE(o.printed.find(tail + "Couldn't match hash for '0x00000042'.\nReading files...\n"), std::string::npos)
        << o.printed;

    // A slot that names a place inside the hash table is fatal.
    Bytes bad = buildXtre(1, files, {{0x99, table(0)}, {0x42, raw(24)}}, tables);
    Opened refused("X.TRE", bad);
    EXPECT_EQ(refused.x, nullptr);
    EXPECT_EQ(refused.printed, "File size: " + std::to_string(bad.size()) +
                                   "\nGame IV XTRE file.\nERROR: Bad XTRE clash table offset!\n");
}

TEST(XtreArchive, NamesFromTheArchivesFileName)
{
    OptionScope options;
    std::vector<XFile> files = {plain(bytesOf("key")), plain(bytesOf("other"))};
    struct Case
    {
        u32 version;
        const char* archive;
        u32 hash;
        const char* listed;
    };
    std::vector<Case> cases = {
        {1, "GAMEFLOW.TRE", 0x82E8C2F3, "GAMEFLOW/KEYCODEG.DAT"},
        {1, "/games/sample/gameflow.tre", 0x82E8C2F3, "GAMEFLOW/KEYCODEG.DAT"},
        {0, "GAMEFLOW.TRE", 0x82E8C2F3, "0x82e8c2f3"},
        {0, "GAMEFLOW.TRE", 0x56174006, "KEYCODEE.DAT"},
        {0, "INSTALL.TRE", 0x392724A5, "AUTOEXEC.WC3"},
        {0, "FlightCD.tre", 0xA9F0474B, "MISSIONS/MISN-12.IFF"},
        {1, "FLIGHTCD.TRE", 0xA9F0474B, "0xa9f0474b"},
        {0, "OTHER.TRE", 0x12154DA6, "0x12154da6"},
        {0, "CD1MISS.TRE", 0x12154DA6, "GAMEFLOW/BRANCH1.PAK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        Opened o(c.archive, buildXtre(c.version, files, {{c.hash, file(0)}, {0x1, file(1)}}));
        ASSERT_NE(o.x, nullptr);
        std::string listing = captured([&] { o.x->list(0); });
        EXPECT_EQ(listing, std::string(c.listed) + " (3 bytes)\n0x00000001 (5 bytes)\nDone. 2 files, 8 bytes total.\n");
    }
}

TEST(XtreArchive, ListingPaths)
{
    OptionScope options;
    const std::pair<const char*, const char*> cases[] = {
        {"..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT", "GAMEFLOW/KEYCODEG.DAT"},
        {"AUTOEXEC.WC3", "AUTOEXEC.WC3"},
        {".\\PALFADE.IFF", "PALFADE.IFF"},
        {"DATA\\X.IFF", "X.IFF"},
        {"OTHER\\DATA\\X.IFF", "OTHER/DATA/X.IFF"},
        {"C:\\DATA\\X.IFF", "/DATA/X.IFF"},
        {"....//", ""},
        {"0x12345678", "0x12345678"},
    };
    for (const auto& [name, mapped] : cases)
        EXPECT_STREQ(mapXtrePath(String(name)).c_str(), mapped) << name;
    options.options.verbosity = 5;
    EXPECT_EQ(captured([] { mapXtrePath(String("..\\A\\B")); }), "'..\\A\\B' -> 'A/B'\n");
}

TEST(XtreArchive, DamagedStreamsRefuseTheArchive)
{
    OptionScope options;
    Bytes text = prose(2000, 3);
    XFile lzwx = packed(text, 2);
    lzwx.stored.resize(lzwx.stored.size() / 2);
    Bytes image = buildXtre(1, {plain(bytesOf("ok")), lzwx}, {{1, file(0)}, {2, file(1)}});
    Opened o("X.TRE", image);
    EXPECT_EQ(o.x, nullptr);
    char line[200];
    snprintf(line, sizeof line, "ERROR: Decompression of '0x00000002' failed! (%u bytes @ 0x%08X -> 2000 bytes)\n",
             u32(lzwx.stored.size()), wordAt(image, 20) + 2);
    EXPECT_EQ(o.printed, std::string("Reading files...\n") + line);

    // A RefPack stream that stops early.
    XFile refpack = packed(text, 1);
    refpack.stored.resize(refpack.stored.size() - 30);
    refpack.stored.push_back(0xFC);
    Bytes short_ = buildXtre(1, {refpack}, {{3, file(0)}});
    Opened s("X.TRE", short_);
    EXPECT_EQ(s.x, nullptr);
    EXPECT_NE(s.printed.find("ERROR: Decompression of '0x00000003' produced "), std::string::npos);
    EXPECT_NE(s.printed.find("; expected 2000. (" + std::to_string(refpack.stored.size()) + " bytes @ 0x"),
              std::string::npos);
}

TEST(XtreArchive, HostileSizesAreNotTrusted)
{
    OptionScope options;
    // 40 stored bytes that claim to unpack to a gigabyte.
    XFile claim = {Bytes(40, 0x01), 0x3FFFFFFF};
    Bytes image = buildXtre(1, {claim}, {{1, file(0)}});
    u64 before = memLiveBytes();
    Opened o("X.TRE", image);
    EXPECT_EQ(o.x, nullptr);
    EXPECT_LT(memLiveBytes(), before + 65536);
    // A slot table that claims the whole 4 GiB range is refused before anything is read.
    Bytes huge = image;
    setWord(huge, 12, 0xFFFFFFF8);
    Opened h("X.TRE", huge);
    EXPECT_EQ(h.x, nullptr);
}

TEST(XtreArchive, EditsAreWrittenInTheEntrysOwnPacking)
{
    OptionScope options;
    Bytes text = prose(3000, 5);
    std::vector<XFile> files = {plain(text, 1), packed(text, 1, 2), packed(text, 2, 3), packed(text, 1),
                                plain(bytesOf("last"))};
    Bytes image = buildXtre(1, files, {{1, file(0)}, {2, file(1)}, {3, file(2)}, {4, file(3)}, {5, file(4)}});
    Opened o("X.TRE", image);
    ASSERT_NE(o.x, nullptr);
    // Text that packs, a run whose best RefPack stream starts with a match, and bytes that do
    // not pack at all.
    Bytes edit = prose(5000, 6);
    Bytes run(3000, 'z');
    Bytes noise = iotest::randomBytes(700, 7);
    o.x->entries[0]->replaceData(memNew<ByteArray>(edit.data(), u32(edit.size())));
    o.x->entries[1]->replaceData(memNew<ByteArray>(run.data(), u32(run.size())));
    o.x->entries[2]->replaceData(memNew<ByteArray>(edit.data(), u32(edit.size())));
    o.x->entries[3]->replaceData(memNew<ByteArray>(noise.data(), u32(noise.size())));
    // The same bytes again change nothing.
    o.x->entries[4]->replaceData(memNew<ByteArray>(reinterpret_cast<const u8*>("last"), 4u));
    EXPECT_EQ(o.x->entries[4]->modified, 0);
    Bytes written = o.written();
    Opened again("X.TRE", written);
    ASSERT_NE(again.x, nullptr) << again.printed;
    const u8 types[] = {0, 1, 2, 0, 0};
    const Bytes contents[] = {edit, run, edit, noise, bytesOf("last")};
    // Plain and packed entries keep their size words' top bits; one that no longer packs loses them.
    const u32 flags[] = {1, 2, 3, 0, 0};
    for (u32 i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(again.x->entries[i]->type, types[i]);
        EXPECT_TRUE(again.data(i) == contents[i]);
        EXPECT_EQ(again.x->entries[i]->sizeWord >> 30, flags[i]);
    }
    // Nothing else of the image moved: header, slots and the untouched entry's bytes.
    EXPECT_TRUE(Bytes(written.begin(), written.begin() + 24 + 40) == Bytes(image.begin(), image.begin() + 24 + 40));
    EXPECT_TRUE(Bytes(written.end() - 4, written.end()) == bytesOf("last"));
    // And a second write is a fixed point.
    EXPECT_TRUE(again.written() == written);
}

TEST(XtreArchive, EmptyFiles)
{
    OptionScope options;
    for (u32 version : {0u, 1u}) {
        SCOPED_TRACE(version);
        Bytes image = buildXtre(version, {plain(bytesOf("one")), plain(bytesOf("two"))}, {{1, file(0)}, {2, file(1)}});
        Opened o("X.TRE", image);
        ASSERT_NE(o.x, nullptr);
        o.x->entries[0]->replaceData(memNew<ByteArray>(u32(0)));
        ByteArray* out = nullptr;
        std::string printed = captured([&] { out = o.x->serialise(noProgress, 0); });
        if (version == 0) {
            // A version 0 descriptor cannot hold an empty file: it would read back as blank.
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(printed, "ERROR: Empty files can't be stored in this XTRE archive: '0x00000001'!\n");
            continue;
        }
        ASSERT_NE(out, nullptr);
        Bytes written = toBytes(out);
        deleteByteArray(out);
        Opened again("X.TRE", written);
        ASSERT_NE(again.x, nullptr);
        ASSERT_EQ(again.x->entries.count, 2u);
        EXPECT_EQ(again.x->entries[0]->dataSize(), 0u);
        EXPECT_TRUE(again.data(1) == bytesOf("two"));
        EXPECT_TRUE(again.written() == written);
    }
}

TEST(XtreArchive, DescriptorsTheSlotsDoNotNameStayConsistent)
{
    OptionScope options;
    // Two slots name one descriptor; the last descriptor is named by nobody.
    std::vector<XFile> files = {plain(bytesOf("shared")), plain(bytesOf("middle")), plain(bytesOf("unnamed"))};
    Bytes image = buildXtre(1, files, {{1, file(0)}, {2, file(0)}, {3, file(1)}});
    Opened o("X.TRE", image);
    ASSERT_NE(o.x, nullptr);
    ASSERT_EQ(o.x->entries.count, 3u);
    // Unchanged, the archive comes back as it was, the unnamed bytes dropped.
    Bytes written = o.written();
    EXPECT_EQ(written.size(), image.size() - 7);
    o.x->entries[1]->replaceData(memNew<ByteArray>(reinterpret_cast<const u8*>("SHARED!"), 7u));
    o.x->entries[2]->replaceData(memNew<ByteArray>(reinterpret_cast<const u8*>("the middle file"), 15u));
    Bytes edited = o.written();
    Opened again("X.TRE", edited);
    ASSERT_NE(again.x, nullptr) << again.printed;
    ASSERT_EQ(again.x->entries.count, 3u);
    // The changed one of the two takes the shared block; the span after the last block ends at
    // the end of the file.
    EXPECT_TRUE(again.data(0) == bytesOf("SHARED!"));
    EXPECT_TRUE(again.data(1) == bytesOf("SHARED!"));
    EXPECT_TRUE(again.data(2) == bytesOf("the middle file"));
    EXPECT_EQ(edited.size(), wordAt(edited, 20) + 7 + 15);
    EXPECT_TRUE(again.written() == edited);
}

TEST(XtreArchive, RepackFromADirectory)
{
    OptionScope options(1);
    Bytes text = prose(1200, 9);
    Bytes inner = buildXtre(1, {plain(bytesOf("deep file"))}, {{0x82E8C2F3, file(0)}});
    std::vector<XFile> files = {plain(text), plain(inner), packed(text, 2)};
    std::vector<Record> records = {{"..\\..\\DATA\\SUB\\GAMEFLOW.TRE", file(1)}, {"..\\..\\DATA\\SUB\\NOTE.TXT", file(2)}};
    Bytes image = buildXtre(1, files, {{0x31, file(0)}, {0x32, table(0)}}, {records});
    iotest::ScratchDir dir;
    const std::string tree = dir.file("tree");
    writeTree(tree, {{"0x00000031", text},
                     {"SUB/GAMEFLOW.TRE/GAMEFLOW/KEYCODEG.DAT", bytesOf("new deep file")},
                     {"SUB/NOTE.TXT", bytesOf("a new note")}});
    Opened o("OUTER.TRE", image);
    ASSERT_NE(o.x, nullptr);
    ASSERT_NE(o.x->entries[1]->nested, nullptr);
    bool ok = false;
    std::string printed = captured([&] { ok = o.x->repack(String(tree.c_str()), String(), 0); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(printed, " << 0x00000031\n << [SUB]\n <<< NOTE.TXT\n <<< [GAMEFLOW.TRE] (Container)\n"
                       " <<<< [GAMEFLOW]\n <<<<< KEYCODEG.DAT\n");
    EXPECT_EQ(o.x->entries[0]->modified, 0);
    Opened again("OUTER.TRE", o.written());
    ASSERT_NE(again.x, nullptr);
    ASSERT_NE(again.x->entries[1]->nested, nullptr);
    auto* nested = static_cast<ContainerXTRE*>(again.x->entries[1]->nested);
    EXPECT_TRUE(toBytes(nested->entries[0]->data) == bytesOf("new deep file"));
    EXPECT_TRUE(again.data(2) == bytesOf("a new note"));
    EXPECT_EQ(again.x->entries[2]->type, 0); // too short to pack

    // The nested archive handed back whole replaces the entry's bytes.
    Bytes replacement = buildXtre(1, {plain(bytesOf("whole"))}, {{0x82E8C2F3, file(0)}});
    const std::string flat = dir.file("flat");
    writeTree(flat, {{"SUB/GAMEFLOW.TRE", replacement}});
    options.options.verbosity = 0;
    EXPECT_TRUE(again.x->repack(String(flat.c_str()), String(), 0));
    EXPECT_EQ(again.x->entries[1]->nested, nullptr);
    EXPECT_TRUE(again.data(1) == replacement);

    // Files with no entry fail the repack, with or without adding; each one is named.
    const std::string extra = dir.file("extra");
    writeTree(extra, {{"NEW.TXT", bytesOf("new")}});
    std::string refused = captured([&] { ok = again.x->repack(String(extra.c_str()), String(), 0); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(refused, "ERROR: File 'NEW.TXT' not found in container!\n");
    options.options.addNewFiles = 1;
    refused = captured([&] { ok = again.x->repack(String(extra.c_str()), String(), 0); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(refused, "ERROR: File 'NEW.TXT' not found in container!\n"
                       "ERROR: Adding new files to XTRE containers is not supported.\n");
}

TEST(XtreArchive, HashLinesNameTheEntries)
{
    OptionScope options(2);
    Bytes image = buildXtre(1, {plain(bytesOf("a")), plain(bytesOf("b"))}, {{0x82E8C2F3, file(0)}, {5, file(1)}});
    Opened o("GAMEFLOW.TRE", image);
    ASSERT_NE(o.x, nullptr);
    Md5 md5;
    std::string printed = captured([&] { o.x->hashContents(md5, 1); });
    // The same walk by hand: a digest is taken on the live context after each entry.
    Md5 live;
    live.update("a", 1);
    const u64 first = peekDigest(live);
    live.update("b", 1);
    const u64 second = peekDigest(live);
    EXPECT_EQ(printed, " ..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT -> " + std::to_string(first) + "\n 0x00000005 -> " +
                           std::to_string(second) + "\n");
    EXPECT_EQ(o.x->fileCount(), 2u);
}

// The generated XTRE archives (tests/fixtures/make_fixtures.py): their LZWX entries were packed
// by an encoder of the generator's own, and ours must give the same bytes; every archive that
// opens is written back byte for byte.
TEST(XtreArchive, GeneratedArchives)
{
    OptionScope options;
    const std::string fixtures = MORDAX_FIXTURES_DIR;
    FILE* index = fopen((fixtures + "/index.tsv").c_str(), "r");
    ASSERT_NE(index, nullptr);
    char line[1024];
    u32 archives = 0, lzwxEntries = 0;
    while (fgets(line, sizeof line, index)) {
        char name[256], format[64], archive[512];
        int opens = 0;
        if (sscanf(line, "%255s %63s %511s %d", name, format, archive, &opens) != 4 || strcmp(format, "XTRE") != 0)
            continue;
        SCOPED_TRACE(name);
        ByteArray* bytes = readWholeFile(String((fixtures + "/" + archive).c_str()));
        ASSERT_NE(bytes, nullptr);
        const std::string file = std::filesystem::path(archive).filename().string();
        Container* c = nullptr;
        captured([&] { c = detectContainer(String(file.c_str()), *bytes); });
        EXPECT_EQ(c != nullptr, opens == 1);
        if (c) {
            archives++;
            auto* x = static_cast<ContainerXTRE*>(c);
            for (XtreEntry* e : x->entries) {
                if (e->type != 2)
                    continue;
                lzwxEntries++;
                ByteArray* ours = compressLZWX(*e->data);
                EXPECT_TRUE(toBytes(ours) == toBytes(e->raw)) << e->name.c_str();
                deleteByteArray(ours);
            }
            ByteArray* written = c->serialise(noProgress, 0);
            EXPECT_TRUE(toBytes(written) == toBytes(bytes));
            deleteByteArray(written);
            deleteContainer(c);
        }
        deleteByteArray(bytes);
    }
    fclose(index);
    EXPECT_GE(archives, 5u);
    EXPECT_GE(lzwxEntries, 5u);
}
