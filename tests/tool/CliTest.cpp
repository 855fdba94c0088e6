#include "tests/helpers/ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace
{
const std::string usageHead = "Usage: MORDAX [options] [TRE or PAK File] <Directory>\n\n"
                              " Available options:\n"
                              "  -v\n"
                              "    Increase verbosity. Can be increased multiple times.\n"
                              "  -e\n"
                              "    Extracts the TRE/PAK file to the given directory.\n"
                              "  -r\n"
                              "    Repack a new TRE/PAK called 'output.tre' or 'output.pak'.\n"
                              "    Reads the existing TRE/PAK, then overlays files in the specified directory.\n";
const std::string usageDetail = "  -w\n"
                                "    Rewrites a new TRE/PAK with the same content; for debugging/verification.\n"
                                "    An MD5 check is performed - checksums should match.\n"
                                "  -g\n"
                                "    Dumps early TRE post-TOC anonymous \"gap\" data for analysis.\n"
                                "  -s\n"
                                "    Don't recurse into sub-containers; e.g. extract them as-is.\n"
                                "  -a\n"
                                "    Add new files; note that the game won't read these by default!\n";
const std::string usageTail = "  -n\n"
                              "    No conversion of types on extraction (e.g. VOC to WAV).\n"
                              "  -o [Output File]\n"
                              "    Sets an output filename rather than \"output\".\n"
                              "  [TRE or PAK File]\n"
                              "    The TRE or PAK file to operate on. (REQUIRED)\n"
                              "  <Directory>\n"
                              "    The directory to extract files to, or to find replacement files in.\n"
                              "\nExamples:\n"
                              " MORDAX MIDGAMES.TRE\n"
                              "  - Will list the contents of MIDGAMES.TRE.\n"
                              " MORDAX -e MIDGAMES.TRE MIDGAMES\n"
                              "  - Will extract the contents of MIDGAMES.TRE to \"MIDGAMES\\\".\n"
                              " MORDAX -r MIDGAMES.TRE MIDGAMES\n"
                              "  - Will repack the contents of MIDGAMES.TRE from \"MIDGAMES\\\".\n";
const std::string usage = usageHead + usageTail;
const std::string usageWithDetail = usageHead + usageDetail + usageTail;

struct CliCase
{
    std::vector<std::string> args;
    int status;
    std::string body;
};

TEST(Cli, OptionErrorsPrintTheirLineAndUsage)
{
    const CliCase cases[] = {
        {{}, 1, "ERROR: No file specified!\n\n" + usage},
        {{"-x"}, 1, "ERROR: Unknown option: 'x'\n\n" + usage},
        {{"-?"}, 1, usage},
        {{"-v", "-?"}, 1, usageWithDetail},
        {{"-?", "-v"}, 1, usage},
        {{"a.tre", "out", "third"}, 1, "ERROR: Unexpected parameter 'third'!\n\n" + usage},
        {{"-e", "a.tre"}, 1, "ERROR: No directory specified!\n\n" + usage},
        {{"-r", "a.tre"}, 1, "ERROR: No directory specified!\n\n" + usage},
        {{"a.tre", "-o"}, 1, "ERROR: Expected filename after -o!\n" + usage},
        {{"-w", "-o", "", "a.tre"}, 1, "ERROR: Expected filename after -o!\n" + usage},
        {{"-w", "-o", ".tre", "a.tre"}, 1, "ERROR: Expected filename after -o!\n" + usage},
        {{"-w", "-o", "out\\", "a.tre"}, 1, "ERROR: Expected filename after -o!\n" + usage},
        {{"-w", "-o", "out/..", "a.tre"}, 1, "ERROR: Expected filename after -o!\n" + usage},
        {{"-vve", "a.tre"}, 1, "OPTION: Extracting.\nERROR: No directory specified!\n\n" + usageWithDetail},
        {{"-ve", "a.tre"}, 1, "ERROR: No directory specified!\n\n" + usageWithDetail},
        {{"-vv", "-g", "-n", "-s", "-a", "-r", "-w"},
         1,
         "OPTION: Extracting post-TOC \"gap\" data (if any).\nOPTION: No format conversion.\nOPTION: No "
         "recursion.\nOPTION: Adding new files.\nOPTION: Repack.\nOPTION: Rewriting.\nERROR: No file "
         "specified!\n\n" +
             usageWithDetail},
    };
    for (const CliCase& c : cases) {
        ToolResult r = runTool(c.args);
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined;
        EXPECT_EQ(r.body(), c.body) << joined;
    }
}

TEST(Cli, BannerComesFirst)
{
    ToolResult r = runTool({"-?"});
    EXPECT_EQ(r.out.rfind(" - MORDAX v0.5", 0), 0u) << r.out;
}

TEST(Cli, UnreadableOrUnknownArchivesFail)
{
    std::string dir = scratchDirectory("cli-unknown");
    writeFileBytes(dir + "/notes.txt", "just some text\n");
    writeFileBytes(dir + "/empty.bin", "");
    const CliCase cases[] = {
        {{"-e", "missing.tre", "out"}, 1, "ERROR: Couldn't open 'missing.tre'!\n\n"},
        {{"notes.txt"}, 1, "ERROR: The file 'notes.txt' wasn't of a recognised/supported type!\n\n"},
        {{"empty.bin"}, 1, "ERROR: The file 'empty.bin' wasn't of a recognised/supported type!\n\n"},
        {{"."}, 1, "ERROR: Couldn't open '.'!\n\n"},
        {{"-w", "notes.tre"},
         1,
         "ERROR: Couldn't open 'notes.tre'!\n\n"},
    };
    for (const CliCase& c : cases) {
        ToolResult r = runTool(c.args, dir);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(r.body(), c.body) << c.args.back();
    }
    writeFileBytes(dir + "/junk.tre", "just some text\n");
    ToolResult r = runTool({"junk.tre"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.body(), "ERROR: This is an unrecognised / unsupported TRE format!\n"
                        "ERROR: The file 'junk.tre' wasn't of a recognised/supported type!\n\n");
}
}

namespace
{
const std::string sample = std::string(MORDAX_SOURCE_DIR) + "/samples/SAMPLE.TRE";

TEST(Cli, NeverWritesOverItsInput)
{
    std::string dir = scratchDirectory("cli-self");
    std::string bytes = readFileBytes(sample);
    writeFileBytes(dir + "/output.TRE", bytes);
    ToolResult r = runTool({"-w", "output.TRE"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.body().find("ERROR: "), std::string::npos) << r.out;
    EXPECT_EQ(readFileBytes(dir + "/output.TRE"), bytes);
    EXPECT_EQ(listTree(dir), std::vector<std::string>{"output.TRE"});
}

TEST(Cli, OutputNameLosesOnlyTheLastComponentsExtension)
{
    std::string dir = scratchDirectory("cli-outname");
    writeFileBytes(dir + "/A.TRE", readFileBytes(sample));
    writeFileBytes(dir + "/out.d/keep", "");
    ToolResult r = runTool({"-w", "-o", "out.d/new", "A.TRE"}, dir);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFileBytes(dir + "/out.d/new.TRE"), readFileBytes(sample));
    r = runTool({"-o", "renamed.pak", "-w", "A.TRE"}, dir);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFileBytes(dir + "/renamed.TRE"), readFileBytes(sample));
}

TEST(Cli, DotDirectoriesMeanTheWorkingDirectory)
{
    for (const char* d : {".", "./", "sub/..", "sub\\.."}) {
        std::string dir = scratchDirectory("cli-dot");
        writeFileBytes(dir + "/A.TRE", readFileBytes(sample));
        writeFileBytes(dir + "/sub/x", "");
        ToolResult r = runTool({"-e", "A.TRE", d}, dir);
        EXPECT_EQ(r.status, 0) << d << r.out;
        EXPECT_EQ(readFileBytes(dir + "/README.TXT").size(), 88u) << d;
    }
}
}
