#include "framework/app/Frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
TEST(CommandLine, JoinsArgumentsQuotingThoseWithBlanks)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {{}, ""},
        {{"-e", "my dir", "x"}, "-e \"my dir\" x"},
        {{"say\"what\""}, "say\"what\""},
        {{"a", "", "b"}, "a  b"},
        {{"tab\tsep", " lead"}, "tab\tsep \" lead\""},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("MORDAX")};
        for (const std::string& a : c.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        buildCommandLine(int(argv.size() - 1), argv.data());
        ASSERT_NE(commandLine, nullptr);
        EXPECT_STREQ(commandLine->c_str(), c.expected);
        ASSERT_EQ(getArgumentCount(), c.args.size());
        for (u32 i = 0; i < c.args.size(); ++i)
            EXPECT_STREQ(getArgument(i), c.args[i].c_str());
        EXPECT_EQ(getArgument(u32(c.args.size())), nullptr);
        memDelete(commandLine);
        commandLine = nullptr;
    }
}
}
