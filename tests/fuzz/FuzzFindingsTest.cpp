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

std::string chain(const char* piece, u32 n)
{
    std::string s;
    for (u32 i = 0; i < n; i++)
        s += std::string(i ? "." : "") + piece;
    return s;
}

// Loaded text is outside data: it may not nest or multiply sections without bound.
TEST(FuzzFindings, ConfigTextCannotNestOrMultiplySectionsWithoutBound)
{
    ConfigSection root("###");
    const u32 depth = ConfigSection::MAX_LOAD_DEPTH;
    root.load((chain("d", depth) + ".key = kept\n" + chain("e", depth + 1) + ".key = dropped\n").c_str());
    EXPECT_STREQ(root.findValue((chain("d", depth) + ".key").c_str()).c_str(), "kept");
    EXPECT_EQ(root.findSection("e"), nullptr);

    ConfigSection wide("###");
    std::string text;
    for (u32 i = 0; i < ConfigSection::MAX_LOAD_SECTIONS + 10; i++)
        text += "s" + std::to_string(i) + ".key = " + std::to_string(i) + "\n";
    text += "plain = still read\n";
    wide.load(text.c_str());
    const std::string last = "s" + std::to_string(ConfigSection::MAX_LOAD_SECTIONS - 1);
    EXPECT_STREQ(wide.findValue((last + ".key").c_str()).c_str(), std::to_string(ConfigSection::MAX_LOAD_SECTIONS - 1).c_str());
    EXPECT_EQ(wide.findSection(("s" + std::to_string(ConfigSection::MAX_LOAD_SECTIONS)).c_str()), nullptr);
    EXPECT_STREQ(wide.findValue("plain").c_str(), "still read");
    // The program's own calls are not bounded.
    wide.setValue("more.than.the.text.may", "yes");
    EXPECT_STREQ(wide.findValue("more.than.the.text.may").c_str(), "yes");
}
}
