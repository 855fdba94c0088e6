#include "PakTestUtil.h"
#include "framework/io/MemoryStream.h"

using namespace paktest;

namespace
{
struct NamingCase
{
    const char* what;
    Bytes content;
    const char* archive;
    const char* expected;
};

std::string guess(const Bytes& content, const char* archive)
{
    ByteArray array = toArray(content);
    MemoryStream stream(array);
    return ContainerPAK::guessEntryName(stream, array.count, String(archive)).c_str();
}

Bytes palette772()
{
    return Bytes{0, 0, 0, 1} + filled(768, 7);
}

TEST(PakNaming, ContentRulesAndTheirBoundaries)
{
    const NamingCase cases[] = {
        {"palette of 772 bytes", palette772(), "X.PAK", ".PAL"},
        {"same start in 773 bytes", palette772() + Bytes{0}, "X.PAK", ""},
        {"772 bytes, wrong count", Bytes{0, 0, 0xFF, 0} + filled(768, 7), "X.PAK", ""},
        {"10-byte palette of 2 colours", Bytes{0, 0, 2, 0} + filled(6, 9), "X.PAK", ".PAL"},
        {"palette past colour 256", le16(255) + le16(2) + filled(6), "X.PAK", ""},
        {"19 bytes of voice header", text("Creative Voice File"), "X.PAK", ""},
        {"20 bytes of voice header", text("Creative Voice File\x1A"), "X.PAK", ".VOC"},
        {"voice header, wrong byte 19", text("Creative Voice File\x1B"), "X.PAK", ""},
        {"sound of 40 bytes at 11025", le32(8) + le16(11025) + le16(1) + filled(32), "X.PAK", ".FLX_SND"},
        {"sound of 40 bytes at 11111", le32(8) + le16(11111) + le16(1) + filled(32), "X.PAK", ".FLX_SND"},
        {"sound header, two channels", le32(8) + le16(11025) + le16(2) + filled(32), "X.PAK", ""},
        // n - 32 is negative here: a wrapped size word must not match it.
        {"sound word of a 20-byte entry", le32(0xFFFFFFF4u) + le16(11025) + le16(1) + filled(12), "X.PAK", ""},
        {"RIFF without WAVE", text("RIFF") + le32(4) + text("AVI "), "X.PAK", ""},
        {"RIFF WAVE", text("RIFF") + le32(4) + text("WAVE"), "X.PAK", ".WAV"},
        {"FORM", text("FORM") + le32(0) + text("TEST"), "X.PAK", ".IFF"},
        {"1.11", text("1.11") + filled(30), "X.PAK", ".SHP"},
        {"nested PAK, top byte 0x00", le32(16) + le32(0) + filled(8), "X.PAK", ""},
        {"nested PAK, top byte 0xFF", le32(16) + le32(0xFF00000Cu) + filled(8), "X.PAK", ".PAK"},
        {"nested PAK, top byte 0x20", le32(16) + le32(0x2000000Cu) + filled(8), "X.PAK", ".PAK"},
        {"nested PAK, top byte 0xA0", le32(16) + le32(0xA000000Cu) + filled(8), "X.PAK", ".PAK"},
        {"nested PAK, top byte 0xE0", le32(16) + le32(0xE000000Cu) + filled(8), "X.PAK", ".PAK"},
        {"nested PAK, top byte 0x60", le32(16) + le32(0x60000000u) + filled(8), "X.PAK", ""},
        {"raw palette of 768 bytes", filled(768), "X.PAK", ".PAL"},
        {"raw palette of 769 bytes", Bytes{0, 0, 0xFF, 1} + filled(765), "X.PAK", ".PAL"},
        {"769 bytes without the 0xFF", Bytes{0, 0, 0} + filled(766, 1), "X.PAK", ""},
        {"shape sized by its first word", le32(800 - 788) + le32(4) + filled(792, 1), "X.PAK", ".SHP"},
        {"shape, n - 789", le32(800 - 789) + le32(4) + filled(792, 1), "X.PAK", ".SHP"},
        {"shape, 512 frames", le32(20) + le32(512 << 2) + filled(12, 1), "X.PAK", ".SHP"},
        {"shape, 513 frames", le32(20) + le32(513 << 2) + filled(12, 1), "X.PAK", ""},
        {"shape, 0 frames", le32(20) + le32(3) + filled(12, 1), "X.PAK", ""},
        {"texture in ACCPACK.PAK", le16(2) + le16(3) + filled(6, 1), "DATA/ACCPACK.PAK", ".TXM"},
        {"texture in txmpack.pak", le16(2) + le16(3) + filled(6, 1), "txmpack.pak", ".TXM"},
        {"texture bytes elsewhere", le16(2) + le16(3) + filled(6, 1), "OTHER.PAK", ""},
        {"anything in shapes.pak", text("no rule takes this one"), "shapes.pak", ".SHP"},
        {"anything in SHAPES.PAK", text("no rule takes this one"), "SHAPES.PAK", ".SHP"},
        {"anything in targshap.pak", text("no rule takes this one"), "TargShap.pak", ".SHP"},
        {"shapes.pak behind a path", text("no rule takes this one"), "C:/DATA/SHAPES.PAK", ""},
        {"empty entry", Bytes(), "X.PAK", ""},
        {"empty entry in shapes.pak", Bytes(), "shapes.pak", ".SHP"},
        {"one byte", Bytes{0}, "X.PAK", ""},
    };
    for (const NamingCase& c : cases)
        EXPECT_EQ(guess(c.content, c.archive), c.expected) << c.what;
}

TEST(PakNaming, ReadsOnlyTheEntryAndLeavesTheStreamWhereItWas)
{
    // The entry is the first 10 bytes; what follows must not count.
    Bytes bytes = Bytes{0, 0, 2, 0} + filled(6, 9) + text("more bytes of the archive");
    ByteArray array = toArray(bytes);
    MemoryStream stream(array);
    EXPECT_STREQ(ContainerPAK::guessEntryName(stream, 10, String("X.PAK")).c_str(), ".PAL");
    EXPECT_EQ(stream.tell(), 0u);
    // A four-byte signature cut off by the entry's end does not match.
    EXPECT_STREQ(ContainerPAK::guessEntryName(stream, 3, String("X.PAK")).c_str(), "");
    stream.seek(10);
    EXPECT_STREQ(ContainerPAK::guessEntryName(stream, 4, String("X.PAK")).c_str(), "");
    EXPECT_EQ(stream.tell(), 10u);
}

struct IndexCase
{
    const char* name;
    i64 expected;
};

TEST(PakNaming, RepackFileNamesToIndices)
{
    const IndexCase cases[] = {
        {"007", 7},
        {"0", 0},
        {"12", 12},
        {"007[???]", 7},
        {"123456789", 123456789},
        {"1234567890", -1},
        {"15.DAT", 15},
        {"", -1},
        {".DS_Store", -1},
        {"readme", -1},
        {"12abc", -1},
        {"-1", -1},
        {"[???]", -1},
    };
    for (const IndexCase& c : cases)
        EXPECT_EQ(fileEntryIndex(String(c.name)), c.expected) << c.name;
}
}
