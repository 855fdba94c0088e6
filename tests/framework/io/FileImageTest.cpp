#include "framework/io/FileStream.h"
#include "framework/platform/Signals.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "tests/helpers/ToolRunner.h"
#include "IoTestUtil.h"

#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace iotest;

namespace
{
const size_t PAGE = size_t(sysconf(_SC_PAGESIZE));

// Whether the file at path is mapped into this process.
bool mapped(const std::string& path)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    return false;
}

// Runs `check` in a child process whose crash handlers are installed (files are mapped only
// then); what it returns is the first problem found, "" for none.
void inGuardedChild(std::string (*check)())
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            installCrashHandlers();
            const std::string problem = check();
            fprintf(stderr, "%s\n", problem.c_str());
            _exit(problem.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// An image holds exactly its file's bytes and goes with its array; it is refused where
// readWholeFile refuses, before anything is allocated. `mapping`: 1 mapped, 0 read, -1 either.
std::string imageProblems(int mapping)
{
    ScratchDir dir;
    for (size_t size : {size_t(0), size_t(1), 3 * PAGE, 3 * PAGE + 123}) {
        const std::string name = dir.file("IMAGE" + std::to_string(size) + ".TRE");
        const std::string what = std::to_string(size) + " bytes: ";
        const std::vector<u8> bytes = randomBytes(size, u32(size) + 1);
        writeFile(name, bytes);
        const u64 before = memLiveBytes();
        ByteArray* image = readFileImage(name.c_str());
        if (!image)
            return what + "no image";
        const bool wasMapped = mapped(name);
        const bool same = std::vector<u8>(image->data, image->data + image->count) == bytes;
        const bool changed = imageChanged(image);
        deleteByteArray(image);
        if (!same)
            return what + "other bytes";
        if (mapping >= 0 && wasMapped != (mapping == 1 && size > 0))
            return what + (wasMapped ? "mapped" : "not mapped");
        if (changed)
            return what + "taken for changed";
        if (mapped(name) || memLiveBytes() != before)
            return what + "not freed with its array";
    }
    writeFile(dir.file("HUGE.TRE"), {});
    if (truncate(dir.file("HUGE.TRE").c_str(), off_t(0x100000000ull)) != 0)
        return "no sparse file";
    if (mkfifo(dir.file("PIPE.TRE").c_str(), 0600) != 0)
        return "no FIFO";
    for (const std::string& name : {dir.file("MISSING.TRE"), dir.path, dir.file("PIPE.TRE"), dir.file("HUGE.TRE")}) {
        const String path(name.c_str());
        const u64 before = memLiveBytes();
        if (readFileImage(path) || memLiveBytes() != before)
            return name + " not refused";
    }
    return "";
}

// A file that shrinks under its image reads as zeros past its new end, without a crash, and the
// image says that it changed; so does one written in place.
std::string changeProblems()
{
    ScratchDir dir;
    const std::string name = dir.file("CHANGING.TRE");
    const size_t size = 5 * PAGE + 321;
    const struct
    {
        const char* name;
        off_t cutTo; // -1: not cut
        bool written;
    } cases[] = {
        {"untouched", -1, false},
        {"cut to a page and a bit", off_t(PAGE + 10), false},
        {"cut to nothing", 0, false},
        {"written in place", -1, true},
    };
    for (const auto& c : cases) {
        const std::vector<u8> bytes = randomBytes(size, 7);
        writeFile(name, bytes);
        ByteArray* image = readFileImage(name.c_str());
        if (!image || !mapped(name)) {
            deleteByteArray(image);
            return std::string(c.name) + ": not mapped";
        }
        if (c.cutTo >= 0 && truncate(name.c_str(), c.cutTo) != 0)
            return std::string(c.name) + ": not cut";
        if (c.written) {
            FILE* f = fopen(name.c_str(), "r+b");
            const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
            bool written = f && fputc(bytes[0] ^ 0xFF, f) != EOF;
            written = f && fclose(f) == 0 && written;
            if (!written || utimensat(AT_FDCWD, name.c_str(), past, 0) != 0)
                return std::string(c.name) + ": not written";
        }
        // Every byte read here, where a SIGBUS would end the process.
        const std::vector<u8> seen(image->data, image->data + image->count);
        const bool changed = imageChanged(image);
        deleteByteArray(image);
        std::vector<u8> expected = bytes;
        if (c.cutTo >= 0)
            std::fill(expected.begin() + c.cutTo, expected.end(), 0);
        if (!c.written && seen != expected)
            return std::string(c.name) + ": other bytes";
        if (changed != (c.cutTo >= 0 || c.written))
            return std::string(c.name) + (changed ? ": taken for changed" : ": change not seen");
    }
    return "";
}
}

TEST(FileImage, HoldsTheFileBytesReadOrMapped)
{
    // Without the crash handlers here (whether another test installed them or not).
    EXPECT_EQ(imageProblems(-1), "");
    inGuardedChild([] { return imageProblems(1); });
}

TEST(FileImage, FileChangedUnderItsImageIsSeenNotACrash)
{
    inGuardedChild(changeProblems);
}

// Through the tool: an archive cut short while its entries are extracted (the tool waits meanwhile
// on its full output pipe) fails the run with error lines, never a crash.
TEST(FileImage, ArchiveCutShortDuringExtractionFailsTheRun)
{
    ScratchDir scratch;
    const std::string& dir = scratch.path;
    std::vector<std::pair<std::string, testutil::Bytes>> entries;
    for (u32 i = 0; i < 2000; i++)
        entries.push_back({"STORE\\ITEM" + std::to_string(i) + ".BIN", randomBytes(100, i)});
    const testutil::Bytes archive = testutil::treLayout(entries);
    writeFile(dir + "/CUT.TRE", archive);

    int output = -1;
    // One page of pipe: once the archive is open, a few hundred lines of entries fill it and the
    // tool waits to write more.
    const pid_t pid = startTool({"-vve", "CUT.TRE", "out"}, dir, output, int(PAGE));
    ASSERT_GT(pid, 0);
    std::string out;
    char buffer[4096];
    while (out.find("Extracting contents...") == std::string::npos) {
        const ssize_t got = read(output, buffer, sizeof buffer);
        ASSERT_GT(got, 0) << out;
        out.append(buffer, size_t(got));
    }
    ASSERT_EQ(truncate((dir + "/CUT.TRE").c_str(), off_t(8 + 74 * entries.size())), 0);
    ssize_t n;
    while ((n = read(output, buffer, sizeof buffer)) > 0)
        out.append(buffer, size_t(n));
    close(output);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 1) << out;
    EXPECT_FALSE(testutil::errorLines(out).empty()) << out;
    EXPECT_EQ(out.find("PROGRAM TERMINATED"), std::string::npos) << out;
}
