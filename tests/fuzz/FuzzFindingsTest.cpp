// Faults the fuzz targets found, pinned down with readable inputs.
#include "framework/config/ConfigSection.h"
#include "tool/containers/Driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
typedef std::vector<u8> Bytes;

void putU32(Bytes& out, u32 v)
{
    for (int i = 0; i < 4; i++)
        out.push_back(u8(v >> (8 * i)));
}

struct TreFile
{
    const char* name;
    u32 offset;
    u32 size;
};

// A classic TRE with the given table; `body` follows the table directly.
Bytes treArchive(const std::vector<TreFile>& files, const std::string& body)
{
    Bytes out;
    putU32(out, u32(files.size()));
    putU32(out, u32(8 + 74 * files.size()));
    for (const TreFile& f : files) {
        out.push_back(1);
        char name[65] = {};
        strncpy(name, f.name, sizeof(name) - 1);
        out.insert(out.end(), name, name + 65);
        putU32(out, f.offset);
        putU32(out, f.size);
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// An empty entry at the offset where another entry's data starts ends where that one starts:
// it is no overlap, and writing the archive again keeps both offsets.
TEST(FuzzFindings, EmptyTreEntrySharingAnOffsetIsKeptInPlace)
{
    const u32 data = 8 + 74 * 2;
    const struct
    {
        const char* what;
        std::vector<TreFile> files;
    } cases[] = {
        {"data first in the table", {{"DATA.BIN", data, 3}, {"EMPTY.BIN", data, 0}}},
        {"empty first in the table", {{"EMPTY.BIN", data, 0}, {"DATA.BIN", data, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in = treArchive(c.files, "abc");
        ByteArray bytes(in.data(), u32(in.size()));
        testing::internal::CaptureStdout();
        Container* tre = detectContainer("TEST.TRE", bytes);
        std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_NE(tre, nullptr);
        EXPECT_EQ(printed, "Reading files...\n");
        ByteArray* out = tre->serialise([](u32) {}, 0);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(Bytes(out->data, out->data + out->count), in);
        deleteByteArray(out);
        deleteContainer(tre);
    }
}

// Every level holds two entries that share one nested archive: 2^30 paths in under 5 KiB.
Bytes sharedNestingBomb(u32 levels)
{
    Bytes inner = treArchive({{"LEAF.BIN", 8 + 74, 4}}, "leaf");
    for (u32 level = 0; level < levels; level++) {
        const u32 data = 8 + 74 * 2;
        Bytes outer = treArchive({{"A.TRE", data, u32(inner.size())}, {"B.TRE", data, u32(inner.size())}}, "");
        outer.insert(outer.end(), inner.begin(), inner.end());
        inner.swap(outer);
    }
    return inner;
}

TEST(FuzzFindings, SharedNestedArchivesAreOpenedWithinABudget)
{
    // Small enough to open whole: 2^7 leaves.
    Bytes small = sharedNestingBomb(7);
    ByteArray smallBytes(small.data(), u32(small.size()));
    testing::internal::CaptureStdout();
    Container* whole = detectContainer("SMALL.TRE", smallBytes);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(whole, nullptr);
    EXPECT_FALSE(nestingBudgetRanOut());
    EXPECT_EQ(whole->fileCount(), 128u);
    deleteContainer(whole);

    Bytes bomb = sharedNestingBomb(30);
    ASSERT_LT(bomb.size(), 5000u);
    ByteArray bytes(bomb.data(), u32(bomb.size()));
    const u64 before = memLiveBytes();
    testing::internal::CaptureStdout();
    Container* tre = detectContainer("BOMB.TRE", bytes);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(tre, nullptr);
    EXPECT_TRUE(nestingBudgetRanOut());
    EXPECT_LT(memLiveBytes() - before, u64(24) << 20);
    // The entries past the budget stay plain files, so the rewrite keeps every byte they hold.
    ByteArray* out = tre->serialise([](u32) {}, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_LT(out->count, 48u << 20);
    deleteByteArray(out);
    deleteContainer(tre);
}

// A music PAK whose last entry starts at offset 0 holds the whole archive, table included: it
// nests in itself to the depth bound. Its LZW stream does not unpack, so each level holds the stored
// bytes; writing them back packed would wrap a layer round every level, and the rewrite would
// grow by the codec's overhead 32 times over.
TEST(FuzzFindings, ChildOfAnEntryThatDidNotUnpackIsWrittenAsItWasFound)
{
    Bytes pak;
    putU32(pak, 0);
    putU32(pak, 0x2000000C);
    putU32(pak, 0x20000000);
    const std::string body = "some text that is not an LZW stream at all, stored after the table";
    pak.insert(pak.end(), body.begin(), body.end());
    pak[0] = u8(pak.size());
    ByteArray bytes(pak.data(), u32(pak.size()));
    testing::internal::CaptureStdout();
    Container* c = detectContainer("SELF.MPK", bytes);
    ASSERT_NE(c, nullptr);
    const u32 files = c->fileCount();
    ByteArray* out = c->serialise([](u32) {}, 0);
    ASSERT_NE(out, nullptr);
    Container* again = detectContainer("SELF.MPK", *out);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(files, MAX_NESTING_DEPTH + 2);
    // Each level gains only its own table, now that the entry no longer starts inside it.
    EXPECT_LE(out->count, bytes.count + 12 * (MAX_NESTING_DEPTH + 1));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->fileCount(), files);
    deleteContainer(again);
    deleteByteArray(out);
    deleteContainer(c);
}

std::string chain(const char* piece, u32 n)
{
    std::string s;
    for (u32 i = 0; i < n; i++)
        s += std::string(i ? "." : "") + piece;
    return s;
}

// Loaded text is outside data: it may not multiply sections, or nest them, without bound.
TEST(FuzzFindings, ConfigTextCannotMultiplySectionsWithoutBound)
{
    const u32 most = ConfigSection::MAX_LOAD_SECTIONS;
    ConfigSection deep("###");
    deep.load((chain("d", most) + ".key = kept\n" + chain("e", 2) + ".key = dropped\n").c_str());
    EXPECT_STREQ(deep.findValue((chain("d", most) + ".key").c_str()).c_str(), "kept");
    EXPECT_EQ(deep.findSection("e"), nullptr);
    ConfigSection deeper("###");
    deeper.load((chain("d", most + 1) + ".key = dropped\n").c_str());
    EXPECT_STREQ(deeper.findValue((chain("d", most + 1) + ".key").c_str()).c_str(), "");

    ConfigSection wide("###");
    std::string text;
    for (u32 i = 0; i < most + 10; i++)
        text += "s" + std::to_string(i) + ".key = " + std::to_string(i) + "\n";
    text += "plain = still read\ns0.again = into a known section\n";
    wide.load(text.c_str());
    const std::string last = std::to_string(most - 1);
    EXPECT_STREQ(wide.findValue(("s" + last + ".key").c_str()).c_str(), last.c_str());
    EXPECT_EQ(wide.findSection(("s" + std::to_string(most)).c_str()), nullptr);
    EXPECT_STREQ(wide.findValue("plain").c_str(), "still read");
    EXPECT_STREQ(wide.findValue("s0.again").c_str(), "into a known section");
    // The program's own calls are not bounded.
    wide.setValue("more.than.the.text.may", "yes");
    EXPECT_STREQ(wide.findValue("more.than.the.text.may").c_str(), "yes");
}
}
