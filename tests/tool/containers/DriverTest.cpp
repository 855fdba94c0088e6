#include "tool/ToolOptions.h"
#include "tool/containers/ContainerTRE.h"
#include "tool/containers/Driver.h"
#include "tool/containers/EntryPath.h"
#include "tool/containers/RadixSorter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct PathCase
{
    const char* name;
    const char* expected;
};

TEST(SafeEntryPath, HostileNamesStayInside)
{
    const PathCase cases[] = {
        {"..", "_007"},
        {"../../x", "x"},
        {"/abs/x", "abs/x"},
        {"C:\\x", "x"},
        {"c:x", "x"},
        {"a/../../b", "a/b"},
        {"", "_007"},
        {".", "_007"},
        {"./a/./b/", "a/b"},
        {"a\\b\\c.iff", "a/b/c.iff"},
        {"//server//share", "server/share"},
        {"DATA/SOUND/EXPLODE.VOC", "DATA/SOUND/EXPLODE.VOC"},
        {"..\\..\\DATA\\X", "DATA/X"},
        {"name with blanks/x y", "name with blanks/x y"},
    };
    for (const PathCase& c : cases)
        EXPECT_STREQ(safeEntryPath(String(c.name), 7).c_str(), c.expected) << c.name;
}

TEST(MapTrePath, FoldsSeparatorsDotsAndDrives)
{
    const PathCase cases[] = {
        {"..\\..\\DATA\\SOUND\\EXPLODE.VOC", "DATA/SOUND/EXPLODE.VOC"},
        {"C:\\GAME\\DATA\\X.IFF", "/GAME/DATA/X.IFF"},
        {".\\A\\B.DAT", "A/B.DAT"},
        {"PLAIN.TXT", "PLAIN.TXT"},
    };
    for (const PathCase& c : cases)
        EXPECT_STREQ(mapTrePath(String(c.name)).c_str(), c.expected) << c.name;
    EXPECT_STREQ(joinPath(String("out"), safeEntryPath(mapTrePath(String("C:\\GAME\\DATA\\X.IFF")), 0)).c_str(),
                 "out/GAME/DATA/X.IFF");
}

struct Keyed
{
    u32 key;
    u32 order;
};

u32 keyOf(const Keyed* k)
{
    return k->key;
}

TEST(RadixSorter, StableOnAllFourBytes)
{
    std::vector<Keyed> items;
    u32 seed = 12345;
    for (u32 i = 0; i < 3000; i++) {
        seed = seed * 1103515245u + 12345u;
        items.push_back({(seed >> 3) % 50 * 0x01010101u, i});
    }
    std::vector<Keyed*> ptrs;
    for (Keyed& k : items)
        ptrs.push_back(&k);
    RadixSorter sorter(u32(ptrs.size()));
    Keyed** sorted = sorter.sortAs<Keyed>(ptrs.data(), u32(ptrs.size()), keyOf);
    ASSERT_NE(sorted, nullptr);
    for (size_t i = 1; i < ptrs.size(); i++) {
        ASSERT_LE(sorted[i - 1]->key, sorted[i]->key);
        if (sorted[i - 1]->key == sorted[i]->key) {
            ASSERT_LT(sorted[i - 1]->order, sorted[i]->order);
        }
    }
}

std::vector<std::string> probeLog;

bool probeNo(const String& name, const ByteArray&)
{
    probeLog.push_back(std::string("no:") + name.c_str());
    return false;
}

bool probeYes(const String&, const ByteArray&)
{
    probeLog.push_back("yes");
    return true;
}

Container* openFails(const String&, const ByteArray&)
{
    probeLog.push_back("open");
    return nullptr;
}

TEST(DetectContainer, FirstKindThatRecognisesDecidesEvenWhenOpenFails)
{
    const ContainerKind kinds[] = {
        {"a", probeNo, openFails},
        {"b", probeYes, openFails},
        {"c", probeYes, openFails},
    };
    ByteArray bytes(u32(4));
    probeLog.clear();
    EXPECT_EQ(detectContainerWith(kinds, 3, String("X.PAK"), bytes), nullptr);
    EXPECT_EQ(probeLog, (std::vector<std::string>{"no:X.PAK", "yes", "open"}));
}

TEST(DetectContainer, UnsupportedTreReports)
{
    testing::internal::CaptureStdout();
    const u8 sknk[12] = {'S', 'K', 'N', 'K', 1, 0, 0, 0, 0, 0, 0, 0};
    ByteArray a(sknk, 12);
    EXPECT_EQ(detectContainer(String("A.TRE"), a), nullptr);
    const u8 junk[3] = {1, 2, 3};
    ByteArray b(junk, 3);
    EXPECT_EQ(detectContainer(String("b.tre"), b), nullptr);
    EXPECT_EQ(detectContainer(String("b.bin"), b), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: This is a SKNK TRE file. Not (yet) supported!\n"
              "ERROR: This is an unrecognised / unsupported TRE format!\n");
}

TEST(PrintProgress, CounterLineOnlyAtVerbosityZero)
{
    ToolOptions opts;
    setToolOptions(&opts);
    testing::internal::CaptureStdout();
    printProgress(0);
    printProgress(2);
    opts.verbosity = 1;
    printProgress(0);
    std::string out = testing::internal::GetCapturedStdout();
    setToolOptions(nullptr);
    // The counter's text is not on the line that later tests capture.
    setProgressLineOpen(false);
    // The counter starts from whatever the last write left; only the shape matters here.
    ASSERT_EQ(out.size(), std::string("\r00001 / 00000 .\r00002 / 00000 ...").size());
    EXPECT_EQ(out.substr(out.size() - 3), "...");
    EXPECT_EQ(out[0], '\r');
}
}
