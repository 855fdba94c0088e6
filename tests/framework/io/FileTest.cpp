#include "framework/core/Faults.h"
#include "framework/io/FileStream.h"
#include "framework/log/Log.h"
#include "IoTestUtil.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

using namespace iotest;

namespace
{
std::vector<u8> bytesOf(const char* text)
{
    return std::vector<u8>(text, text + strlen(text));
}

std::vector<u8> fileBytes(const std::string& path)
{
    std::vector<u8> out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    int c;
    while ((c = fgetc(f)) != EOF)
        out.push_back(u8(c));
    fclose(f);
    return out;
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Collects the log lines of one channel while it lives.
struct LogCapture
{
    static std::vector<std::string>* lines;
    LogListener listener{&LogCapture::onLine, nullptr};
    std::vector<std::string> captured;
    LogCapture()
    {
        lines = &captured;
        listener.next = logListeners;
        logListeners = &listener;
    }
    ~LogCapture()
    {
        logListeners = listener.next;
        lines = nullptr;
    }
    static void onLine(u8 level, const char* channel, const char* message)
    {
        if (lines && channel && strcmp(channel, "File") == 0)
            lines->push_back(std::string(logLevelName(level)) + " " + message);
    }
};
std::vector<std::string>* LogCapture::lines = nullptr;
}

TEST(FileStream, WriteThenReadWholeRoundTrip)
{
    ScratchDir dir;
    String path(dir.file("out.bin").c_str());
    std::vector<u8> data = randomBytes(5000, 9);

    FileStream* out = FileStream::openWrite(path);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->write(data.data(), data.size()));
    EXPECT_TRUE(out->writeLine("last line"));
    EXPECT_TRUE(out->write(nullptr, 0));
    memDelete(out);

    std::vector<u8> expected = data;
    for (u8 c : bytesOf("last line\n"))
        expected.push_back(c);
    EXPECT_EQ(fileBytes(path.c_str()), expected);

    ByteArray* whole = readWholeFile(path);
    ASSERT_NE(whole, nullptr);
    ASSERT_EQ(whole->count, expected.size());
    EXPECT_EQ(std::vector<u8>(whole->data, whole->data + whole->count), expected);
    memDelete(whole);
}

TEST(FileStream, TypedReadsAndModes)
{
    ScratchDir dir;
    std::string name = dir.file("seven.bin");
    writeFile(name, {1, 2, 3, 4, 5, 6, 7});
    FileStream* s = FileStream::openRead(name.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->size(), 7u);
    EXPECT_EQ(s->readU16(), 0x0201u);
    EXPECT_EQ(s->readU8(), 3u);
    EXPECT_EQ(s->bytesLeft(), 4u);
    EXPECT_EQ(s->readU64(), 0u); // 4 bytes left: 0, and they are consumed
    EXPECT_EQ(s->tell(), 7u);
    s->seek(4);
    EXPECT_EQ(s->readU32(), 0u); // 3 bytes left
    EXPECT_EQ(s->tell(), 7u);
    EXPECT_TRUE(s->atEnd());
    EXPECT_FALSE(s->write("x", 1));
    memDelete(s);

    // Reads on a write-only stream give 0 and touch nothing.
    FileStream w(String(dir.file("w.bin").c_str()), FileStream::ModeWrite);
    ASSERT_TRUE(w.open());
    EXPECT_EQ(w.readU8(), 0u);
    EXPECT_EQ(w.readU32(), 0u);
    w.close();
    EXPECT_TRUE(fileBytes(dir.file("w.bin")).empty());

    FileStream bad(String(name.c_str()), 7);
    EXPECT_FALSE(bad.open());
}

TEST(FileStream, AtEndOnlyAfterAReadHitsIt)
{
    ScratchDir dir;
    writeFile(dir.file("empty"), {});
    FileStream* s = FileStream::openRead(dir.file("empty").c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->atEnd());
    u8 c = 7;
    EXPECT_FALSE(s->readByte(c));
    EXPECT_EQ(c, 0);
    EXPECT_EQ(s->readU8(), 0u);
    EXPECT_TRUE(s->atEnd());
    memDelete(s);
}

TEST(FileStream, SeekPastTheEndLeavesNothingLeft)
{
    ScratchDir dir;
    writeFile(dir.file("f"), bytesOf("0123456789"));
    FileStream* s = FileStream::openRead(dir.file("f").c_str());
    ASSERT_NE(s, nullptr);
    s->seek(25);
    EXPECT_EQ(s->bytesLeft(), 0u);
    EXPECT_TRUE(s->exhausted());
    const u8 pattern[] = {'8', '9'};
    EXPECT_FALSE(s->find(pattern, 2));
    s->skip(~0ull);
    EXPECT_EQ(s->bytesLeft(), 0u);
    s->skipBack(~0ull);
    EXPECT_EQ(s->tell(), 0u);
    s->skipBack(1);
    EXPECT_EQ(s->tell(), 0u);
    EXPECT_TRUE(s->find(pattern, 2));
    EXPECT_EQ(s->tell(), 8u);
    const u8 missing[] = {'9', '0'};
    s->seek(2);
    EXPECT_FALSE(s->find(missing, 2));
    EXPECT_EQ(s->tell(), 9u);
    memDelete(s);
}

TEST(FileStream, ReadIntoStaysInsideTheDestination)
{
    ScratchDir dir;
    writeFile(dir.file("f"), bytesOf("abcdefgh"));
    FileStream* s = FileStream::openRead(dir.file("f").c_str());
    ASSERT_NE(s, nullptr);
    ByteArray dst(4);
    memset(dst.data, '.', 4);
    EXPECT_EQ(s->readInto(dst, 2, 3), 0u); // does not fit: nothing copied, still moves
    EXPECT_EQ(s->tell(), 3u);
    EXPECT_EQ(s->readInto(dst, 9, 1), 0u);
    EXPECT_EQ(s->tell(), 4u);
    EXPECT_EQ(memcmp(dst.data, "....", 4), 0);
    s->seek(6);
    EXPECT_EQ(s->readInto(dst, 1, 3), 2u); // short: the rest of the range is zeroed
    const u8 expected[4] = {'.', 'g', 'h', 0};
    EXPECT_EQ(memcmp(dst.data, expected, 4), 0);
    s->seek(0);
    ByteArray all(16);
    EXPECT_EQ(s->readInto(all), 8u);
    EXPECT_EQ(memcmp(all.data, "abcdefgh", 8), 0);
    memDelete(s);
}

TEST(FileStream, ReadWriteModeAlternates)
{
    ScratchDir dir;
    std::string name = dir.file("rw");
    writeFile(name, bytesOf("abcdef"));
    FileStream s(String(name.c_str()), FileStream::ModeReadWrite);
    ASSERT_TRUE(s.open());
    EXPECT_EQ(s.readU16(), u16('a' | ('b' << 8)));
    EXPECT_TRUE(s.write("XY", 2));
    EXPECT_EQ(s.readU8(), 'e');
    EXPECT_TRUE(s.write("Z", 1));
    s.rewind();
    u8 back[6];
    EXPECT_EQ(s.read(back, 6), 6u);
    EXPECT_EQ(memcmp(back, "abXYeZ", 6), 0);
    s.close();

    FileStream a(String(name.c_str()), FileStream::ModeAppend);
    ASSERT_TRUE(a.open());
    EXPECT_TRUE(a.write("!", 1));
    EXPECT_EQ(a.readU8(), 0u);
    a.close();
    EXPECT_EQ(fileBytes(name), bytesOf("abXYeZ!"));
}

TEST(FileStream, CloneHasItsOwnHandle)
{
    ScratchDir dir;
    std::string name = dir.file("c");
    writeFile(name, bytesOf("0123456789"));
    FileStream* s = FileStream::openRead(name.c_str());
    ASSERT_NE(s, nullptr);
    s->seek(3);
    Stream* copy = s->clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->tell(), 3u);
    EXPECT_EQ(copy->readU8(), '3');
    EXPECT_EQ(s->readU8(), '3');
    memDelete(copy);
    memDelete(s);

    // A clone of a writing stream does not empty the file it writes.
    FileStream* w = FileStream::openWrite(name.c_str());
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->write("hello", 5));
    fflush(w->file);
    Stream* wc = w->clone();
    ASSERT_NE(wc, nullptr);
    memDelete(wc);
    memDelete(w);
    EXPECT_EQ(fileBytes(name), bytesOf("hello"));

    FileStream closed(String(name.c_str()), FileStream::ModeRead);
    Stream* cc = closed.clone();
    ASSERT_NE(cc, nullptr);
    EXPECT_FALSE(static_cast<FileStream*>(cc)->isOpen);
    memDelete(cc);
}

TEST(FileStream, Md5MatchesMd5sum)
{
    ScratchDir dir;
    // Around the 1 MiB chunk size, and 3 MiB + 1.
    const u32 lengths[] = {0, 1, 1048575, 1048576, 1048577, 3 * 1048576 + 1};
    for (u32 n : lengths) {
        std::string name = dir.file(std::to_string(n) + ".bin");
        writeFile(name, randomBytes(n, n ^ 0x5a5a));
        FileStream* s = FileStream::openRead(name.c_str());
        ASSERT_NE(s, nullptr);
        s->seek(n / 2);
        u8 digest[16];
        s->md5(digest);
        EXPECT_EQ(hex(digest), md5sumOf(name)) << "length " << n;
        EXPECT_EQ(s->tell(), n / 2);
        memDelete(s);
    }
}

TEST(FileStream, Md5HashesOnlyTheBytesThatAreThere)
{
    ScratchDir dir;
    std::string name = dir.file("shrinks");
    writeFile(name, randomBytes(100000, 4));
    FileStream* s = FileStream::openRead(name.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->size(), 100000u); // measured now, before the file shrinks
    ASSERT_EQ(truncate(name.c_str(), 3000), 0);
    u8 digest[16];
    s->md5(digest);
    EXPECT_EQ(hex(digest), md5sumOf(name));
    memDelete(s);
}

TEST(ReadWholeFile, RefusesWhatCannotBeReadWhole)
{
    ScratchDir dir;
    EXPECT_EQ(FileStream::openRead(dir.file("missing").c_str()), nullptr);
    EXPECT_EQ(readWholeFile(dir.file("missing").c_str()), nullptr);

    writeFile(dir.file("empty"), {});
    ByteArray* empty = readWholeFile(dir.file("empty").c_str());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0u);
    memDelete(empty);

    // A directory opens for reading on Linux; a FIFO would block the open; a link is never
    // followed, even to a file that could be read.
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("empty", dir.file("link").c_str()), 0);
    const std::pair<std::string, ReadFailure> refused[] = {
        {dir.path, ReadFailure::NotRegular}, {dir.file("fifo"), ReadFailure::NotRegular},
        {dir.file("link"), ReadFailure::Link}, {dir.file("missing"), ReadFailure::Missing}};
    for (const auto& [path, why] : refused) {
        ReadFailure failure = ReadFailure::None;
        EXPECT_EQ(readWholeFile(path.c_str(), &failure), nullptr) << path;
        EXPECT_EQ(failure, why) << path;
    }

    // Sparse files: 4 GiB and more is refused before anything is allocated.
    for (u64 size : {0x100000000ull, 0x100000001ull, 0x500000000ull}) {
        std::string name = dir.file("huge");
        writeFile(name, {});
        ASSERT_EQ(truncate(name.c_str(), off_t(size)), 0);
        u64 before = memLiveBytes();
        EXPECT_EQ(readWholeFile(name.c_str()), nullptr) << size;
        EXPECT_EQ(memLiveBytes(), before);
    }
}

// Beneath a folder's handle no link is followed at any step, whether the system resolves the
// path in one call or it is walked folder by folder.
TEST(ReadWholeFile, BeneathAFolderNoLinkOnTheWayIsFollowed)
{
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.file("in").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("in/SUB").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("outside").c_str(), 0700), 0);
    writeFile(dir.file("in/SUB/A.BIN"), bytesOf("inside"));
    writeFile(dir.file("outside/A.BIN"), bytesOf("outside"));
    ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("in/LINKED").c_str()), 0);
    ASSERT_EQ(symlink("SUB", dir.file("in/SIBLING").c_str()), 0);
    ASSERT_EQ(symlink("A.BIN", dir.file("in/SUB/B.BIN").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("in/SUB/FIFO").c_str(), 0600), 0);
    const int top = openDirectory(dir.file("in").c_str());
    ASSERT_GE(top, 0);
    struct Case
    {
        const char* path;
        ReadFailure why;
        int error;
        u64 linkLength;
    };
    const Case cases[] = {{"SUB/A.BIN", ReadFailure::None, 0, 0},
                          {"LINKED/A.BIN", ReadFailure::Link, ELOOP, 6},
                          {"SIBLING/A.BIN", ReadFailure::Link, ELOOP, 7},
                          {"SUB/B.BIN", ReadFailure::Link, ELOOP, 9},
                          {"SUB/FIFO", ReadFailure::NotRegular, 0, 0},
                          {"SUB/NONE", ReadFailure::Missing, ENOENT, 0},
                          {"SUB/A.BIN/X", ReadFailure::Missing, ENOTDIR, 0}};
    // In one step, or walked folder by folder where the system has no such call or refuses it.
    for (const int refused : {0, ENOSYS, EPERM, E2BIG}) {
        const bool oneStep = refused == 0;
        setInjectedError(refused);
        setFaultHook(oneStep ? nullptr : +[](FaultKind kind) { return kind == FaultKind::Resolve; });
        // The walk takes no step back up, not even one that would stay below the folder.
        for (const char* up : {"SUB/../SUB/A.BIN", "../outside/A.BIN"}) {
            ReadFailure why = ReadFailure::None;
            ByteArray* bytes = readFileBeneath(top, up, why);
            EXPECT_EQ(bytes == nullptr, !oneStep || up[0] == '.') << up << refused;
            memDelete(bytes);
        }
        for (const Case& c : cases) {
            ReadFailure why = ReadFailure::None;
            int error = -1;
            u64 linkLength = 0;
            ByteArray* bytes = readFileBeneath(top, c.path, why, &error, &linkLength);
            EXPECT_EQ(why, c.why) << c.path << oneStep;
            EXPECT_EQ(error, c.error) << c.path << oneStep;
            EXPECT_EQ(linkLength, c.linkLength) << c.path << oneStep;
            EXPECT_EQ(bytes != nullptr, c.why == ReadFailure::None) << c.path << oneStep;
            if (bytes) {
                EXPECT_EQ(std::vector<u8>(bytes->data, bytes->data + bytes->count), bytesOf("inside"));
                memDelete(bytes);
            }
        }
    }
    setFaultHook(nullptr);
    setInjectedError(0);
    closeHandle(top);
}

TEST(CreatePath, CreatesEachComponentInTurn)
{
    ScratchDir dir;
    struct Case
    {
        const char* path;                    // below the scratch directory
        std::vector<const char*> directories; // that must exist afterwards
    };
    const Case cases[] = {
        {"out/a/b", {"out", "out/a", "out/a/b"}},
        {"out/a/b", {"out/a/b"}}, // again: already there is fine
        {"p/./q/../r", {"p", "p/q", "p/r"}},
        {"x./y", {"x.", "x./y"}},  // a name ending in '.' is not a "./" component
        {"C:/x", {"C:", "C:/x"}},  // ':' is an ordinary byte
        {"m//n/", {"m", "m/n"}},
        {"./.", {}},
    };
    for (const Case& c : cases) {
        std::string full = dir.path + "/" + c.path;
        EXPECT_TRUE(createPath(full.c_str())) << c.path;
        for (const char* d : c.directories)
            EXPECT_TRUE(isDirectory(dir.file(d))) << c.path << ": " << d;
    }
    EXPECT_FALSE(isDirectory(dir.file("xy")));
    EXPECT_TRUE(createPath("."));
    EXPECT_TRUE(createPath(""));
}

TEST(CreatePath, RelativeAndAbsoluteStayApart)
{
    ScratchDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    ScratchDir target;
    // The absolute path lands at its own place, not below the working directory.
    EXPECT_TRUE(createPath((target.path + "/abs").c_str()));
    EXPECT_TRUE(isDirectory(target.file("abs")));
    EXPECT_FALSE(isDirectory(dir.path + target.path));
    EXPECT_TRUE(createPath("rel/sub"));
    EXPECT_TRUE(isDirectory(dir.file("rel/sub")));
    ASSERT_EQ(chdir(cwd), 0);
}

TEST(CreatePath, StopsAtTheFirstFailure)
{
    ScratchDir dir;
    writeFile(dir.file("plain"), bytesOf("not a directory"));
    LogCapture log;
    std::string path = dir.file("plain/sub/deeper");
    int error = 0;
    u64 failedLength = 0;
    EXPECT_FALSE(createPath(path.c_str(), &error, &failedLength));
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_EQ(path.substr(0, failedLength), dir.file("plain/sub"));
    ASSERT_EQ(log.captured.size(), 2u);
    EXPECT_EQ(log.captured[0], "DEBUG Creating path '" + path + "'...");
    EXPECT_EQ(log.captured[1], "ERROR Couldn't create path '" + dir.file("plain/sub") + "'!");
    EXPECT_FALSE(isDirectory(dir.file("plain/sub/deeper")));
}
