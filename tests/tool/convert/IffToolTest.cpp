#include "tests/gamedata/formats/IffBytes.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tests/helpers/ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace iffbytes;

namespace
{
std::string asText(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

const Bytes ship = form("SHIP", cat({chunk("NAME", "Glider"), form("GUNS", cat({chunk("LASR", raw({2, 0, 0, 0})),
                                                                                    chunk("MASS", "Driver")}))}));
const std::string shipXml = "<IFF Version=\"1\">\n"
                            " <SHIP FormType=\"FORM\" OriginalSize=\"56\">\n"
                            "  <NAME OriginalSize=\"6\">\n"
                            "   Glider\n"
                            "  </NAME>\n"
                            "  <GUNS FormType=\"FORM\" OriginalSize=\"30\">\n"
                            "   <LASR OriginalSize=\"4\">\n"
                            "    0x02 0x00 0x00 0x00\n"
                            "   </LASR>\n"
                            "   <MASS OriginalSize=\"6\">\n"
                            "    Driver\n"
                            "   </MASS>\n"
                            "  </GUNS>\n"
                            " </SHIP>\n"
                            "</IFF>\n\n";
// Cut short inside its last chunk: kept as raw bytes.
const Bytes damaged = Bytes(ship.begin(), ship.end() - 3);
const std::string readme = "Ships and their guns.\n";

std::string sampleArchive(const std::string& dir)
{
    writeFileBytes(dir + "/SHIPS.TRE", asText(testutil::treLayout({{"README.TXT", Bytes(readme.begin(), readme.end())},
                                                     {"GAME\\DATA\\SHIP.IFF", ship},
                                                     {"GAME\\BROKEN.IFF", damaged}})));
    return "SHIPS.TRE";
}

// The "ERROR: " lines, without the archive's own "Container ... repacking failed" lines for the
// folders the failure passed through.
std::vector<std::string> errorLines(const std::string& out)
{
    std::vector<std::string> lines;
    for (const std::string& l : testutil::errorLines(out))
        if (l.rfind("ERROR: Container '", 0) != 0)
            lines.push_back(l);
    return lines;
}
}

TEST(IffTool, ExtractConvertsAndAnUneditedRepackGivesTheSameArchive)
{
    const std::string dir = scratchDirectory("iff_tool_repack");
    const std::string archive = sampleArchive(dir);
    ToolResult t = runTool({archive}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    // The cut file's form and chunk are reported as they are read.
    const std::string cut = "[WARN ] IFF > Attempted to correct oversized chunk (3 over)!\n";
    EXPECT_EQ(t.body(), "Reading files...\n" + cut + cut + "Listing contents:\n"
                        "README.TXT (22 bytes)\n"
                        "GAME/DATA/SHIP.IFF (64 bytes)\n"
                        " Interchange File Format\n"
                        "GAME/BROKEN.IFF (61 bytes)\n"
                        " Interchange File Format\n"
                        "Done. 3 files, 147 bytes total.\n\n");

    t = runTool({"-e", archive, "out"}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(t.body(), "Reading files...\n" + cut + cut + "Extracting contents...\nDone. Extracted 3/3 files.\n\n");
    EXPECT_EQ(listTree(dir + "/out"), (std::vector<std::string>{"GAME", "GAME/BROKEN.IFF", "GAME/DATA",
                                                                 "GAME/DATA/SHIP.IFF.xml", "README.TXT"}));
    EXPECT_EQ(readFileBytes(dir + "/out/GAME/DATA/SHIP.IFF.xml"), shipXml);
    EXPECT_EQ(readFileBytes(dir + "/out/GAME/BROKEN.IFF"), asText(damaged));
    if (std::system("command -v xmllint >/dev/null 2>&1") == 0) {
        EXPECT_EQ(std::system(("xmllint --noout '" + dir + "/out/GAME/DATA/SHIP.IFF.xml'").c_str()), 0);
    }

    t = runTool({"-r", "-o", "again", archive, "out"}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_TRUE(errorLines(t.out).empty()) << t.out;
    EXPECT_EQ(readFileBytes(dir + "/again.TRE"), readFileBytes(dir + "/" + archive));

    t = runTool({"-w", archive}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("Done. All OK; file checksums match.\n"), std::string::npos) << t.out;
}

TEST(IffTool, EditedDocumentsAreWrittenBack)
{
    const std::string dir = scratchDirectory("iff_tool_edit");
    const std::string archive = sampleArchive(dir);
    ASSERT_EQ(runTool({"-e", archive, "out"}, dir).status, 0);
    std::string xml = readFileBytes(dir + "/out/GAME/DATA/SHIP.IFF.xml");
    xml.replace(xml.find("Glider"), 6, "Glider V2");
    xml.replace(xml.find("0x02 0x00"), 9, "0x07 0x01");
    writeFileBytes(dir + "/out/GAME/DATA/SHIP.IFF.xml", xml);
    writeFileBytes(dir + "/out/GAME/BROKEN.IFF", "replaced raw bytes");
    ToolResult t = runTool({"-r", archive, "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;

    const std::string again = scratchDirectory("iff_tool_edit_again");
    writeFileBytes(again + "/" + archive, readFileBytes(dir + "/output.TRE"));
    ASSERT_EQ(runTool({"-e", "-n", archive, "out"}, again).status, 0);
    const Bytes edited = form("SHIP", cat({chunk("NAME", "Glider V2"), form("GUNS", cat({chunk("LASR", raw({7, 1, 0, 0})),
                                                                                           chunk("MASS", "Driver")}))}));
    EXPECT_EQ(readFileBytes(again + "/out/GAME/DATA/SHIP.IFF"), asText(edited));
    EXPECT_EQ(readFileBytes(again + "/out/GAME/BROKEN.IFF"), "replaced raw bytes");
    EXPECT_EQ(readFileBytes(again + "/out/README.TXT"), readme);
}

// An edit that cannot be written fails the repack with one error line, and nothing is written.
TEST(IffTool, EditsThatCannotBeWrittenFailTheRepack)
{
    struct Case
    {
        const char* what;
        const char* from;
        const char* to;
        const char* line;
    } cases[] = {
        {"broken XML", "</NAME>", "</NAMEX>", "ERROR: Couldn't parse 'out/GAME/DATA/SHIP.IFF.xml'!"},
        {"bad id", "<LASR OriginalSize=\"4\">", "<LASR RawName=\"0x4C 0x41\">",
         "ERROR: Invalid IFF RawName='0x4C 0x41' on XML element 'LASR'."},
        {"bad size", "OriginalSize=\"6\"", "OriginalSize=\"six\"",
         "ERROR: Invalid IFF OriginalSize='six' on XML element 'NAME'."},
        {"unknown compression", "<MASS OriginalSize=\"6\">", "<MASS Compression=\"Zip\">",
         "ERROR: IFF chunk compression 'Zip' cannot be written yet."},
        {"wrong version", "Version=\"1\"", "Version=\"3\"",
         "ERROR: Unrecognised version 3 for 'out/GAME/DATA/SHIP.IFF.xml'!"},
    };
    for (const Case& c : cases) {
        const std::string dir = scratchDirectory("iff_tool_bad");
        const std::string archive = sampleArchive(dir);
        ASSERT_EQ(runTool({"-e", archive, "out"}, dir).status, 0);
        std::string xml = readFileBytes(dir + "/out/GAME/DATA/SHIP.IFF.xml");
        ASSERT_NE(xml.find(c.from), std::string::npos) << c.what;
        xml.replace(xml.find(c.from), strlen(c.from), c.to);
        writeFileBytes(dir + "/out/GAME/DATA/SHIP.IFF.xml", xml);
        ToolResult t = runTool({"-r", archive, "out"}, dir);
        EXPECT_EQ(t.status, 1) << c.what << "\n" << t.out;
        std::vector<std::string> errors = errorLines(t.out);
        ASSERT_GE(errors.size(), 1u) << c.what << "\n" << t.out;
        EXPECT_EQ(errors[0], c.line) << c.what;
        // Then one line that names the file and says what to do.
        EXPECT_EQ(errors.back(), "ERROR: 'out/GAME/DATA/SHIP.IFF.xml' could not be converted back; nothing was "
                                 "written. Fix it, or delete it to keep the entry as it was!")
            << c.what;
        if (strcmp(c.what, "unknown compression") != 0) {
            EXPECT_EQ(errors.size(), 2u) << c.what << "\n" << t.out;
        }
        EXPECT_EQ(listTree(dir), (std::vector<std::string>{"SHIPS.TRE", "out", "out/GAME", "out/GAME/BROKEN.IFF",
                                                           "out/GAME/DATA", "out/GAME/DATA/SHIP.IFF.xml",
                                                           "out/README.TXT"}))
            << c.what;
    }
}

TEST(IffTool, NoConvertWorksOnRawFiles)
{
    const std::string dir = scratchDirectory("iff_tool_raw");
    const std::string archive = sampleArchive(dir);
    ASSERT_EQ(runTool({"-e", "-n", archive, "out"}, dir).status, 0);
    EXPECT_EQ(readFileBytes(dir + "/out/GAME/DATA/SHIP.IFF"), asText(ship));
    const Bytes changed = form("SHIP", chunk("NAME", "Changed"));
    writeFileBytes(dir + "/out/GAME/DATA/SHIP.IFF", asText(changed));
    ToolResult t = runTool({"-r", "-n", archive, "out"}, dir);
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_TRUE(errorLines(t.out).empty()) << t.out;
    const std::string tre = readFileBytes(dir + "/output.TRE");
    EXPECT_NE(tre.find(asText(changed)), std::string::npos);
}

TEST(IffTool, ALoneIffFile)
{
    const std::string dir = scratchDirectory("iff_tool_lone");
    writeFileBytes(dir + "/SHIP.IFF", asText(ship));
    ToolResult t = runTool({"-e", "SHIP.IFF", "out"}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(readFileBytes(dir + "/out/SHIP.IFF.xml"), shipXml);
    t = runTool({"-r", "SHIP.IFF", "out"}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_EQ(readFileBytes(dir + "/output.IFF"), asText(ship));
    t = runTool({"-w", "-o", "copy", "SHIP.IFF"}, dir);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("Done. All OK; file checksums match.\n"), std::string::npos) << t.out;
    EXPECT_EQ(readFileBytes(dir + "/copy.IFF"), asText(ship));
}
