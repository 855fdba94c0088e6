// The tool starts the virtual file system and the job system on every run: neither may slow a
// run down, change what it prints, or keep it from ending.
#include "tests/helpers/ToolRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
namespace fs = std::filesystem;

struct TimedRun
{
    int status = -1; // exit status; -1 when a signal ended the run
    int signal = 0;
    bool hung = false;
    std::string out;
};

// Runs the tool in cwd; with interruptAfterMs >= 0, SIGINT goes to it that long after the start.
// A run still going after 30 seconds is killed and reported as hung.
TimedRun runToolTimed(const std::vector<std::string>& args, const std::string& cwd, int interruptAfterMs = -1)
{
    TimedRun r;
    int output = -1;
    pid_t pid = startTool(args, cwd, output);
    if (pid < 0)
        return r;
    const auto start = std::chrono::steady_clock::now();
    bool interrupted = interruptAfterMs < 0;
    for (;;) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (!interrupted && elapsed.count() >= interruptAfterMs) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        if (elapsed > std::chrono::seconds(30)) {
            r.hung = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd p = {output, POLLIN, 0};
        if (poll(&p, 1, interrupted ? 100 : 1) > 0) {
            char buf[4096];
            ssize_t n = read(output, buf, sizeof buf);
            if (n <= 0)
                break;
            r.out.append(buf, size_t(n));
        }
    }
    close(output);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    return r;
}

std::string fixtureArchive()
{
    return (fs::path(MORDAX_FIXTURES_DIR) / "tre_plain" / "PLAIN.TRE").string();
}
}

TEST(ToolServices, RepeatedRunsPrintTheSameAndEnd)
{
    const std::string dir = scratchDirectory("services/repeat");
    const TimedRun first = runToolTimed({}, dir);
    ASSERT_FALSE(first.hung);
    const TimedRun listed = runToolTimed({fixtureArchive()}, dir);
    ASSERT_FALSE(listed.hung);
    ASSERT_EQ(listed.status, 0) << listed.out;
    for (int i = 0; i < 12; i++) {
        TimedRun again = runToolTimed(i % 2 ? std::vector<std::string>{fixtureArchive()} : std::vector<std::string>{},
                                      dir);
        const TimedRun& expected = i % 2 ? listed : first;
        ASSERT_FALSE(again.hung) << "run " << i;
        EXPECT_EQ(again.status, expected.status) << "run " << i;
        EXPECT_EQ(again.out, expected.out) << "run " << i;
    }
}

// An interrupt at any moment ends the run in order: never a hang, a crash or a lost line. A run
// it cuts short says so and fails; one that ended first is the quiet run.
TEST(ToolServices, InterruptDuringARunEndsItCleanly)
{
    const std::string dir = scratchDirectory("services/interrupt");
    const TimedRun quiet = runToolTimed({"-vv", fixtureArchive()}, dir);
    ASSERT_EQ(quiet.status, 0);
    for (int ms = 0; ms < 40; ms += 2) {
        TimedRun r = runToolTimed({"-vv", fixtureArchive()}, dir, ms);
        ASSERT_FALSE(r.hung) << "interrupted after " << ms << " ms";
        // Before the handlers are in place the default action ends the process.
        if (r.signal) {
            EXPECT_EQ(r.signal, SIGINT) << r.out;
            continue;
        }
        EXPECT_EQ(r.out.find("TERMINATED"), std::string::npos) << r.out;
        if (r.status == 0)
            EXPECT_EQ(r.out, quiet.out);
        else
            EXPECT_NE(r.out.find("ERROR: Interrupted!\n"), std::string::npos) << r.out;
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.out;
    }
}

// The working directory is scanned in the background: whatever it holds changes nothing.
TEST(ToolServices, HostileWorkingDirectoryChangesNothing)
{
    const std::string calm = scratchDirectory("services/calm");
    const std::string dir = scratchDirectory("services/hostile");
    const fs::path root(dir);
    mkfifo((root / "pipe").c_str(), 0600);
    fs::create_symlink("loop", root / "loop");
    fs::create_directory_symlink("/", root / "everything");
    fs::create_directories(root / ".svn" / "pristine");
    fs::path deep = root;
    for (int i = 0; i < 120; i++)
        deep /= "d";
    fs::create_directories(deep);
    std::ofstream(deep / "bottom.txt") << "x";
    for (int i = 0; i < 3000; i++)
        std::ofstream(root / ("many_" + std::to_string(i))) << "";
    std::ofstream(root / std::string("\xff\xfe name")) << "";

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{fixtureArchive()}, std::vector<std::string>{"-vv", fixtureArchive()}}) {
        const TimedRun expected = runToolTimed(args, calm);
        const TimedRun r = runToolTimed(args, dir);
        ASSERT_FALSE(r.hung);
        EXPECT_EQ(r.status, expected.status);
        EXPECT_EQ(r.out, expected.out);
    }
}
