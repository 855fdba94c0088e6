#pragma once
#include "framework/app/Application.h"
#include "gamedata/TamberData.h"
#include "tool/ToolOptions.h"

// Shown in the banner of every run.
#define MORDAX_VERSION "0.5"

// Forwards the game-data library's messages to the framework log.
class BridgeLogger : public TD::Logger
{
public:
    void log(const char* channel, const char* message, u8 level) override;
};

// The tool's application: parses the options, then does all of its work in one update.
class ArchiveToolApp : public Application, public ToolOptions
{
public:
    String archivePath;
    String directory;
    String outputName;

    ArchiveToolApp();
    ~ArchiveToolApp() override;

    bool init(const String& commandLine) override;
    void onShutdown(bool failed) override;
    bool update() override;
    void onInterrupted() override;
    void printUsage();

private:
    bool parseArguments();
    bool fail(const char* message, const char* detail);
    TD::Logger* libraryLogger = nullptr;
};

Application* createToolApplication();
// Flushes standard output; false, after an "ERROR: " line on standard error that says why, when
// what the run printed did not all arrive (a full disk, a closed pipe). The error is then cleared,
// so a later call reports only output that failed after it.
bool flushStandardOutput();
// What the tool hands the game-data library: the tracked heap and files through framework streams.
TD::Hooks toolLibraryHooks();
