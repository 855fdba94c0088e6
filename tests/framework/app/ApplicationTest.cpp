#include "framework/app/Application.h"
#include "framework/app/Frame.h"
#include "framework/log/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
class ConfigApp : public Application
{
public:
    explicit ConfigApp(const char* text) : Application(String("ConfigApp")), configText(text) {}
    bool init(const String&) override { return true; }
    void onShutdown(bool) override {}
    bool update() override { return false; }
    bool loadConfigText(String& out) override
    {
        if (!configText)
            return false;
        out = configText;
        return true;
    }

private:
    const char* configText;
};

// Start-up leaves both outputs at WARN before the configuration is applied.
struct LevelScope
{
    LevelScope() : console(consoleLogLevel), file(fileLogLevel), instance(applicationInstance)
    {
        consoleLogLevel = LOG_WARN;
        fileLogLevel = LOG_WARN;
    }
    ~LevelScope()
    {
        consoleLogLevel = console;
        fileLogLevel = file;
        applicationInstance = instance;
    }
    u8 console, file;
    Application* instance;
};

TEST(ApplicationConfig, LogLevelsFollowTheCommonKeys)
{
    struct Case
    {
        const char* text;
        u8 console;
        u8 file;
    };
    const Case cases[] = {
        {nullptr, LOG_WARN, LOG_WARN},
        {"", LOG_WARN, LOG_WARN},
        {"common.log.fileLevel = ERROR", LOG_INFO, LOG_ERROR},
        {"common.log.consoleLevel = debug", LOG_DEBUG, LOG_INFO},
        {"COMMON.LOG.CONSOLELEVEL = Warning\ncommon.log.fileLevel=\"trace\"", LOG_WARN, LOG_TRACE},
        {"common.log.consoleLevel = loud", LOG_WARN, LOG_WARN},
        {"common.log.consoleLevel = loud\ncommon.log.fileLevel = FATAL", LOG_INFO, LOG_FATAL},
        {"common.log.consoleLevel =\ncommon.log.fileLevel = WARN ", LOG_INFO, LOG_WARN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(no text)");
        LevelScope scope;
        ConfigApp app(c.text);
        EXPECT_TRUE(app.applyCommonConfig());
        EXPECT_EQ(consoleLogLevel, c.console);
        EXPECT_EQ(fileLogLevel, c.file);
    }
}

TEST(ApplicationConfig, WaitJobThreshold)
{
    struct Case
    {
        const char* text;
        u32 expected;
    };
    const Case cases[] = {
        {"", 2000},
        {"common.waitJobThreshold_uS = 500", 500},
        {"common.waitJobThreshold_uS = 0", 0},
        {"common.waitJobThreshold_uS = 12a", 2000},
        {"common.waitJobThreshold_uS = -5", 2000},
        {"common.waitJobThreshold_uS = 4294967295", 4294967295u},
        {"common.waitJobThreshold_uS = 4294967296", 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LevelScope scope;
        ConfigApp app(c.text);
        app.applyCommonConfig();
        EXPECT_EQ(app.waitJobThreshold_uS, c.expected);
    }
}

TEST(ApplicationConfig, ConstructorClaimsTheInstanceAndClearsServices)
{
    LevelScope scope;
    ConfigApp app(nullptr);
    EXPECT_EQ(applicationInstance, &app);
    EXPECT_EQ(app.name, "ConfigApp");
    EXPECT_EQ(app.vfs, nullptr);
    EXPECT_EQ(app.jobs, nullptr);
    EXPECT_EQ(app.audio, nullptr);
    EXPECT_EQ(app.waitJobThreshold_uS, 2000u);
    EXPECT_FALSE(app.hasRunFailed());
}

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
