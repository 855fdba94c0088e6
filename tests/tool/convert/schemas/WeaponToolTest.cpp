// The tool on the generated archive of weapon loadouts (tests/fixtures/make_fixtures.py,
// tre_weapons): their chunks extract as records, an unedited repack gives the same archive, and
// edited records are written into their entries.
#include "tests/helpers/ToolRunner.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
const std::string archive = "WEAPONS.TRE";

std::string stage(const std::string& name)
{
    const std::string dir = scratchDirectory(name);
    writeFileBytes(dir + "/" + archive, readFileBytes(std::string(MORDAX_FIXTURES_DIR) + "/tre_weapons/" + archive));
    return dir;
}

size_t occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

void replaceOnce(std::string& text, const std::string& from, const std::string& to)
{
    ASSERT_EQ(occurrences(text, from), 1u) << from;
    text.replace(text.find(from), from.size(), to);
}
}

TEST(WeaponTool, ChunksExtractAsRecordsAndRepackUnchanged)
{
    const std::string dir = stage("weapon_tool");
    ToolResult t = runTool({"-e", archive, "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    const std::string fighter = readFileBytes(dir + "/out/SHIPS/DARTFLY.IFF.xml");
    const std::string capital = readFileBytes(dir + "/out/SHIPS/BARQUE.IFF.xml");
    const std::string odds = readFileBytes(dir + "/out/SHIPS/ODDS.IFF.xml");
    struct Case
    {
        const std::string& xml;
        const char* handler;
        size_t count;
    } cases[] = {
        {fighter, "Handler=\"FighterGuns\"", 1},        {fighter, "Handler=\"FighterSpecialGuns\"", 1},
        {fighter, "Handler=\"FighterMissiles\"", 1},    {fighter, "Handler=\"FighterDecoys\"", 1},
        {fighter, "Handler=\"FighterTurrets\"", 1},     {fighter, "Handler=", 5},
        {capital, "Handler=\"CapitalTurrets\"", 2},     {capital, "Handler=\"CapitalMissiles\"", 1},
        {capital, "Handler=", 3},                       {odds, "Handler=\"FighterSpecialGuns\"", 1},
        {odds, "Handler=", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(occurrences(c.xml, c.handler), c.count) << c.handler << "\n" << c.xml;
    EXPECT_EQ(occurrences(fighter, "<Gun Name=\"MARKER07\" Unknown=\"0\" PositionX=\"1.5\" PositionY=\"-0.5\" "
                                   "PositionZ=\"4\"/>"),
              1u)
        << fighter;

    t = runTool({"-r", "-o", "again", archive, "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(t.out.find("ERROR: "), std::string::npos) << t.out;
    EXPECT_EQ(readFileBytes(dir + "/again.TRE"), readFileBytes(dir + "/" + archive));
}

TEST(WeaponTool, EditedRecordsAreWrittenBack)
{
    const std::string dir = stage("weapon_tool_edit");
    ASSERT_EQ(runTool({"-e", archive, "out"}, dir).status, 0);
    ASSERT_EQ(runTool({"-e", "-n", archive, "raw"}, dir).status, 0);

    std::string fighter = readFileBytes(dir + "/out/SHIPS/DARTFLY.IFF.xml");
    replaceOnce(fighter, "<Gun Name=\"LASER\" Unknown=\"3\"", "<Gun Name=\"LASERS\" Unknown=\"4\"");
    writeFileBytes(dir + "/out/SHIPS/DARTFLY.IFF.xml", fighter);
    std::string capital = readFileBytes(dir + "/out/SHIPS/BARQUE.IFF.xml");
    replaceOnce(capital, "Damage=\"400\"", "Damage=\"513\"");
    writeFileBytes(dir + "/out/SHIPS/BARQUE.IFF.xml", capital);
    ToolResult t = runTool({"-r", archive, "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(t.out.find("ERROR: "), std::string::npos) << t.out;

    const std::string again = scratchDirectory("weapon_tool_edit_again");
    writeFileBytes(again + "/" + archive, readFileBytes(dir + "/output.TRE"));
    ASSERT_EQ(runTool({"-e", "-n", archive, "out"}, again).status, 0);
    std::string expected = readFileBytes(dir + "/raw/SHIPS/DARTFLY.IFF");
    replaceOnce(expected, std::string("LASER\0\0\0\x03", 9), std::string("LASERS\0\0\x04", 9));
    EXPECT_EQ(readFileBytes(again + "/out/SHIPS/DARTFLY.IFF"), expected);
    expected = readFileBytes(dir + "/raw/SHIPS/BARQUE.IFF");
    replaceOnce(expected, std::string("\x90\x01\0\0MARKER08", 12), std::string("\x01\x02\0\0MARKER08", 12));
    EXPECT_EQ(readFileBytes(again + "/out/SHIPS/BARQUE.IFF"), expected);
    EXPECT_EQ(readFileBytes(again + "/out/SHIPS/ODDS.IFF"), readFileBytes(dir + "/raw/SHIPS/ODDS.IFF"));
}

// A record that lost an attribute fails the repack with the handler's line; nothing is written.
TEST(WeaponTool, ARecordMissingAnAttributeFailsTheRepack)
{
    const std::string dir = stage("weapon_tool_broken");
    ASSERT_EQ(runTool({"-e", archive, "out"}, dir).status, 0);
    std::string capital = readFileBytes(dir + "/out/SHIPS/BARQUE.IFF.xml");
    replaceOnce(capital, " Pitch=\"-90\"", "");
    writeFileBytes(dir + "/out/SHIPS/BARQUE.IFF.xml", capital);
    ToolResult t = runTool({"-r", archive, "out"}, dir);
    EXPECT_EQ(t.status, 1) << t.out;
    EXPECT_NE(t.out.find("ERROR: IFF chunk 'TURT' uses Handler='CapitalTurrets', but that handler cannot write XML "
                         "back to bytes.\n"),
              std::string::npos)
        << t.out;
    // Nothing is written beside the archive and the extracted tree.
    for (const std::string& path : listTree(dir))
        EXPECT_TRUE(path == archive || path == "out" || path.rfind("out/", 0) == 0) << path;
}
