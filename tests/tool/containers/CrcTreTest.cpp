// CRC-TRE archives through the container interface. Test archives are laid out here byte by
// byte (never by the tool's own writer); packed entries use literal-only LZSS streams, which is
// exactly what the encoder makes of text without repeated pairs.
#include "framework/io/FileStream.h"
#include "tests/framework/io/IoTestUtil.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tool/containers/ContainerCRCTRE.h"
#include "tool/containers/Driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
using namespace testutil;

// The name CRC from its definition, bit by bit.
u32 referenceCrc(const std::string& name)
{
    u32 crc = 0;
    for (unsigned char c : name) {
        if (c >= 'A' && c <= 'Z')
            c = u8(c + 32);
        crc ^= c;
        for (int k = 0; k < 8; k++)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

// An LZSS stream that codes every byte as a literal.
Bytes literalLzss(const Bytes& data)
{
    Bytes out;
    u32 acc = 0;
    int bits = 0;
    auto put = [&](u32 value, int n) {
        for (int i = n - 1; i >= 0; i--) {
            acc = (acc << 1) | ((value >> i) & 1);
            if (++bits == 8) {
                out.push_back(u8(acc));
                acc = 0;
                bits = 0;
            }
        }
    };
    for (u8 b : data) {
        put(1, 1);
        put(b, 8);
    }
    put(0, 13);
    if (bits)
        out.push_back(u8(acc << (8 - bits)));
    return out;
}

struct RawEntry
{
    std::string name;    // the name field up to its NUL
    Bytes content;       // unpacked
    bool packed = false; // stored as a literal-only LZSS stream
    std::string tail;    // bytes of the name field after the NUL
    bool badCrc = false;
};

void putU32(Bytes& b, u32 v)
{
    for (int i = 0; i < 4; i++)
        b.push_back(u8(v >> (8 * i)));
}

void setU32(Bytes& b, size_t at, u32 v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = u8(v >> (8 * i));
}

// Data in the order given, straight after the table; the table ordered by CRC (stable), which is
// how the games' archives and the tool's writer lay them out, or else in the order given.
Bytes buildImage(const std::vector<RawEntry>& entries, u8 flags = 0, bool tableByCrc = true)
{
    const u32 n = u32(entries.size());
    u32 position = 16 + 272 * n;
    struct Row
    {
        u32 crc, size, offset, packed;
        std::string field;
    };
    std::vector<Row> rows;
    Bytes data;
    for (const RawEntry& e : entries) {
        Bytes stored = e.packed ? literalLzss(e.content) : e.content;
        std::string field = e.name;
        field.push_back('\0');
        field += e.tail;
        field.resize(256, '\0');
        u32 crc = referenceCrc(e.name) ^ (e.badCrc ? 0x5A5A5A5Au : 0);
        rows.push_back({crc, u32(e.content.size()), position, e.packed ? u32(stored.size()) : 0, field});
        data.insert(data.end(), stored.begin(), stored.end());
        position += u32(stored.size());
    }
    if (tableByCrc)
        std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.crc < b.crc; });
    Bytes image;
    putU32(image, n);
    image.push_back(flags);
    image.resize(16, 0);
    for (const Row& r : rows) {
        putU32(image, r.crc);
        putU32(image, r.size);
        putU32(image, r.offset);
        putU32(image, r.packed);
        image.insert(image.end(), r.field.begin(), r.field.end());
    }
    image.insert(image.end(), data.begin(), data.end());
    return image;
}

ContainerCRCTRE* openImage(const Bytes& image, const char* name = "TEST.TRE")
{
    return openKept<ContainerCRCTRE>(ContainerCRCTRE::open, name, image);
}

struct ContainerHolder
{
    ContainerCRCTRE* c;
    explicit ContainerHolder(ContainerCRCTRE* p) : c(p) {}
    ~ContainerHolder() { deleteContainer(c); }
    ContainerCRCTRE* operator->() const { return c; }
};

Bytes serialised(ContainerCRCTRE& c)
{
    ByteArray* out = c.serialise(nullptr, 0);
    Bytes b = toBytes(out);
    deleteByteArray(out);
    return b;
}

// One table row of an image, read independently of the container.
struct TableRow
{
    u32 crc, size, offset, packed;
    std::string name;
};

std::vector<TableRow> tableOf(const Bytes& image)
{
    std::vector<TableRow> rows;
    u32 n = image[0] | image[1] << 8 | image[2] << 16 | u32(image[3]) << 24;
    for (u32 i = 0; i < n; i++) {
        const u8* p = image.data() + 16 + 272 * i;
        auto u32At = [&](int o) { return p[o] | p[o + 1] << 8 | p[o + 2] << 16 | u32(p[o + 3]) << 24; };
        rows.push_back({u32At(0), u32At(4), u32At(8), u32At(12), std::string(reinterpret_cast<const char*>(p + 16))});
    }
    return rows;
}

void writeFile(const std::string& path, const Bytes& b)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Every regular file below root, as relative paths, sorted.
std::vector<std::string> filesBelow(const std::string& root)
{
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

const CrcTreEntry* entryNamed(ContainerCRCTRE& c, const char* name)
{
    for (CrcTreEntry* e : c.entries)
        if (e->name.equals(name))
            return e;
    return nullptr;
}

std::vector<RawEntry> sampleEntries()
{
    return {
        {"DATA\\SOUND\\A.DAT", bytesOf("hello world"), false, "", false},
        {"B.BIN", bytesOf("x"), false, "", false},
        {"TEXT\\C.TXT", bytesOf("The quick brown fox"), true, "", false},
        {"CASE.DAT", bytesOf("upper"), false, "", false},
        {"case.dat", bytesOf("lower"), false, "", false},
        {"..\\..\\ESCAPE.DAT", bytesOf("hostile"), false, "", false},
        {"EMPTY.DAT", Bytes(), false, "", false},
    };
}
}

TEST(CrcTreCrc, MatchesZlibOnLowerCasedNames)
{
    // Bytes above 0x7F pass through unchanged: only ASCII letters fold.
    const std::vector<std::string> names = {
        "", "a", "A", "DATA\\X.IFF", "..\\..\\DATA\\SOUND\\EXPLODE.VOC", "MiXeD.CaSe", "\xC9T\xC9.DAT",
        std::string(255, 'Q'),
    };
    std::string hexList;
    for (const std::string& n : names) {
        if (!hexList.empty())
            hexList += ",";
        hexList += "'";
        for (unsigned char c : n) {
            char h[3];
            snprintf(h, sizeof h, "%02x", c);
            hexList += h;
        }
        hexList += "'";
    }
    std::string cmd = "python3 -c \"import zlib\nfor h in [" + hexList +
                      "]: print(zlib.crc32(bytes.fromhex(h).lower(), 0xFFFFFFFF) ^ 0xFFFFFFFF)\"";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    for (const std::string& n : names) {
        unsigned long expected = 0;
        ASSERT_EQ(fscanf(p, "%lu", &expected), 1) << n;
        char field[257] = {};
        memcpy(field, n.data(), n.size());
        EXPECT_EQ(crcTreNameCrc(field), u32(expected)) << n;
        EXPECT_EQ(referenceCrc(n), u32(expected)) << n;
    }
    pclose(p);
}

TEST(CrcTreCrc, StopsAtTheEndOfTheNameField)
{
    char field[257];
    memset(field, 'Z', 256);
    field[256] = 0;
    EXPECT_EQ(crcTreNameCrc(field), referenceCrc(std::string(256, 'Z')));
}

TEST(CrcTreProbe, AcceptsOnlyItsOwnHeaders)
{
    auto header = [](u32 count, u32 w1, u32 w2, u32 w3) {
        Bytes b;
        putU32(b, count);
        putU32(b, w1);
        putU32(b, w2);
        putU32(b, w3);
        return b;
    };
    struct Case
    {
        const char* name;
        Bytes bytes;
        bool expected;
    };
    const Case cases[] = {
        {"X.TRE", header(1, 0, 0, 0), true},
        {"dir/x.tre", header(3, 1, 0, 0), true},
        {"X.TrE", header(65535, 0, 0, 0), true},
        {"X.DAT", header(1, 0, 0, 0), false},
        {"X.TRE.BAK", header(1, 0, 0, 0), false},
        {"X.TRE", header(0, 0, 0, 0), false},
        {"X.TRE", header(65536, 0, 0, 0), false},
        {"X.TRE", header(1, 2, 0, 0), false},
        {"X.TRE", header(1, 0, 8, 0), false},
        {"X.TRE", header(1, 0, 0, 1), false},
        {"X.TRE", bytesOf("XTRE\0\0\0\0\0\0\0\0\0\0\0\0"), false},
        {"X.TRE", bytesOf("SKNK"), false},
        {"X.TRE", Bytes{1, 0, 0}, false},
        {"X.TRE", Bytes{1, 0, 0, 0}, true},
        {"X.TRE", Bytes{1, 0, 0, 0, 1, 0}, true},
    };
    for (const Case& c : cases) {
        ByteArray bytes = toArray(c.bytes);
        EXPECT_EQ(ContainerCRCTRE::probe(c.name, bytes), c.expected) << c.name << " " << c.bytes.size();
    }
}

TEST(CrcTreOpen, ListsEntriesWithSlashesAndTotals)
{
    OptionScope opts;
    ContainerCRCTRE* opened = nullptr;
    captured([&] { opened = openImage(buildImage(sampleEntries(), 0, false)); });
    ContainerHolder c(opened);
    ASSERT_NE(c.c, nullptr);
    EXPECT_EQ(c->fileCount(), 7u);
    EXPECT_EQ(captured([&] { c->list(0); }), "DATA/SOUND/A.DAT (11 bytes)\n"
                                               "B.BIN (1 byte)\n"
                                               "TEXT/C.TXT (19 bytes)\n"
                                               "CASE.DAT (5 bytes)\n"
                                               "case.dat (5 bytes)\n"
                                               "../../ESCAPE.DAT (7 bytes)\n"
                                               "EMPTY.DAT (0 bytes)\n"
                                               "Done. 7 files, 48 bytes total.\n");
    EXPECT_EQ(captured([&] { c->list(2); }).substr(0, 24), "  DATA/SOUND/A.DAT (11 b");
}

TEST(CrcTreOpen, ReportsTheTableAtHighVerbosity)
{
    std::vector<RawEntry> entries = {
        {"A.DAT", bytesOf("abc"), false, "", false},
        {"B.TXT", bytesOf("xyz"), true, "", true},
    };
    Bytes image = buildImage(entries, 1);
    std::vector<TableRow> rows = tableOf(image);
    OptionScope opts(3);
    ContainerCRCTRE* c = nullptr;
    std::string out = captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->flags, 1);
    std::string want = "File size: " + std::to_string(image.size()) +
                       "\nReading header...\n -> Number of files: 2\n -> Flags: 1\nReading Table of Contents...\n";
    char line[160];
    for (const TableRow& r : rows) {
        snprintf(line, sizeof line, " -> 0x%08X [0x%08X] %s (%u bytes%s)\n", r.offset, r.crc, r.name.c_str(),
                 r.packed ? r.packed : r.size, r.packed ? " LZSS" : "");
        want += line;
    }
    want += " -> End of TOC: 560\n -> First file: offset 560\nReading files...\n";
    for (const TableRow& r : rows) {
        want += " >> " + r.name + "\n";
        // A CRC that does not fit the name is reported and kept.
        if (r.name == "B.TXT") {
            snprintf(line, sizeof line, " --> CRC mismatch! (0x%08X vs 0x%08X)\n", referenceCrc("B.TXT"), r.crc);
            want += line;
        }
    }
    EXPECT_EQ(out, want);
    EXPECT_EQ(entryNamed(*c, "B.TXT")->crc, referenceCrc("B.TXT") ^ 0x5A5A5A5Au);
    EXPECT_EQ(toBytes(entryNamed(*c, "B.TXT")->data), bytesOf("xyz"));
}

TEST(CrcTreOpen, RefusesDamagedArchivesWithOneLine)
{
    Bytes good = buildImage({{"A.DAT", bytesOf("abcdef"), false, "", false}, {"P.TXT", bytesOf("packed"), true, "", false}});
    std::vector<TableRow> rows = tableOf(good);
    const size_t a = rows[0].name == "A.DAT" ? 0 : 1;
    const size_t p = 1 - a;
    auto row = [](size_t i) { return 16 + 272 * i; };

    struct Case
    {
        const char* what;
        Bytes image;
        std::string expected;
    };
    std::vector<Case> cases;
    {
        Bytes b = good;
        setU32(b, row(a) + 4, 0xFFFFFFFFu); // a stored size of 4 GiB in a small file
        char line[80];
        snprintf(line, sizeof line, "ERROR: Read failure! (4294967295 bytes @ 0x%X)\n", rows[a].offset);
        cases.push_back({"huge stored size", b, std::string("Reading files...\n") + line});
    }
    {
        Bytes b = good;
        setU32(b, row(a) + 8, u32(good.size() - 2)); // runs past the end
        char line[80];
        snprintf(line, sizeof line, "ERROR: Read failure! (6 bytes @ 0x%X)\n", u32(good.size() - 2));
        cases.push_back({"stored data past the end", b, std::string("Reading files...\n") + line});
    }
    {
        Bytes b = good;
        setU32(b, row(p) + 12, rows[p].packed + 100); // packed stream past the end
        char line[80];
        snprintf(line, sizeof line, "ERROR: Read failure! (%u bytes @ 0x%X)\n", rows[p].packed + 100, rows[p].offset);
        cases.push_back({"packed data past the end", b, std::string("Reading files...\n") + line});
    }
    {
        Bytes b = good;
        setU32(b, row(p) + 4, 0xFFFFFFF0u); // claims far more than the stream can hold
        cases.push_back({"packed size beyond the stream", b, "Reading files...\nERROR: Decompression of 'P.TXT' failed!\n"});
    }
    {
        Bytes b = good;
        setU32(b, row(p) + 4, rows[p].size + 1); // the stream ends one byte short
        cases.push_back({"short stream", b, "Reading files...\nERROR: Decompression of 'P.TXT' failed!\n"});
    }
    {
        Bytes b(good.begin(), good.begin() + 16 + 272 + 100); // the table is cut off
        cases.push_back({"cut table", b, "ERROR: This doesn't seem to be a valid CRC-TRE file!\n"});
    }
    {
        Bytes b = {1, 0, 0, 0};
        cases.push_back({"count only", b, "ERROR: This doesn't seem to be a valid CRC-TRE file!\n"});
    }
    {
        Bytes b(300, 0);
        setU32(b, 0, 65535);
        cases.push_back({"many entries in 300 bytes", b, "ERROR: This doesn't seem to be a valid CRC-TRE file!\n"});
    }
    for (Case& c : cases) {
        OptionScope opts;
        ContainerCRCTRE* container = reinterpret_cast<ContainerCRCTRE*>(1);
        std::string out = captured([&] { container = openImage(c.image); });
        EXPECT_EQ(container, nullptr) << c.what;
        EXPECT_EQ(out, c.expected) << c.what;
        deleteContainer(container);
    }
}

TEST(CrcTreOpen, EmptyEntryMayPointPastTheEnd)
{
    Bytes image = buildImage({{"A.DAT", bytesOf("abc"), false, "", false}, {"E.DAT", Bytes(), false, "", false}});
    std::vector<TableRow> rows = tableOf(image);
    size_t e = rows[0].name == "E.DAT" ? 0 : 1;
    setU32(image, 16 + 272 * e + 8, 0xFFFFFF00u);
    OptionScope opts;
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(entryNamed(*c, "E.DAT")->dataSize(), 0u);
}

TEST(CrcTreWrite, ReproducesArchivesByteForByte)
{
    std::vector<RawEntry> entries = sampleEntries();
    entries.push_back({"PACKED\\EMPTY.TXT", Bytes(), true, "", false});
    entries.push_back({"MISMATCH.DAT", bytesOf("crc kept"), false, "", true});
    entries.push_back({"TAIL.DAT", bytesOf("tail"), false, "junk after the terminator", false});
    for (u8 flags : {0, 1}) {
        Bytes image = buildImage(entries, flags);
        OptionScope opts;
        ContainerCRCTRE* c = nullptr;
        captured([&] { c = openImage(image); });
        ContainerHolder holder(c);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(serialised(*c), image);
        // A second write from the same container gives the same bytes again.
        EXPECT_EQ(serialised(*c), image);
    }
}

TEST(CrcTreWrite, EmptyFilesKeepTheirPlaceAmongEqualOffsets)
{
    // EMPTY.DAT shares its offset with FULL.DAT, whose CRC puts it first in the table; the
    // empty file still goes first, or its offset would move on every rewrite.
    ASSERT_LT(referenceCrc("FULL.DAT"), referenceCrc("EMPTY.DAT"));
    std::vector<RawEntry> entries = {
        {"A.DAT", bytesOf("first"), false, "", false},
        {"EMPTY.DAT", Bytes(), false, "", false},
        {"EMPTY2.DAT", Bytes(), false, "", false},
        {"FULL.DAT", bytesOf("full"), false, "", false},
        {"LAST.DAT", Bytes(), false, "", false},
    };
    Bytes image = buildImage(entries);
    OptionScope opts;
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(serialised(*c), image);
}

TEST(CrcTreWrite, CountsProgressOncePerEntry)
{
    static u32 calls;
    static u32 lastDepth;
    calls = 0;
    OptionScope opts;
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(buildImage(sampleEntries())); });
    ContainerHolder holder(c);
    ByteArray* out = c->serialise(
        [](u32 depth) {
            calls++;
            lastDepth = depth;
        },
        3);
    deleteByteArray(out);
    EXPECT_EQ(calls, 7u);
    EXPECT_EQ(lastDepth, 3u);
}

TEST(CrcTreExtract, WritesEveryEntryInsideTheDirectory)
{
    iotest::ScratchDir scratch;
    const std::string out = scratch.file("out");
    OptionScope opts(2);
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(buildImage(sampleEntries(), 0, false)); });
    ContainerHolder holder(c);
    u32 written = 0;
    std::string log = captured([&] { written = c->extract((out + "/").c_str(), 0); });
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(log, " >> " + out + "/DATA/SOUND/A.DAT\n >> " + out + "/B.BIN\n >> " + out + "/TEXT/C.TXT\n >> " + out +
                       "/CASE.DAT\n >> " + out + "/case.dat\n >> " + out + "/ESCAPE.DAT\n >> " + out +
                       "/EMPTY.DAT\nDone. Extracted 7/7 files.\n");
    // Nothing lands beside the output directory.
    EXPECT_EQ(filesBelow(scratch.path), (std::vector<std::string>{"out/B.BIN", "out/CASE.DAT", "out/DATA/SOUND/A.DAT",
                                                                  "out/EMPTY.DAT", "out/ESCAPE.DAT",
                                                                  "out/TEXT/C.TXT", "out/case.dat"}));
    EXPECT_EQ(readFile(out + "/TEXT/C.TXT"), bytesOf("The quick brown fox"));
    EXPECT_EQ(readFile(out + "/CASE.DAT"), bytesOf("upper"));
    EXPECT_EQ(readFile(out + "/case.dat"), bytesOf("lower"));
    EXPECT_EQ(readFile(out + "/ESCAPE.DAT"), bytesOf("hostile"));
    EXPECT_FALSE(toolFailureNoted());
}

TEST(CrcTreExtract, HostileNamesStayInsideTheDirectory)
{
    const std::vector<std::string> names = {"..\\..\\..\\..\\X1", "C:\\X2", "\\X3", "A\\..\\..\\X4", "..", "/X6",
                                            "..\\.\\"};
    std::vector<RawEntry> entries;
    for (const std::string& n : names)
        entries.push_back({n, bytesOf(n), false, "", false});
    iotest::ScratchDir scratch;
    fs::create_directories(scratch.file("a/b/c"));
    const std::string out = scratch.file("a/b/c/out");
    OptionScope opts;
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(buildImage(entries)); });
    ContainerHolder holder(c);
    captured([&] { c->extract(out.c_str(), 0); });
    // Names that map to nothing take their table index.
    std::vector<std::string> expected = {"a/b/c/out/A/X4", "a/b/c/out/X1", "a/b/c/out/X2", "a/b/c/out/X3",
                                         "a/b/c/out/X6"};
    for (const CrcTreEntry* e : c->entries)
        if (e->name.equals("..") || e->name.equals(".././"))
            expected.push_back("a/b/c/out/_00" + std::to_string(e->index));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesBelow(scratch.path), expected);
    EXPECT_EQ(readFile(out + "/X1"), bytesOf(names[0]));
}

TEST(CrcTreExtract, StopsAtTheFirstFileThatCannotBeWritten)
{
    iotest::ScratchDir scratch;
    writeFile(scratch.file("blocker"), bytesOf("a file, not a directory"));
    const std::string out = scratch.file("blocker/out");
    OptionScope opts;
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(buildImage(sampleEntries(), 0, false)); });
    ContainerHolder holder(c);
    u32 written = 1;
    std::string log = captured([&] { written = c->extract(out.c_str(), 0); });
    EXPECT_EQ(written, 0u);
    // The file layer logs its own line about the directory it could not make.
    const std::string tail = "ERROR: Write failure for '" + out + "/DATA/SOUND/A.DAT'!\nERROR: Couldn't write '" + out +
                             "/DATA/SOUND/A.DAT' (Not a directory)!\nDone. Extracted 0/7 files.\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(log.find(" >> "), std::string::npos);
    EXPECT_TRUE(toolFailureNoted());
}

TEST(CrcTreRepack, EditedFilesReplaceTheirEntriesOnly)
{
    iotest::ScratchDir scratch;
    const std::string dir = scratch.file("tree");
    Bytes image = buildImage(sampleEntries());
    OptionScope opts(1);
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    captured([&] { c->extract(dir.c_str(), 0); });
    writeFile(dir + "/TEXT/C.TXT", bytesOf("Edited and packed again"));
    writeFile(dir + "/case.dat", bytesOf("lower, edited"));
    bool ok = false;
    std::string log = captured([&] { ok = c->repack(dir.c_str(), "", 0); });
    EXPECT_TRUE(ok);
    // Files in scan order (upper-cased names, then bytes), then each directory.
    EXPECT_EQ(log, " << B.BIN\n << CASE.DAT\n << case.dat\n << EMPTY.DAT\n << ESCAPE.DAT\n"
                   " << [DATA]\n <<< [SOUND]\n <<<< A.DAT\n << [TEXT]\n <<< C.TXT\n");
    Bytes written = serialised(*c);

    // Replaced entries come first in the data, untouched ones keep their old order; the table
    // stays ordered by CRC.
    std::vector<TableRow> rows = tableOf(written);
    for (size_t i = 1; i < rows.size(); i++)
        EXPECT_LE(rows[i - 1].crc, rows[i].crc);
    ContainerCRCTRE* again = nullptr;
    captured([&] { again = openImage(written); });
    ContainerHolder holder2(again);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(toBytes(entryNamed(*again, "TEXT/C.TXT")->data), bytesOf("Edited and packed again"));
    EXPECT_TRUE(entryNamed(*again, "TEXT/C.TXT")->compressed);
    EXPECT_EQ(toBytes(entryNamed(*again, "case.dat")->data), bytesOf("lower, edited"));
    EXPECT_EQ(toBytes(entryNamed(*again, "CASE.DAT")->data), bytesOf("upper"));
    EXPECT_EQ(toBytes(entryNamed(*again, "DATA/SOUND/A.DAT")->data), bytesOf("hello world"));
    EXPECT_EQ(toBytes(entryNamed(*again, "../../ESCAPE.DAT")->data), bytesOf("hostile"));

    // Edited files move to the front of the data in table order; files whose bytes came back
    // unchanged keep their old order on disk.
    std::vector<std::string> dataOrder;
    std::vector<TableRow> byOffset = rows;
    std::sort(byOffset.begin(), byOffset.end(), [](const TableRow& a, const TableRow& b) { return a.offset < b.offset; });
    for (const TableRow& r : byOffset)
        if (r.size)
            dataOrder.push_back(r.name);
    const std::vector<std::string> edited = {"TEXT\\C.TXT", "case.dat"};
    std::vector<std::string> expected;
    for (const TableRow& r : tableOf(image))
        if (r.size && std::find(edited.begin(), edited.end(), r.name) != edited.end())
            expected.push_back(r.name);
    std::vector<TableRow> oldByOffset = tableOf(image);
    std::stable_sort(oldByOffset.begin(), oldByOffset.end(),
                     [](const TableRow& a, const TableRow& b) { return a.offset < b.offset; });
    for (const TableRow& r : oldByOffset)
        if (r.size && std::find(edited.begin(), edited.end(), r.name) == edited.end())
            expected.push_back(r.name);
    EXPECT_EQ(dataOrder, expected);
}

TEST(CrcTreRepack, ReplacedFilesGoFirstAndAddedFilesLast)
{
    iotest::ScratchDir scratch;
    const std::string dir = scratch.file("tree");
    std::vector<RawEntry> entries = {
        {"ONE.DAT", bytesOf("1"), false, "", false},
        {"TWO.TXT", bytesOf("two"), true, "", false},
        {"THREE.DAT", bytesOf("333"), false, "", false},
    };
    Bytes image = buildImage(entries);
    OptionScope opts(2, true);
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    writeFile(dir + "/three.dat", bytesOf("three"));
    writeFile(dir + "/NEW.txt", bytesOf("a new text"));
    writeFile(dir + "/SUB/NEW.XYZ", bytesOf("stored as is"));
    bool ok = false;
    std::string log = captured([&] { ok = c->repack(dir.c_str(), "", 0); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(log, " << NEW.txt (NEW FILE)\n --> Will compress file.\n << three.dat\n"
                   " << [SUB]\n <<< NEW.XYZ (NEW FILE)\n");
    EXPECT_EQ(c->fileCount(), 5u);
    Bytes written = serialised(*c);
    std::vector<TableRow> rows = tableOf(written);
    std::vector<TableRow> byOffset = rows;
    std::sort(byOffset.begin(), byOffset.end(), [](const TableRow& a, const TableRow& b) { return a.offset < b.offset; });
    std::vector<std::string> dataOrder;
    for (const TableRow& r : byOffset)
        dataOrder.push_back(r.name);
    EXPECT_EQ(dataOrder, (std::vector<std::string>{"THREE.DAT", "ONE.DAT", "TWO.TXT", "NEW.txt", "SUB\\NEW.XYZ"}));
    for (const TableRow& r : rows) {
        EXPECT_EQ(r.crc, referenceCrc(r.name)) << r.name;
        EXPECT_EQ(r.packed != 0, r.name == "TWO.TXT" || r.name == "NEW.txt") << r.name;
    }
    ContainerCRCTRE* again = nullptr;
    captured([&] { again = openImage(written); });
    ContainerHolder holder2(again);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(toBytes(entryNamed(*again, "NEW.txt")->data), bytesOf("a new text"));
    EXPECT_EQ(toBytes(entryNamed(*again, "SUB/NEW.XYZ")->data), bytesOf("stored as is"));
    EXPECT_EQ(toBytes(entryNamed(*again, "THREE.DAT")->data), bytesOf("three"));

    // Extracted again, the added file from the sub-directory goes back where it came from.
    const std::string out = scratch.file("out");
    captured([&] { again->extract(out.c_str(), 0); });
    EXPECT_EQ(readFile(out + "/SUB/NEW.XYZ"), bytesOf("stored as is"));
}

TEST(CrcTreRepack, UnknownFilesAreEachReportedAndFailTheRepackWithoutAdding)
{
    iotest::ScratchDir scratch;
    const std::string dir = scratch.file("tree");
    Bytes image = buildImage({{"ONE.DAT", bytesOf("1"), false, "", false}});
    OptionScope opts;
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    writeFile(dir + "/STRAY.DAT", bytesOf("?"));
    writeFile(dir + "/D/ONE.DAT", bytesOf("not the root one"));
    bool ok = false;
    std::string log = captured([&] { ok = c->repack(dir.c_str(), "", 0); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(log, "ERROR: File 'STRAY.DAT' not found in container!\nERROR: File 'D/ONE.DAT' not found in container!\n");
    EXPECT_EQ(serialised(*c), image);
}

TEST(CrcTreHash, LinesNameEveryEntryAndMatchAfterARewrite)
{
    OptionScope opts(2);
    std::vector<RawEntry> entries = sampleEntries();
    // The data in another order than the table; the lines follow the table.
    std::reverse(entries.begin(), entries.end());
    Bytes image = buildImage(entries);
    ContainerCRCTRE* c = nullptr;
    captured([&] { c = openImage(image); });
    ContainerHolder holder(c);
    Md5 first;
    std::string lines = captured([&] { c->hashContents(first, 1); });
    ContainerCRCTRE* again = nullptr;
    captured([&] { again = openImage(serialised(*c)); });
    ContainerHolder holder2(again);
    Md5 second;
    EXPECT_EQ(captured([&] { again->hashContents(second, 1); }), lines);
    std::istringstream in(lines);
    std::string line;
    std::vector<std::string> names, expected;
    while (std::getline(in, line)) {
        ASSERT_EQ(line[0], ' ');
        names.push_back(line.substr(1, line.find(" -> ") - 1));
    }
    for (const TableRow& r : tableOf(image)) {
        std::string n = r.name;
        std::replace(n.begin(), n.end(), '\\', '/');
        expected.push_back(n);
    }
    EXPECT_EQ(names, expected);
}

TEST(CrcTreDetect, TreNamedArchivesOpenAsCrcTre)
{
    OptionScope opts;
    Bytes image = buildImage(sampleEntries());
    ByteArray bytes = toArray(image);
    Container* c = nullptr;
    captured([&] { c = detectContainer("GAME/DATA.TRE", bytes); });
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->typeCode, CONTAINER_CRCTRE);
    EXPECT_EQ(c->getExtension(), String("TRE"));
    deleteContainer(c);
    captured([&] { c = detectContainer("GAME/DATA.PAK", bytes); });
    EXPECT_TRUE(c == nullptr || c->typeCode != CONTAINER_CRCTRE);
    deleteContainer(c);
}
