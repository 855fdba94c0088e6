// The tool on the generated CRC-TRE archives (tests/fixtures/make_fixtures.py): rewrites give
// back the same bytes, packed entries included, extraction matches the manifests and stays
// inside its directory, and edited trees repack onto their entries.
#include "framework/io/Md5.h"
#include "tests/helpers/ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
struct FixtureArchive
{
    std::string name;    // e.g. crctre_packed
    std::string archive; // path below the fixtures directory
    std::string file;    // the archive's file name
};

std::string fixturesDir()
{
    return MORDAX_FIXTURES_DIR;
}

std::vector<FixtureArchive> crcTreFixtures()
{
    std::vector<FixtureArchive> out;
    std::ifstream index(fixturesDir() + "/index.tsv");
    std::string line;
    while (std::getline(index, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t'))
            cols.push_back(col);
        if (cols.size() >= 4 && cols[1] == "CRCTRE" && cols[3] == "1")
            out.push_back({cols[0], cols[2], fs::path(cols[2]).filename().string()});
    }
    return out;
}

FixtureArchive fixtureNamed(const std::string& name)
{
    for (const FixtureArchive& f : crcTreFixtures())
        if (f.name == name)
            return f;
    ADD_FAILURE() << "no fixture " << name;
    return {};
}

// A scratch directory holding a copy of the archive.
std::string stage(const std::string& scratch, const FixtureArchive& f, const std::string& sub = "")
{
    std::string dir = scratchDirectory(scratch);
    std::string where = sub.empty() ? dir : dir + "/" + sub;
    fs::create_directories(where);
    fs::copy_file(fixturesDir() + "/" + f.archive, where + "/" + f.file);
    return dir;
}

std::string md5Hex(const std::string& bytes)
{
    Md5 md5;
    if (!bytes.empty())
        md5.update(bytes.data(), u32(bytes.size()));
    u8 digest[16];
    md5.final(digest);
    char hex[33];
    for (int i = 0; i < 16; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// The fixture's md5sum list: path -> digest of every file an extraction writes.
std::vector<std::pair<std::string, std::string>> expectedFiles(const FixtureArchive& f)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::ifstream list(fixturesDir() + "/" + f.name + ".md5");
    std::string line;
    while (std::getline(list, line))
        if (line.size() > 34)
            out.push_back({line.substr(34), line.substr(0, 32)});
    return out;
}

std::vector<std::string> filesBelow(const std::string& dir)
{
    std::vector<std::string> out;
    for (const std::string& p : listTree(dir))
        if (fs::is_regular_file(dir + "/" + p))
            out.push_back(p);
    return out;
}

struct TableRow
{
    u32 crc, size, offset, packed;
    std::string name;
};

u32 u32At(const std::string& b, size_t at)
{
    return u8(b[at]) | u8(b[at + 1]) << 8 | u8(b[at + 2]) << 16 | u32(u8(b[at + 3])) << 24;
}

std::vector<TableRow> tableOf(const std::string& image)
{
    std::vector<TableRow> rows;
    if (image.size() < 16)
        return rows;
    u32 n = u32At(image, 0);
    for (u32 i = 0; i < n && 16 + 272 * size_t(i + 1) <= image.size(); i++) {
        size_t at = 16 + 272 * size_t(i);
        rows.push_back({u32At(image, at), u32At(image, at + 4), u32At(image, at + 8), u32At(image, at + 12),
                        std::string(image.c_str() + at + 16)});
    }
    return rows;
}

const TableRow* rowNamed(const std::vector<TableRow>& rows, const std::string& name)
{
    for (const TableRow& r : rows)
        if (r.name == name)
            return &r;
    return nullptr;
}

// The stored CRC of a name as zlib computes it.
u32 zlibCrc(const std::string& name)
{
    std::string cmd = "python3 -c \"import sys, zlib; print(zlib.crc32(sys.argv[1].encode('latin-1').lower(), "
                      "0xFFFFFFFF) ^ 0xFFFFFFFF)\" '" +
                      name + "'";
    FILE* p = popen(cmd.c_str(), "r");
    unsigned long v = 0;
    if (!p || fscanf(p, "%lu", &v) != 1)
        ADD_FAILURE() << "python3 failed for " << name;
    if (p)
        pclose(p);
    return u32(v);
}
}

TEST(CrcTreTool, RewritesGiveBackTheSameBytes)
{
    std::vector<FixtureArchive> fixtures = crcTreFixtures();
    ASSERT_GE(fixtures.size(), 5u);
    for (const FixtureArchive& f : fixtures) {
        std::string dir = stage("crctre-rewrite", f);
        ToolResult r = runTool({"-w", f.file}, dir);
        EXPECT_EQ(r.status, 0) << f.name << "\n" << r.out;
        const size_t n = expectedFiles(f).size();
        std::string progress;
        char line[32];
        for (size_t i = 1; i <= n; i++) {
            snprintf(line, sizeof line, "\r%05zu / %05zu .", i, n);
            progress += line;
        }
        EXPECT_EQ(r.body(), "Reading files...\nRewriting & verifying contents...\n" + progress + "\r" +
                                std::string(43, ' ') + "\rDone. All OK; file checksums match.\n\n")
            << f.name;
        EXPECT_EQ(md5Hex(readFileBytes(dir + "/output.TRE")), md5Hex(readFileBytes(dir + "/" + f.file))) << f.name;
    }
}

TEST(CrcTreTool, ExtractionMatchesTheManifestsAndStaysInside)
{
    for (const FixtureArchive& f : crcTreFixtures()) {
        // The archive sits three levels down, so a name climbing out would show up in the tree.
        std::string dir = stage("crctre-extract", f, "a/b/c");
        ToolResult r = runTool({"-e", "-n", f.file, "out"}, dir + "/a/b/c");
        EXPECT_EQ(r.status, 0) << f.name << "\n" << r.out;
        std::vector<std::pair<std::string, std::string>> expected = expectedFiles(f);
        ASSERT_FALSE(expected.empty()) << f.name;
        std::vector<std::string> want = {"a/b/c/" + f.file};
        for (const auto& [path, digest] : expected) {
            want.push_back("a/b/c/out/" + path);
            EXPECT_EQ(md5Hex(readFileBytes(dir + "/a/b/c/out/" + path)), digest) << f.name << " " << path;
        }
        std::sort(want.begin(), want.end());
        EXPECT_EQ(filesBelow(dir), want) << f.name;
        char done[64];
        snprintf(done, sizeof done, "Done. Extracted %zu/%zu files.\n", expected.size(), expected.size());
        EXPECT_NE(r.out.find(done), std::string::npos) << f.name << "\n" << r.out;
    }
}

TEST(CrcTreTool, EditedFilesComeBackAndTheRestIsUnchanged)
{
    for (const char* name : {"crctre_packed", "crctre_paths"}) {
        FixtureArchive f = fixtureNamed(name);
        std::string dir = stage(std::string("crctre-edit-") + name, f);
        ASSERT_EQ(runTool({"-e", f.file, "tree"}, dir).status, 0);
        // One packed and one stored entry; in PATHS.TRE a name that differs from two others
        // only in case.
        std::vector<std::string> edited = std::string(name) == "crctre_packed"
                                              ? std::vector<std::string>{"TEXT/SHORT.TXT", "PLAIN.TXT"}
                                              : std::vector<std::string>{"data/file.txt", "DATA/SOUND/DEEP/Y.RAW"};
        for (const std::string& path : edited)
            writeFileBytes(dir + "/tree/" + path, "edited: " + path + "\n" + std::string(300, 'z'));
        ToolResult repack = runTool({"-r", f.file, "tree"}, dir);
        EXPECT_EQ(repack.status, 0) << repack.out;
        EXPECT_NE(repack.out.find("Done. Repacked "), std::string::npos) << repack.out;
        ToolResult again = runTool({"-e", "output.TRE", "again"}, dir);
        EXPECT_EQ(again.status, 0) << again.out;
        std::vector<std::pair<std::string, std::string>> expected = expectedFiles(f);
        std::vector<std::string> want;
        for (const auto& [path, digest] : expected) {
            want.push_back(path);
            bool isEdited = std::find(edited.begin(), edited.end(), path) != edited.end();
            std::string got = readFileBytes(dir + "/again/" + path);
            if (isEdited)
                EXPECT_EQ(got, "edited: " + path + "\n" + std::string(300, 'z')) << name << " " << path;
            else
                EXPECT_EQ(md5Hex(got), digest) << name << " " << path;
        }
        std::sort(want.begin(), want.end());
        EXPECT_EQ(filesBelow(dir + "/again"), want) << name;
        // Packed entries stay packed.
        std::vector<TableRow> before = tableOf(readFileBytes(dir + "/" + f.file));
        std::vector<TableRow> after = tableOf(readFileBytes(dir + "/output.TRE"));
        ASSERT_EQ(before.size(), after.size());
        for (const TableRow& b : before) {
            const TableRow* a = rowNamed(after, b.name);
            ASSERT_NE(a, nullptr) << b.name;
            EXPECT_EQ(a->packed != 0, b.packed != 0) << b.name;
            EXPECT_EQ(a->crc, b.crc) << b.name;
        }
    }
}

TEST(CrcTreTool, AddedFilesTakeTheCompressionOfTheirExtension)
{
    FixtureArchive f = fixtureNamed("crctre_packed");
    std::string dir = stage("crctre-add", f);
    // BIN entries are packed there, no RAW entry exists.
    writeFileBytes(dir + "/tree/NEW.bin", std::string(2000, 'b') + "end");
    writeFileBytes(dir + "/tree/SUB/NEW.RAW", "raw bytes");
    ToolResult without = runTool({"-r", f.file, "tree"}, dir);
    EXPECT_EQ(without.status, 1) << without.out;
    EXPECT_NE(without.out.find("ERROR: File 'NEW.bin' not found in container!\n"), std::string::npos) << without.out;
    EXPECT_NE(without.out.find("ERROR: File 'SUB/NEW.RAW' not found in container!\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir + "/output.TRE"));

    ToolResult added = runTool({"-vv", "-a", "-r", f.file, "tree"}, dir);
    EXPECT_EQ(added.status, 0) << added.out;
    EXPECT_NE(added.out.find(" << NEW.bin (NEW FILE)\n --> Will compress file.\n"), std::string::npos) << added.out;
    EXPECT_NE(added.out.find(" <<< NEW.RAW (NEW FILE)\n"), std::string::npos) << added.out;
    std::vector<TableRow> rows = tableOf(readFileBytes(dir + "/output.TRE"));
    EXPECT_EQ(rows.size(), expectedFiles(f).size() + 2);
    const TableRow* bin = rowNamed(rows, "NEW.bin");
    const TableRow* raw = rowNamed(rows, "SUB\\NEW.RAW");
    ASSERT_NE(bin, nullptr);
    ASSERT_NE(raw, nullptr);
    EXPECT_NE(bin->packed, 0u);
    EXPECT_LT(bin->packed, bin->size);
    EXPECT_EQ(raw->packed, 0u);
    EXPECT_EQ(bin->crc, zlibCrc("NEW.bin"));
    EXPECT_EQ(raw->crc, zlibCrc("SUB\\NEW.RAW"));
    for (size_t i = 1; i < rows.size(); i++)
        EXPECT_LE(rows[i - 1].crc, rows[i].crc);

    ToolResult again = runTool({"-e", "output.TRE", "again"}, dir);
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(readFileBytes(dir + "/again/NEW.bin"), std::string(2000, 'b') + "end");
    EXPECT_EQ(readFileBytes(dir + "/again/SUB/NEW.RAW"), "raw bytes");
}

TEST(CrcTreTool, DamagedArchivesFailWithOneErrorLine)
{
    FixtureArchive f = fixtureNamed("crctre_stored");
    std::string dir = stage("crctre-damaged", f);
    std::string image = readFileBytes(dir + "/" + f.file);
    ASSERT_GT(image.size(), 300u);
    // Every size field claims 4 GiB; then the table alone is cut short.
    std::string huge = image;
    for (size_t i = 0; i < u32At(image, 0); i++)
        for (int k = 0; k < 4; k++)
            huge[16 + 272 * i + 4 + k] = '\xFF';
    writeFileBytes(dir + "/HUGE.TRE", huge);
    writeFileBytes(dir + "/CUT.TRE", image.substr(0, 300));
    ToolResult r = runTool({"HUGE.TRE"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.body().substr(0, 17), "Reading files...\n");
    EXPECT_NE(r.body().find("\nERROR: Read failure! (4294967295 bytes @ 0x"), std::string::npos) << r.out;
    EXPECT_NE(r.body().find("\nERROR: The file 'HUGE.TRE' wasn't of a recognised/supported type!\n"),
              std::string::npos);
    r = runTool({"-e", "CUT.TRE", "out"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.body(), "ERROR: This doesn't seem to be a valid CRC-TRE file!\n"
                        "ERROR: The file 'CUT.TRE' wasn't of a recognised/supported type!\n\n");
    EXPECT_FALSE(fs::exists(dir + "/out"));
}
