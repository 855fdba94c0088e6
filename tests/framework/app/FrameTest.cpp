#include "framework/app/Application.h"
#include "framework/app/Frame.h"
#include "framework/log/Log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
namespace fs = std::filesystem;

struct ChildRun
{
    int status = -1; // exit status, or -1 when the child did not exit normally
    int signal = 0;  // the signal that ended it, if one did
    std::string out;
};

struct Interrupt
{
    std::string after; // once this text has appeared on the child's standard output
    int signal = SIGINT;  // send this signal, or with 0 close the reading end of the pipe
    int again = 0;        // and this one a moment later
};

// Runs the frame test application in dir with the given arguments, optionally allowed only the
// given processors.
ChildRun runApp(const fs::path& dir, const std::vector<std::string>& args, const Interrupt& interrupt = {},
               const std::vector<int>& cpus = {})
{
    ChildRun run;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return run;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (chdir(dir.c_str()) != 0)
            _exit(99);
        if (!cpus.empty()) {
            cpu_set_t set;
            CPU_ZERO(&set);
            for (int cpu : cpus)
                CPU_SET(cpu, &set);
            if (sched_setaffinity(0, sizeof(set), &set) != 0)
                _exit(97);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(FRAME_TEST_APP));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(FRAME_TEST_APP, argv.data());
        _exit(98);
    }
    close(pipeFds[1]);
    bool interrupted = interrupt.after.empty();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[4096];
    for (;;) {
        pollfd p = {pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
            if (n <= 0)
                break;
            run.out.append(buffer, size_t(n));
        }
        if (!interrupted && run.out.find(interrupt.after) != std::string::npos) {
            interrupted = true;
            if (!interrupt.signal)
                break;
            kill(pid, interrupt.signal);
            if (interrupt.again) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                kill(pid, interrupt.again);
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class FrameProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("mordax_frame_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
};

const char* const BANNER = " - FrameTestApp\n";

struct CrashCase
{
    const char* mode;
    const char* message;
    const char* signalName;
};

TEST_F(FrameProcessTest, CrashesEndWithFatalLineDumpAndStatusOne)
{
    const CrashCase cases[] = {
        {"segv", "An access violation has occurred!", "signal: 11 (SIGSEGV)"},
        {"abort", "Program aborted!", "signal: 6 (SIGABRT)"},
        {"pure", "Pure virtual function call!", "signal: 10101 (pure virtual call)"},
        {"overflow", "An access violation has occurred!", "signal: 11 (SIGSEGV)"},
        {"threadoverflow", "An access violation has occurred!", "signal: 11 (SIGSEGV)"},
    };
    for (const CrashCase& c : cases) {
        SCOPED_TRACE(c.mode);
        fs::remove(dir / "crash.mdmp");
        ChildRun run = runApp(dir, {c.mode});
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 1);
        std::string expected = std::string(BANNER) + "init [" + c.mode + "]\n[FATAL] Core > " + c.message +
                               "\n -- PROGRAM TERMINATED --\n";
        EXPECT_EQ(run.out, expected);
        std::string dump = readFile(dir / "crash.mdmp");
        EXPECT_EQ(dump.rfind("Crash dump\n", 0), 0u) << dump;
        EXPECT_NE(dump.find(c.signalName), std::string::npos) << dump;
        EXPECT_NE(dump.find(std::string("message: ") + c.message), std::string::npos) << dump;
        EXPECT_NE(dump.find("backtrace:\n"), std::string::npos) << dump;
    }
}

const char* const DEBUG_CONFIG = "common.log.consoleLevel = DEBUG";

// The frame's own lines from the end of the main loop to the end of the process.
const char* const ORDERLY_SHUTDOWN = "[DEBUG] Stub > Closing application...\n"
                                     "onShutdown 0\n"
                                     "storeConfigText [common.log.consoleLevel = DEBUG\n]\n"
                                     "app destroyed\n"
                                     "[DEBUG] Stub > Shutting down...\n"
                                     "[DEBUG] Stub > All done.\n";

std::string startLines(const char* mode)
{
    return std::string(BANNER) + "[DEBUG] Stub > Initialised.\ninit [" + mode + " \"" + DEBUG_CONFIG + "\"]\n";
}

TEST_F(FrameProcessTest, InterruptDuringLongUpdateShutsDownInOrder)
{
    ChildRun run = runApp(dir, {"longupdate", DEBUG_CONFIG}, {"update started\n"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, startLines("longupdate") + "update started\nupdate finished\n" + ORDERLY_SHUTDOWN);
}

// A second quit signal does not wait for the work: the recorded file goes, status 1.
TEST_F(FrameProcessTest, SecondQuitSignalEndsTheProcessAtOnce)
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const auto start = std::chrono::steady_clock::now();
        ChildRun run = runApp(dir, {"stubborn"}, {"update started\n", signal, signal});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\nERROR: Interrupted!\n"), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(dir / "half-written"));
    }
}

TEST_F(FrameProcessTest, QuitSignalsEndRunningLoop)
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ChildRun run = runApp(dir, {"loop", DEBUG_CONFIG}, {"running\n", signal});
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, startLines("loop") + "running\n" + ORDERLY_SHUTDOWN);
    }
}

// The services close first, in their order, before the application goes.
TEST_F(FrameProcessTest, ServicesCloseInOrderAtShutdown)
{
    ChildRun run = runApp(dir, {"services", DEBUG_CONFIG});
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> lines, workers;
    std::istringstream in(run.out.substr(run.out.find("onShutdown 0\n")));
    for (std::string line; std::getline(in, line);) {
        if (line.find("] WorkerThread > ") != std::string::npos || line.find("] Async Worker > ") != std::string::npos)
            workers.push_back(line);
        else
            lines.push_back(line);
    }
    const std::vector<std::string> expected = {
        "onShutdown 0",
        "storeConfigText [common.log.consoleLevel = DEBUG",
        "]",
        "[DEBUG] VFSLoader > Thread terminating...",
        "[DEBUG] VFSLoader > Thread terminated.",
        "[DEBUG] Job System > Terminating workers...",
        "app destroyed",
        "[DEBUG] Stub > Shutting down...",
        "[DEBUG] Stub > All done.",
    };
    EXPECT_EQ(lines, expected);
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
    const size_t cpus = size_t(CPU_COUNT(&set));
    // One worker per processor but the main thread's, or the one asynchronous worker.
    const size_t threads = cpus > 1 ? cpus - 1 : 1;
    EXPECT_EQ(workers.size(), 2 * threads);
    size_t afterWorkers = run.out.find("Terminating workers...");
    for (const std::string& w : workers)
        EXPECT_GT(run.out.find(w), afterWorkers) << w;
    EXPECT_GT(run.out.find("app destroyed"), run.out.rfind("> Thread terminated."));
}

TEST_F(FrameProcessTest, ClosedOutputPipeDoesNotKill)
{
    ChildRun run = runApp(dir, {"pipe"}, {"line 0\n", 0});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
}

TEST_F(FrameProcessTest, CrashWhileReportingACrashExitsAtOnce)
{
    ChildRun run = runApp(dir, {"doublecrash"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "init [doublecrash]\n[FATAL] Core > Program aborted!\n");
    EXPECT_FALSE(fs::exists(dir / "crash.mdmp"));
}

TEST_F(FrameProcessTest, ExitStatusTellsWhetherTheRunSucceeded)
{
    struct Case
    {
        const char* mode;
        int status;
        std::string tail;
    };
    const Case cases[] = {
        {"ok", 0, ORDERLY_SHUTDOWN},
        {"failrun", 1, ORDERLY_SHUTDOWN},
        // A failed init skips update and the configuration is not written back.
        {"failinit", 1,
         "[DEBUG] Stub > Closing application...\nonShutdown 1\napp destroyed\n"
         "[DEBUG] Stub > Shutting down...\n[DEBUG] Stub > All done.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ChildRun run = runApp(dir, {c.mode, DEBUG_CONFIG});
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, startLines(c.mode) + c.tail);
    }
}

TEST_F(FrameProcessTest, ApplicationThatCannotBeCreatedEndsStartUp)
{
    ChildRun run = runApp(dir, {"noapp"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "[ERROR] Stub > Couldn't initialise!\n");
}

TEST_F(FrameProcessTest, ArgumentsArriveIntact)
{
    const std::vector<std::string> args = {"args", "my dir", "it's", "tab\there", "quote\"d", "\xc3\xa9t\xc3\xa9", ""};
    ChildRun run = runApp(dir, args);
    EXPECT_EQ(run.status, 0);
    // The joined line quotes only arguments that hold a blank; the arguments themselves are kept.
    std::string expected = std::string(BANNER) + "init [args \"my dir\" it's tab\there quote\"d \xc3\xa9t\xc3\xa9 ]\n";
    for (size_t i = 0; i < args.size(); ++i)
        expected += "arg " + std::to_string(i) + " [" + args[i] + "]\n";
    expected += "onShutdown 0\nstoreConfigText []\napp destroyed\n";
    EXPECT_EQ(run.out, expected);
}

TEST_F(FrameProcessTest, FileLevelAloneMakesConsoleInfo)
{
    std::string config = "common.log.filename = frame.log\ncommon.log.fileLevel = ERROR";
    ChildRun run = runApp(dir, {"log", config});
    EXPECT_EQ(run.status, 0);
    std::string expected = std::string(BANNER) + "init [log \"" + config + "\"]\n" +
                           "[INFO ] Test > info line\n[WARN ] Test > warn line\n[ERROR] Test > error line\n" +
                           "onShutdown 0\nstoreConfigText [";
    EXPECT_EQ(run.out.substr(0, expected.size()), expected);
    EXPECT_EQ(readFile(dir / "frame.log"), "[ERROR] Test > error line\n");
}
}

namespace
{
TEST_F(FrameProcessTest, CommonConfigurationKeys)
{
    struct Case
    {
        const char* text; // null: no configuration text at all
        const char* expected;
    };
    // Levels: 0 TRACE, 1 DEBUG, 2 INFO, 3 WARN, 4 ERROR, 5 FATAL.
    const Case cases[] = {
        {nullptr, "console 3 file 3 threshold 2000"},
        {"", "console 3 file 3 threshold 2000"},
        {"common.log.fileLevel = ERROR", "console 2 file 4 threshold 2000"},
        {"common.log.consoleLevel = debug", "console 1 file 2 threshold 2000"},
        {"COMMON.LOG.CONSOLELEVEL = Warning\ncommon.log.fileLevel=\"trace\"", "console 3 file 0 threshold 2000"},
        {"common.log.consoleLevel = loud", "console 3 file 3 threshold 2000"},
        {"common.log.consoleLevel = loud\ncommon.log.fileLevel = FATAL", "console 2 file 5 threshold 2000"},
        {"common.log.consoleLevel =\ncommon.log.fileLevel = WARN ", "console 2 file 3 threshold 2000"},
        {"common.waitJobThreshold_uS = 500", "console 3 file 3 threshold 500"},
        {"common.waitJobThreshold_uS = 0", "console 3 file 3 threshold 0"},
        {"common.waitJobThreshold_uS = 12a", "console 3 file 3 threshold 2000"},
        {"common.waitJobThreshold_uS = -5", "console 3 file 3 threshold 2000"},
        {"common.waitJobThreshold_uS = 4294967295", "console 3 file 3 threshold 4294967295"},
        {"common.waitJobThreshold_uS = 4294967296", "console 3 file 3 threshold 2000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(no text)");
        std::vector<std::string> args = {"levels"};
        if (c.text)
            args.push_back(c.text);
        ChildRun run = runApp(dir, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find(std::string("\n") + c.expected + "\n"), std::string::npos) << run.out;
    }
}

TEST_F(FrameProcessTest, EmptyLogFileNameOpensNothing)
{
    ChildRun run = runApp(dir, {"log", "common.log.filename =\ncommon.log.fileLevel = TRACE"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(fs::is_empty(dir)) << run.out;
}
}

namespace
{
std::vector<int> allowedCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &set))
                cpus.push_back(cpu);
    return cpus;
}

// The main thread goes to the second processor the process may use, and a process allowed only
// one processor starts without complaint.
TEST_F(FrameProcessTest, MainThreadPinnedToSecondAllowedProcessor)
{
    std::vector<int> cpus = allowedCpus();
    ASSERT_FALSE(cpus.empty());
    std::vector<int> one = {cpus.back()};
    ChildRun single = runApp(dir, {"affinity"}, {}, one);
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(single.out, std::string(BANNER) + "init [affinity]\ncount 1 pinned " + std::to_string(one[0]) +
                              "\nonShutdown 0\nstoreConfigText []\napp destroyed\n");
    if (cpus.size() < 2)
        GTEST_SKIP() << "only one processor allowed";
    std::vector<int> two = {cpus[cpus.size() - 2], cpus.back()};
    ChildRun pinned = runApp(dir, {"affinity"}, {}, two);
    EXPECT_EQ(pinned.status, 0);
    EXPECT_EQ(pinned.out, std::string(BANNER) + "init [affinity]\ncount 2 pinned " + std::to_string(two[1]) +
                              "\nonShutdown 0\nstoreConfigText []\napp destroyed\n");
}
}
