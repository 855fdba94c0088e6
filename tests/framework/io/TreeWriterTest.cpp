#include "framework/core/Faults.h"
#include "framework/io/TreeWriter.h"
#include "framework/platform/FileOps.h"
#include "IoTestUtil.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace iotest;

namespace
{
std::string contents(const std::string& path)
{
    std::string out;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        int c;
        while ((c = fgetc(f)) != EOF)
            out += char(c);
        fclose(f);
    }
    return out;
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool handleOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}
}

TEST(TreeWriter, NothingStandingAtANameIsWrittenThroughOrInto)
{
    ScratchDir dir;
    writeFile(dir.file("taken"), {'o', 'l', 'd'});
    ASSERT_EQ(mkdir(dir.file("real").c_str(), 0700), 0);
    // A link inside the root to a folder inside the root: never entered either.
    ASSERT_EQ(symlink("real", dir.file("sibling").c_str()), 0);
    const int top = openDirectory(dir.path.c_str());
    ASSERT_GE(top, 0);

    EXPECT_EQ(createFileAt(top, "taken"), -EEXIST);
    EXPECT_EQ(contents(dir.file("taken")), "old");
    EXPECT_LT(openDirectoryBeneath(top, "sibling"), 0);
    EXPECT_EQ(enterDirectoryAt(top, "sibling"), -ELOOP);
    closeHandle(top);

    TreeWriter writer;
    writer.begin(String(dir.path.c_str()), String());
    const u8 data[] = {'n', 'e', 'w'};
    EXPECT_EQ(writer.writeFile(String((dir.path + "/sibling/x.bin").c_str()), data, 3).status, PlaceStatus::Link);
    EXPECT_EQ(writer.writeFile(String((dir.path + "/sibling/deeper/x.bin").c_str()), data, 3).status,
              PlaceStatus::Link);
    writer.end();
    EXPECT_FALSE(exists(dir.file("real/x.bin")));
    EXPECT_FALSE(exists(dir.file("real/deeper")));
}

// More folders than the descriptor limit allows handles for: every file lands in its own folder,
// and no handle the writer did not open (the standard streams) is closed.
TEST(TreeWriter, LivesWithinTheDescriptorLimitAndClosesOnlyItsOwn)
{
    ScratchDir dir;
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    const bool standard[3] = {handleOpen(0), handleOpen(1), handleOpen(2)};
    for (rlim_t limit : {rlim_t(64), before.rlim_cur}) {
        struct rlimit tight = before;
        tight.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
        const std::string root = dir.file("out" + std::to_string(limit));
        TreeWriter writer;
        writer.begin(String(root.c_str()), String());
        bool allPlaced = writer.makeDirectory(String(root.c_str())).ok();
        for (u32 i = 0; i < 300; i++) {
            for (u32 j = 0; j < 2; j++) {
                const std::string text = std::to_string(i) + "." + std::to_string(j);
                const std::string path = root + "/D" + std::to_string(i) + "/F" + std::to_string(j);
                allPlaced &= writer.writeFile(String(path.c_str()), reinterpret_cast<const u8*>(text.data()),
                                              text.size()).ok();
            }
        }
        writer.end();
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &before), 0);
        EXPECT_TRUE(allPlaced) << limit;
        for (u32 i = 0; i < 300; i += 37)
            EXPECT_EQ(contents(root + "/D" + std::to_string(i) + "/F1"), std::to_string(i) + ".1") << limit;
        for (int fd = 0; fd < 3; fd++)
            EXPECT_EQ(handleOpen(fd), standard[fd]) << fd;
    }
}

// An open that finds the descriptor table full while folder handles are kept for later gives them
// back and is tried again: a folder's open, and a temporary file's create in a kept folder, whose
// own handle stays open for it.
TEST(TreeWriter, AFullDescriptorTableGivesBackTheKeptHandles)
{
    for (bool keptFolder : {false, true}) {
        ScratchDir dir;
        const std::string root = dir.file("out");
        TreeWriter writer;
        writer.begin(String(root.c_str()), String());
        writer.makeDirectory(String(root.c_str()));
        const u8 data[] = {'n', 'e', 'w'};
        for (u32 i = 0; i < 40; i++)
            ASSERT_TRUE(writer.writeFile(String((root + "/D" + std::to_string(i) + "/F").c_str()), data, 3).ok());
        // The lowest free number as the limit: the next open fails with EMFILE.
        const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(probe, 0);
        close(probe);
        struct rlimit before;
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
        struct rlimit tight = before;
        tight.rlim_cur = rlim_t(probe);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
        const std::string target = root + (keptFolder ? "/D20/G" : "/NEW/G");
        const PlaceResult placed = writer.writeFile(String(target.c_str()), data, 3);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &before), 0);
        writer.end();
        EXPECT_TRUE(placed.ok()) << keptFolder << " " << placed.error;
        EXPECT_EQ(contents(target), "new") << keptFolder;
    }
}

TEST(TreeWriter, AFailedWriteNamesATemporaryFileItCouldNotRemove)
{
    ScratchDir dir;
    // Every write and every removal fails.
    setFaultHook([](FaultKind kind) { return kind == FaultKind::Write; });
    DurableWrite how;
    const u8 data[] = {1, 2, 3};
    const int error = replaceFileDurably(String(dir.file("OUT.TRE").c_str()), data, 3, nullptr, nullptr, &how);
    TreeWriter writer;
    writer.begin(String(dir.path.c_str()), String());
    const PlaceResult placed = writer.writeFile(String(dir.file("sub/x.bin").c_str()), data, 3);
    writer.end();
    setFaultHook(nullptr);

    EXPECT_EQ(error, EIO);
    ASSERT_FALSE(how.leftBehind.isEmpty());
    EXPECT_EQ(std::string(how.leftBehind.c_str()).rfind(dir.path + "/.mdx-", 0), 0u) << how.leftBehind.c_str();
    EXPECT_TRUE(exists(how.leftBehind.c_str()));
    EXPECT_FALSE(exists(dir.file("OUT.TRE")));

    EXPECT_EQ(placed.status, PlaceStatus::Failed);
    ASSERT_NE(placed.leftBehind[0], 0);
    EXPECT_TRUE(exists(dir.file("sub/") + placed.leftBehind));
    EXPECT_FALSE(exists(dir.file("sub/x.bin")));
}
