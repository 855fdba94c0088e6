// The tool over the generated PAK archives: rewrites, extraction judged by md5sum, edits of
// packed entries judged by outside decoders, and PAKs nested in TREs nested in PAKs.
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZW.h"
#include "tests/helpers/ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace
{
const std::string fixtures = MORDAX_FIXTURES_DIR;

struct FixtureRow
{
    std::string name, format, archive, rewrite;
    bool opens = false;
    int files = 0;
    std::string file() const { return archive.substr(archive.rfind('/') + 1); }
    std::string extension() const { return archive.substr(archive.rfind('.') + 1); }
};

std::vector<FixtureRow> pakFixtures()
{
    std::vector<FixtureRow> rows;
    std::ifstream index(fixtures + "/index.tsv");
    std::string line;
    while (std::getline(index, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        FixtureRow r;
        std::string opens, files;
        std::getline(fields, r.name, '\t');
        std::getline(fields, r.format, '\t');
        std::getline(fields, r.archive, '\t');
        std::getline(fields, opens, '\t');
        std::getline(fields, r.rewrite, '\t');
        std::getline(fields, files, '\t');
        r.opens = opens == "1";
        r.files = atoi(files.c_str());
        if (r.format == "PAK")
            rows.push_back(r);
    }
    return rows;
}

const FixtureRow* findFixture(const std::vector<FixtureRow>& rows, const std::string& name)
{
    for (const FixtureRow& r : rows)
        if (r.name == name)
            return &r;
    return nullptr;
}

// The error line a manifest gives for an archive that does not open.
std::string manifestError(const std::string& name)
{
    std::string json = readFileBytes(fixtures + "/" + name + ".json");
    const std::string key = "\"error\": \"";
    size_t at = json.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    return json.substr(at, json.find('"', at) - at);
}

// A copy of the fixture's archive in a fresh directory, under its own file name.
std::string stage(const FixtureRow& r, const std::string& tag)
{
    std::string dir = scratchDirectory("pak-" + tag + "-" + r.name);
    writeFileBytes(dir + "/" + r.file(), readFileBytes(fixtures + "/" + r.archive));
    return dir;
}

int shell(const std::string& command)
{
    int rc = std::system(command.c_str());
    return rc == -1 ? -1 : WEXITSTATUS(rc);
}

std::string quote(const std::string& s)
{
    return "'" + s + "'";
}

TEST(PakEndToEnd, RewriteOfEveryGeneratedPak)
{
    std::vector<FixtureRow> rows = pakFixtures();
    ASSERT_GT(rows.size(), 20u);
    for (const FixtureRow& r : rows) {
        SCOPED_TRACE(r.name);
        std::string dir = stage(r, "w");
        ToolResult t = runTool({"-w", r.file()}, dir);
        std::string output = dir + "/output." + r.extension();
        if (!r.opens) {
            EXPECT_EQ(t.status, 1);
            EXPECT_EQ(t.body(), manifestError(r.name) + "\nERROR: The file '" + r.file() +
                                    "' wasn't of a recognised/supported type!\n\n");
            EXPECT_FALSE(std::ifstream(output).good());
            continue;
        }
        EXPECT_EQ(t.status, 0) << t.out;
        if (r.rewrite == "identical") {
            EXPECT_NE(t.body().find("\rDone. All OK; file checksums match.\n\n"), std::string::npos) << t.out;
            EXPECT_EQ(t.body().find("ERROR: File checksums"), std::string::npos) << t.out;
            EXPECT_TRUE(readFileBytes(output) == readFileBytes(dir + "/" + r.file()));
        } else {
            EXPECT_NE(t.body().find("ERROR: File checksums DO NOT match - reloading & checking content...\n"),
                      std::string::npos)
                << t.out;
            EXPECT_NE(t.body().find("Done. Content checksums match.\n"), std::string::npos) << t.out;
        }
    }
}

TEST(PakEndToEnd, ExtractionOfEveryGeneratedPakMatchesMd5sum)
{
    for (const FixtureRow& r : pakFixtures()) {
        if (!r.opens)
            continue;
        SCOPED_TRACE(r.name);
        std::string dir = stage(r, "e");
        ToolResult t = runTool({"-e", "-n", r.file(), "out"}, dir);
        EXPECT_EQ(t.status, 0) << t.out;
        char done[64];
        snprintf(done, sizeof done, "Done. Extracted %d/%d files.\n", r.files, r.files);
        EXPECT_NE(t.body().find(done), std::string::npos) << t.out;
        // Nothing lands beside the output directory.
        std::vector<std::string> top;
        for (const std::string& p : listTree(dir))
            if (p.find('/') == std::string::npos)
                top.push_back(p);
        EXPECT_EQ(top, (std::vector<std::string>{r.file(), "out"}));
        if (r.files) {
            EXPECT_EQ(shell("cd " + quote(dir + "/out") + " && md5sum --quiet -c " +
                            quote(fixtures + "/" + r.name + ".md5")),
                      0);
        }
    }
}

struct StoredEntry
{
    u8 flag;
    std::string bytes;
};

// The table of a PAK, read here on its own terms: size word, offset words, data in table order.
std::vector<StoredEntry> readTable(const std::string& pak)
{
    auto word = [&](size_t at) -> u32 {
        if (at + 4 > pak.size())
            return 0;
        const u8* p = reinterpret_cast<const u8*>(pak.data()) + at;
        return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
    };
    std::vector<StoredEntry> entries;
    u32 count = (word(4) & 0xFFFFFF) / 4 - 1;
    EXPECT_LT(count, 1000u);
    EXPECT_EQ(word(0), pak.size());
    for (u32 i = 0; i < count && i < 1000; i++) {
        u32 start = word(4 + 4 * i) & 0xFFFFFF;
        u32 end = i + 1 < count ? word(8 + 4 * i) & 0xFFFFFF : u32(pak.size());
        EXPECT_LE(start, end);
        entries.push_back({u8(word(4 + 4 * i) >> 24), pak.substr(start, end - start)});
    }
    return entries;
}

ByteArray asArray(const std::string& s)
{
    return ByteArray(reinterpret_cast<const u8*>(s.data()), u32(s.size()));
}

std::string asString(const ByteArray* a)
{
    return a && a->count ? std::string(reinterpret_cast<const char*>(a->data), a->count) : std::string();
}

// Decodes a packed entry (u32 size, then the stream) with our codec.
std::string ourDecode(const std::string& entry, bool lzw)
{
    u32 size = u32(u8(entry[0])) | u32(u8(entry[1])) << 8 | u32(u8(entry[2])) << 16 | u32(u8(entry[3])) << 24;
    ByteArray stream = asArray(entry.substr(4));
    ByteArray* out = nullptr;
    if (lzw) {
        CodecLZW codec;
        out = codec.decompress(stream, size);
    } else {
        CodecImplode codec;
        out = codec.decompress(stream, size);
    }
    std::string s = out ? asString(out) : "(null)";
    deleteByteArray(out);
    return s;
}

TEST(PakEndToEnd, EditedLzwAndImplodeEntriesDecodeElsewhereToo)
{
    std::vector<FixtureRow> rows = pakFixtures();
    const FixtureRow* mixed = findFixture(rows, "pak_mixed");
    ASSERT_NE(mixed, nullptr);
    std::string dir = stage(*mixed, "edit");
    ToolResult t = runTool({"-e", "-n", mixed->file(), "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    // Entry 001 is LZW, 002 Implode; both are rewritten with text that repeats enough to need
    // real matches.
    std::string lzwText, implodeText;
    for (int i = 0; i < 60; i++) {
        lzwText += "edited LZW entry, line " + std::to_string(i) + " of the briefing text\n";
        implodeText += "edited Implode entry, line " + std::to_string(i * 7) + " of the debriefing\n";
    }
    writeFileBytes(dir + "/out/001", lzwText);
    writeFileBytes(dir + "/out/002", implodeText);
    t = runTool({"-r", "-n", mixed->file(), "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;

    std::vector<StoredEntry> before = readTable(readFileBytes(dir + "/" + mixed->file()));
    std::vector<StoredEntry> after = readTable(readFileBytes(dir + "/output.PAK"));
    ASSERT_EQ(before.size(), 4u);
    ASSERT_EQ(after.size(), 4u);
    for (size_t i = 0; i < 4; i++)
        EXPECT_EQ(after[i].flag, before[i].flag) << i;
    // The untouched entries keep their stored bytes.
    EXPECT_TRUE(after[0].bytes == before[0].bytes);
    EXPECT_TRUE(after[3].bytes == before[3].bytes);

    EXPECT_TRUE(ourDecode(after[1].bytes, true) == lzwText);
    EXPECT_TRUE(ourDecode(after[2].bytes, false) == implodeText);

    // The generator's own decoders, written apart from ours, and the outside libraries.
    writeFileBytes(dir + "/lzw.bin", after[1].bytes);
    writeFileBytes(dir + "/implode.bin", after[2].bytes);
    writeFileBytes(dir + "/lzw.stream", after[1].bytes.substr(4));
    writeFileBytes(dir + "/implode.stream", after[2].bytes.substr(4));
    const std::string script =
        "import struct, sys\n"
        "sys.path.insert(0, sys.argv[1])\n"
        "from fixture_codecs import lzw_unpack, implode_decode\n"
        "lzw = open(sys.argv[2], 'rb').read()\n"
        "imp = open(sys.argv[3], 'rb').read()\n"
        "open(sys.argv[4], 'wb').write(lzw_unpack(lzw[4:], struct.unpack('<I', lzw[:4])[0]))\n"
        "out = implode_decode(imp[4:])\n"
        "assert len(out) == struct.unpack('<I', imp[:4])[0]\n"
        "open(sys.argv[5], 'wb').write(out)\n";
    writeFileBytes(dir + "/decode.py", script);
    ASSERT_EQ(shell("/usr/bin/python3 -B " + quote(dir + "/decode.py") + " " +
                    quote(std::string(MORDAX_SOURCE_DIR) + "/tests/fixtures") + " " + quote(dir + "/lzw.bin") + " " +
                    quote(dir + "/implode.bin") + " " + quote(dir + "/lzw.out") + " " + quote(dir + "/implode.out")),
              0);
    EXPECT_TRUE(readFileBytes(dir + "/lzw.out") == lzwText);
    EXPECT_TRUE(readFileBytes(dir + "/implode.out") == implodeText);

    const std::string oracles = std::string(MORDAX_SOURCE_DIR) + "/tests/gamedata/codecs/oracles/";
    // Pillow reads the LZW stream as the image data of a one-row GIF.
    ASSERT_EQ(shell("/usr/bin/python3 -B " + quote(oracles + "gif.py") + " decode " + quote(dir + "/lzw.stream") + " " +
                    std::to_string(lzwText.size()) + " 1 " + quote(dir + "/lzw.pillow")),
              0);
    EXPECT_TRUE(readFileBytes(dir + "/lzw.pillow") == lzwText);
    ASSERT_EQ(shell("node " + quote(oracles + "pkware.mjs") + " explode " + quote(dir + "/implode.stream") + " " +
                    quote(dir + "/implode.pkware")),
              0);
    EXPECT_TRUE(readFileBytes(dir + "/implode.pkware") == implodeText);
}

TEST(PakEndToEnd, PakInsideTreInsidePak)
{
    std::vector<FixtureRow> rows = pakFixtures();
    const FixtureRow* outer = findFixture(rows, "pak_tre_pak");
    ASSERT_NE(outer, nullptr);
    std::string dir = stage(*outer, "nest");
    ToolResult t = runTool({outer->file()}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.body().find("Done. 3 files, "), std::string::npos) << t.out;
    t = runTool({"-e", outer->file(), "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(listTree(dir + "/out"), (std::vector<std::string>{"000", "001", "002"}));
    // The TRE in entry 001 is stored whole; edited, it replaces the entry.
    std::string tre = readFileBytes(dir + "/out/001");
    std::string edited = tre;
    edited[edited.size() - 1] ^= 0x5A;
    writeFileBytes(dir + "/out/001", edited);
    t = runTool({"-r", outer->file(), "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    std::vector<StoredEntry> before = readTable(readFileBytes(dir + "/" + outer->file()));
    std::vector<StoredEntry> after = readTable(readFileBytes(dir + "/output.PAK"));
    ASSERT_EQ(after.size(), 3u);
    EXPECT_TRUE(after[0].bytes == before[0].bytes);
    EXPECT_TRUE(after[1].bytes == edited);
    EXPECT_TRUE(after[2].bytes == before[2].bytes);
}

TEST(PakEndToEnd, EditDeepInsidePaksInsideATre)
{
    // SOUNDS.TRE holds DATA/SOUNDS.PAK, which holds 001.PAK with an LZW entry 000.
    std::string source = fixtures + "/tre_pak_pak/SOUNDS.TRE";
    std::string dir = scratchDirectory("pak-deep");
    writeFileBytes(dir + "/SOUNDS.TRE", readFileBytes(source));
    ToolResult t = runTool({"-e", "SOUNDS.TRE", "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    std::string deep = dir + "/out/DATA/SOUNDS.PAK/001.PAK/000";
    ASSERT_FALSE(readFileBytes(deep).empty());
    std::string edited = "a new first entry for the innermost archive\n";
    writeFileBytes(deep, edited);
    t = runTool({"-r", "SOUNDS.TRE", "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    // Reopened under the original name, the edit is found where it was made.
    std::string again = scratchDirectory("pak-deep-again");
    writeFileBytes(again + "/SOUNDS.TRE", readFileBytes(dir + "/output.TRE"));
    t = runTool({"-e", "SOUNDS.TRE", "out"}, again);
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(listTree(again + "/out"), listTree(dir + "/out"));
    for (const std::string& p : listTree(dir + "/out")) {
        if (p == "DATA/SOUNDS.PAK/001.PAK/000")
            EXPECT_TRUE(readFileBytes(again + "/out/" + p) == edited);
        else
            EXPECT_TRUE(readFileBytes(again + "/out/" + p) == readFileBytes(dir + "/out/" + p)) << p;
    }
}
}
