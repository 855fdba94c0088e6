#include "tool/ToolOptions.h"
#include "tool/containers/XtreNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct VerbosityScope
{
    ToolOptions options;
    explicit VerbosityScope(u32 verbosity)
    {
        options.verbosity = verbosity;
        setToolOptions(&options);
    }
    ~VerbosityScope() { setToolOptions(nullptr); }
};

struct Resolved
{
    std::string name;
    std::string output;
    bool replaced;
};

Resolved resolveWith(const XtreNameResolver& resolver, const char* entryName, u32 verbosity)
{
    VerbosityScope scope(verbosity);
    String name(entryName);
    testing::internal::CaptureStdout();
    bool replaced = resolver.resolve(name);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    return {name.c_str(), out, replaced};
}

std::vector<std::string> rowNames(const XtreNameDictionary& set)
{
    std::vector<std::string> names;
    for (const XtreNameRow* r = set.rows; r->containerName; r++)
        names.push_back(r->containerName);
    return names;
}

u32 nameTotal(const XtreNameDictionary& set)
{
    u32 total = 0;
    for (const XtreNameRow* r = set.rows; r->containerName; r++)
        total += r->nameCount;
    return total;
}
}

TEST(XtreNameSets, RowsComeInTheirFixedOrderWithTheirCounts)
{
    EXPECT_EQ(rowNames(xtreNamesVersion1),
              (std::vector<std::string>{"GAMEFLOW.TRE", "INSTALL.TRE",  "LANGUAGE.TRE", "MISSIONS.TRE", "MOVIES.TRE",
                                        "MOVIES1.TRE",  "MOVIES2.TRE",  "MOVIES3.TRE",  "MOVIES4.TRE",  "MOVIES5.TRE",
                                        "MOVIES6.TRE",  "MUSIC1.TRE",   "MUSIC2.TRE",   "MUSIC3.TRE",   "MUSIC4.TRE",
                                        "OBJECTS.TRE",  "SPECIAL1.TRE", "SPECIAL2.TRE", "SPECIAL3.TRE", "SPECIAL4.TRE",
                                        "SPECIAL5.TRE", "SPECIAL6.TRE", "WC4MISC.TRE"}));
    EXPECT_EQ(rowNames(xtreNamesVersion0),
              (std::vector<std::string>{"CD1MISS.TRE", "CD1MOVIE.TRE", "CD2MISS.TRE", "CD2MOVIE.TRE", "CD3MISS.TRE",
                                        "CD3MOVIE.TRE", "CD4MISS.TRE", "CD4MOVIE.TRE", "GAMEFLOW.TRE", "INSTALL.TRE",
                                        "MISSIONS.TRE", "MOVIES.TRE", "OBJECTS.TRE", "WC3DEMO.TRE", "WC3MUSIC.TRE"}));
    EXPECT_EQ(rowNames(xtreNamesFlightCd), (std::vector<std::string>{"FLIGHTCD.TRE"}));
    EXPECT_EQ(nameTotal(xtreNamesVersion1), 6279u);
    EXPECT_EQ(nameTotal(xtreNamesVersion0), 1533u);
    EXPECT_EQ(nameTotal(xtreNamesFlightCd), 50u);
    EXPECT_EQ(nameTotal(xtreNamesVersion1) + nameTotal(xtreNamesVersion0) + nameTotal(xtreNamesFlightCd), 7862u);
    // No row lists more names than its archive holds, and every list is terminated.
    for (const XtreNameDictionary* set : {&xtreNamesVersion1, &xtreNamesVersion0, &xtreNamesFlightCd}) {
        for (const XtreNameRow* r = set->rows; r->containerName; r++) {
            u32 listed = 0;
            for (const XtreNameItem* i = r->items; i->path; i++)
                listed++;
            EXPECT_LE(listed, r->nameCount) << r->containerName;
        }
    }
}

TEST(XtreNameSets, TheSetFollowsVersionAndFlightCdName)
{
    EXPECT_EQ(&selectXtreNameDictionary(1, "GAMEFLOW.TRE"), &xtreNamesVersion1);
    EXPECT_EQ(&selectXtreNameDictionary(1, "FLIGHTCD.TRE"), &xtreNamesVersion1);
    EXPECT_EQ(&selectXtreNameDictionary(0, "GAMEFLOW.TRE"), &xtreNamesVersion0);
    EXPECT_EQ(&selectXtreNameDictionary(0, "FLIGHTCD.TRE"), &xtreNamesFlightCd);
    EXPECT_EQ(&selectXtreNameDictionary(0, "flightcd.tre"), &xtreNamesFlightCd);
    EXPECT_EQ(&selectXtreNameDictionary(0, "FlightCD.Tre"), &xtreNamesFlightCd);
    EXPECT_EQ(&selectXtreNameDictionary(0, "FLIGHTCD.TRE.BAK"), &xtreNamesVersion0);
    EXPECT_EQ(&selectXtreNameDictionary(0, "XFLIGHTCD.TRE"), &xtreNamesVersion0);
}

TEST(XtreNameSets, ResolveHashNamesByArchiveName)
{
    struct Case
    {
        u32 version;
        const char* archive;
        const char* entry;
        const char* expected; // null: the name is kept
    };
    const Case cases[] = {
        // The published pairs, each in its own row.
        {1, "GAMEFLOW.TRE", "0x82e8c2f3", "..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT"},
        {1, "INSTALL.TRE", "0x9470963a", "..\\..\\DATA\\MELO\\FONTS\\MELO_LRG.FNT"},
        {1, "WC4MISC.TRE", "0x6d8d3672", "..\\..\\DATA\\LANGUAGE\\MELO\\REPLAY.IFF"},
        {1, "MUSIC1.TRE", "0x75bb2861", "..\\..\\DATA\\SOUND\\SFMUSIC.IFF"},
        {0, "CD1MISS.TRE", "0x12154da6", "..\\..\\DATA\\GAMEFLOW\\BRANCH1.PAK"},
        {0, "GAMEFLOW.TRE", "0x56174006", "KEYCODEE.DAT"},
        {0, "INSTALL.TRE", "0x392724a5", "AUTOEXEC.WC3"},
        {0, "WC3MUSIC.TRE", "0x1a959074", "..\\..\\DATA\\SOUND\\BLOWNUP.WAV"},
        {0, "FLIGHTCD.TRE", "0xa9f0474b", "..\\..\\DATA\\MISSIONS\\MISN-12.IFF"},
        {0, "FLIGHTCD.TRE", "0xb34510e8", "..\\..\\DATA\\COCKPITS\\NAVMAP.IFF"},
        // Base names match whatever the case and whatever the directory.
        {1, "/games/data/gameflow.tre", "0x82e8c2f3", "..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT"},
        {1, "C:\\GAMES\\GameFlow.Tre", "0x82e8c2f3", "..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT"},
        {0, "cd/flightcd.tre", "0xa9f0474b", "..\\..\\DATA\\MISSIONS\\MISN-12.IFF"},
        {1, "GAMEFLOW.TRE", "0x82E8C2F3", "..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT"},
        {1, "GAMEFLOW.TRE", "0x0082e8c2f3", "..\\..\\DATA\\GAMEFLOW\\KEYCODEG.DAT"},
        // A row belongs to its own set and its own archive name only.
        {1, "GAMEFLOW.TRE", "0x56174006", nullptr},
        {0, "GAMEFLOW.TRE", "0x82e8c2f3", nullptr},
        {0, "CD1MISS.TRE", "0xa9f0474b", nullptr},
        {1, "FLIGHTCD.TRE", "0xa9f0474b", nullptr},
        {0, "FLIGHTCD.TRE", "0x12154da6", nullptr},
        {0, "FLIGHTCD.TRE.BAK", "0xa9f0474b", nullptr},
        {1, "UNKNOWN.TRE", "0x82e8c2f3", nullptr},
        {1, "GAMEFLOW.TREX", "0x82e8c2f3", nullptr},
        // Hashes the sets do not know, and "0x" names that are no hash.
        {1, "GAMEFLOW.TRE", "0x00000001", nullptr},
        {1, "GAMEFLOW.TRE", "0x", nullptr},
        {1, "GAMEFLOW.TRE", "0x82e8c2f3z", nullptr},
        {1, "GAMEFLOW.TRE", "0x182e8c2f3", nullptr},
    };
    for (const Case& c : cases) {
        XtreNameResolver resolver(c.version, c.archive);
        Resolved r = resolveWith(resolver, c.entry, 2);
        if (c.expected) {
            EXPECT_TRUE(r.replaced) << c.archive << " " << c.entry;
            EXPECT_EQ(r.name, c.expected) << c.archive << " " << c.entry;
            EXPECT_EQ(r.output, "") << c.archive << " " << c.entry;
        } else {
            EXPECT_FALSE(r.replaced) << c.archive << " " << c.entry;
            EXPECT_EQ(r.name, c.entry) << c.archive << " " << c.entry;
            EXPECT_EQ(r.output, std::string("Couldn't match hash for '") + c.entry + "'.\n")
                << c.archive << " " << c.entry;
        }
    }
}

TEST(XtreNameSets, UnmatchedNamesAreReportedFromVerbosityTwo)
{
    XtreNameResolver resolver(1, "NOWHERE.TRE");
    EXPECT_EQ(resolveWith(resolver, "0x1234abcd", 0).output, "");
    EXPECT_EQ(resolveWith(resolver, "0x1234abcd", 1).output, "");
    EXPECT_EQ(resolveWith(resolver, "0x1234abcd", 2).output, "Couldn't match hash for '0x1234abcd'.\n");
    EXPECT_EQ(resolveWith(resolver, "0x1234abcd", 5).output, "Couldn't match hash for '0x1234abcd'.\n");
    EXPECT_EQ(resolver.row(), nullptr);
}

TEST(XtreNameSets, NamesWithoutTheHashPrefixAreLeftAlone)
{
    // Clash-table names, and a prefix in another case, are no hash names.
    XtreNameResolver resolver(1, "GAMEFLOW.TRE");
    for (const char* name : {"..\\..\\DATA\\GAMEFLOW\\CLASH.DAT", "0X82E8C2F3", "82e8c2f3", ""}) {
        Resolved r = resolveWith(resolver, name, 5);
        EXPECT_FALSE(r.replaced) << name;
        EXPECT_EQ(r.name, name);
        EXPECT_EQ(r.output, "") << name;
    }
}

TEST(XtreNameSets, FirstRowAndFirstItemWin)
{
    static const XtreNameItem first[] = {
        {0xFFFFFFFF, "..\\..\\DATA\\FIRST.IFF"},
        {0x00000010, ""},
        {0xFFFFFFFF, "..\\..\\DATA\\SECOND.IFF"},
        {0, nullptr},
    };
    static const XtreNameItem shadowed[] = {
        {0x00000020, "..\\..\\DATA\\SHADOWED.IFF"},
        {0, nullptr},
    };
    static const XtreNameRow rows[] = {
        {"ONE.TRE", first, 3},
        {"one.tre", shadowed, 1},
        {nullptr, nullptr, 0},
    };
    const XtreNameDictionary set = {"test", rows};
    XtreNameResolver resolver(set, "data/One.Tre");
    ASSERT_EQ(resolver.row(), &rows[0]);
    EXPECT_EQ(resolveWith(resolver, "0xffffffff", 2).name, "..\\..\\DATA\\FIRST.IFF");
    // An empty listed path empties the name.
    Resolved empty = resolveWith(resolver, "0x10", 2);
    EXPECT_TRUE(empty.replaced);
    EXPECT_EQ(empty.name, "");
    EXPECT_EQ(resolveWith(resolver, "0x20", 2).output, "Couldn't match hash for '0x20'.\n");
    // The terminator's hash 0 is no entry.
    EXPECT_FALSE(resolveWith(resolver, "0x0", 0).replaced);
}
