#include "framework/io/DirectoryTree.h"
#include "framework/core/Faults.h"
#include "framework/platform/Directory.h"
#include "framework/platform/FileOps.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{
// A scratch directory removed again at the end of the test.
struct ScratchDir
{
    fs::path root;

    ScratchDir()
    {
        std::string pattern = (fs::temp_directory_path() / "mordax-scan-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        root = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
    std::string str() const { return root.string(); }

    void file(const std::string& relative, const std::string& content = "x") const
    {
        fs::path p = root / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
    void dir(const std::string& relative) const { fs::create_directories(root / relative); }
};

void dumpInto(const DirectoryTree& node, std::string& out)
{
    std::string indent(node.level, ' ');
    for (const StringPair* f : node.files)
        out += indent + f->name.c_str() + " = " + f->path.c_str() + "\n";
    for (const DirectoryTree* d : node.directories) {
        out += indent + "[" + d->name.c_str() + "] " + std::to_string(d->level) + "\n";
        dumpInto(*d, out);
    }
}

// Files of a node, then its directories, each indented by its level; the root prefix of the
// paths is replaced by "R".
std::string dump(const DirectoryTree& tree, const std::string& root)
{
    std::string out;
    dumpInto(tree, out);
    for (size_t at = out.find(root); at != std::string::npos; at = out.find(root, at))
        out.replace(at, root.size(), "R");
    return out;
}

std::string scanned(const std::string& path, DirectoryFilter* filter, const std::string& root)
{
    DirectoryTree tree;
    tree.scan(String(path.c_str()), 0, filter);
    return dump(tree, root);
}

// Records what a scan asks its filter; refuses to enter directories at `closedDepth`.
class RecordingFilter : public DirectoryFilter
{
public:
    std::vector<std::string> calls;
    u32 closedDepth = 99;

    bool accept(const String& directoryPath, const String& name, bool isDirectory) override
    {
        calls.push_back(std::string(isDirectory ? "dir " : "file ") + directoryPath.c_str() + " " + name.c_str());
        return true;
    }
    bool enterDirectory(u32 level, u32 depth) override
    {
        calls.push_back("enter " + std::to_string(level) + " " + std::to_string(depth));
        return depth != closedDepth;
    }
};
}

TEST(DirectoryScan, NestedTreeInNtfsOrder)
{
    ScratchDir s;
    s.file("b.txt");
    s.file("a.txt");
    s.file("A.txt");
    s.file("_under");
    s.file("Zed");
    s.file("abc");
    s.file("ABD");
    s.file("abc.d");
    s.file("sub/deeper/leaf.bin");
    s.file("sub/one");
    s.dir("Sub2");
    s.dir("empty");
    u64 before = memLiveBytes();
    DirectoryTree* tree = DirectoryTree::createAndScan(String(s.str().c_str()));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->level, 0u);
    EXPECT_TRUE(tree->name.isEmpty());
    EXPECT_EQ(dump(*tree, s.str()),
              "A.txt = R/A.txt\n"
              "a.txt = R/a.txt\n"
              "abc = R/abc\n"
              "abc.d = R/abc.d\n"
              "ABD = R/ABD\n"
              "b.txt = R/b.txt\n"
              "Zed = R/Zed\n"
              "_under = R/_under\n"
              "[empty] 1\n"
              "[sub] 1\n"
              " one = R/sub/one\n"
              " [deeper] 2\n"
              "  leaf.bin = R/sub/deeper/leaf.bin\n"
              "[Sub2] 1\n");
    memDelete(tree);
    EXPECT_EQ(memLiveBytes(), before);
}

TEST(DirectoryScan, TrailingSeparatorsAndMissingDirectories)
{
    ScratchDir s;
    s.file("data/x/y.txt");
    std::string data = s.str() + "/data";
    std::string want = "[x] 1\n y.txt = R/data/x/y.txt\n";
    EXPECT_EQ(scanned(data, nullptr, s.str()), want);
    EXPECT_EQ(scanned(data + "/", nullptr, s.str()), want);
    EXPECT_EQ(scanned(data + "\\", nullptr, s.str()), want);
    EXPECT_EQ(scanned(s.str() + "\\data\\", nullptr, s.str()), want);

    s.dir("void");
    EXPECT_EQ(scanned(s.str() + "/void", nullptr, s.str()), "");
    EXPECT_EQ(scanned(s.str() + "/missing", nullptr, s.str()), "");
    EXPECT_EQ(scanned(s.str() + "/data/x/y.txt", nullptr, s.str()), "");
    EXPECT_EQ(scanned("", nullptr, s.str()), "");
}

TEST(DirectoryScan, DefaultFilterSkipsVersionControlDirectories)
{
    ScratchDir s;
    s.file(".svn/entries");
    s.file(".vs/state");
    s.file("QX_DEBUG/log");
    s.file("qx_debug/kept");
    s.file("sub/.svn", "a file of that name stays");
    s.file("sub/.vs/gone");
    DirectoryTree* tree = DirectoryTree::createAndScan(String(s.str().c_str()));
    EXPECT_EQ(dump(*tree, s.str()),
              "[qx_debug] 1\n"
              " kept = R/qx_debug/kept\n"
              "[sub] 1\n"
              " .svn = R/sub/.svn\n");
    memDelete(tree);

    // Without a filter the repack commands see everything.
    EXPECT_EQ(scanned(s.str(), nullptr, s.str()),
              "[.svn] 1\n"
              " entries = R/.svn/entries\n"
              "[.vs] 1\n"
              " state = R/.vs/state\n"
              "[QX_DEBUG] 1\n"
              " log = R/QX_DEBUG/log\n"
              "[qx_debug] 1\n"
              " kept = R/qx_debug/kept\n"
              "[sub] 1\n"
              " .svn = R/sub/.svn\n"
              " [.vs] 2\n"
              "  gone = R/sub/.vs/gone\n");
}

TEST(DirectoryScan, LinksFifosAndLoopsAreNotListed)
{
    ScratchDir s;
    s.file("real/file.txt");
    s.file("top.txt");
    fs::create_directory_symlink(s.root, s.root / "real" / "loop");
    fs::create_directory_symlink(s.root / "real", s.root / "alias");
    fs::create_symlink(s.root / "top.txt", s.root / "link.txt");
    fs::create_symlink(s.root / "self", s.root / "self");
    fs::create_symlink(s.root / "nowhere", s.root / "dangling");
    ASSERT_EQ(mkfifo((s.root / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(scanned(s.str(), nullptr, s.str()),
              "top.txt = R/top.txt\n"
              "[real] 1\n"
              " file.txt = R/real/file.txt\n");

    // The path handed to the scan may itself be a link; only links below it are ignored.
    EXPECT_EQ(scanned(s.str() + "/alias", nullptr, s.str()), "file.txt = R/alias/file.txt\n");
}

// Beneath a folder's handle a scan reads what a scan by path reads, in one step or folder by
// folder (where the system has no such call or refuses it), however long the full paths below it.
TEST(DirectoryScan, BeneathAHandleEveryDepthIsRead)
{
    ScratchDir s;
    s.file("top.txt");
    s.file("sub/deeper/leaf.bin");
    fs::create_directory_symlink(s.root / "sub", s.root / "alias");
    // A chain whose full path is longer than the system resolves at once, made a step at a time.
    const std::string name(200, 'n');
    int fd = open(s.str().c_str(), O_RDONLY | O_DIRECTORY);
    std::string expected = "top.txt = R/top.txt\n";
    std::string path = "R";
    for (u32 level = 1; level <= 30; level++) {
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        path += "/" + name;
        expected += std::string(level - 1, ' ') + "[" + name + "] " + std::to_string(level) + "\n";
    }
    const int leaf = openat(fd, "END.BIN", O_WRONLY | O_CREAT, 0600);
    close(leaf);
    close(fd);
    expected += std::string(30, ' ') + "END.BIN = " + path + "/END.BIN\n";
    expected += "[sub] 1\n [deeper] 2\n  leaf.bin = R/sub/deeper/leaf.bin\n";
    const int root = openDirectory(s.str().c_str());
    ASSERT_GE(root, 0);
    for (const int refused : {0, ENOSYS, EPERM, E2BIG}) {
        setInjectedError(refused);
        setFaultHook(refused ? +[](FaultKind kind) { return kind == FaultKind::Resolve; } : nullptr);
        DirectoryTree tree;
        tree.scanBeneath(root, String(s.str().c_str()), nullptr);
        EXPECT_TRUE(tree.complete) << refused;
        EXPECT_EQ(dump(tree, s.str()), expected) << refused;
    }
    setFaultHook(nullptr);
    setInjectedError(0);
    close(root);
}

TEST(DirectoryScan, FilterSeesEveryEntryAndDirectory)
{
    ScratchDir s;
    s.file("top.txt");
    s.file("d/inner.txt");
    s.file("d/e/deep.txt");
    RecordingFilter filter;
    std::string tree = scanned(s.str() + "/", &filter, s.str());
    EXPECT_EQ(tree, "top.txt = R/top.txt\n"
                    "[d] 1\n"
                    " inner.txt = R/d/inner.txt\n"
                    " [e] 2\n"
                    "  deep.txt = R/d/e/deep.txt\n");
    std::string root = s.str();
    std::vector<std::string> want = {
        "enter 0 0",
        "dir " + root + " d",
        "enter 1 1",
        "dir " + root + "/d e",
        "enter 2 1",
        "file " + root + "/d/e deep.txt",
        "file " + root + "/d inner.txt",
        "file " + root + " top.txt",
    };
    EXPECT_EQ(filter.calls, want);

    // Directories below the root keep the depth 1, so closing it empties every child node.
    RecordingFilter closed;
    closed.closedDepth = 1;
    EXPECT_EQ(scanned(s.str(), &closed, s.str()), "top.txt = R/top.txt\n[d] 1\n");
}

TEST(DirectoryScan, DeepChainIsScannedAndFreed)
{
    ScratchDir s;
    std::string chain;
    for (int i = 0; i < 300; i++)
        chain += "d/";
    s.file(chain + "bottom");
    u64 before = memLiveBytes();
    DirectoryTree* tree = DirectoryTree::createAndScan(String(s.str().c_str()));
    const DirectoryTree* node = tree;
    while (node->directories.count == 1)
        node = node->directories[0];
    EXPECT_EQ(node->level, 300u);
    ASSERT_EQ(node->files.count, 1u);
    EXPECT_EQ(std::string(node->files[0]->path.c_str()), s.str() + "/" + chain + "bottom");
    memDelete(tree);
    EXPECT_EQ(memLiveBytes(), before);
}

TEST(DirectoryScan, AddFileAndAddPath)
{
    DirectoryTree tree;
    EXPECT_TRUE(tree.addFile(String("game\\data\\SHIP.IFF")));
    EXPECT_TRUE(tree.addFile(String("plain")));
    DirectoryTree* x = tree.addPath(String("a/b/x"));
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(tree.addPath(String("x")), x);
    EXPECT_NE(tree.addPath(String("X")), x);
    x->addPath(String("y"))->addFile(String("a/x/y/z.txt"));
    EXPECT_EQ(dump(tree, "\x01"), "SHIP.IFF = game/data/SHIP.IFF\n"
                                  "plain = plain\n"
                                  "[x] 1\n"
                                  " [y] 2\n"
                                  "  z.txt = a/x/y/z.txt\n"
                                  "[X] 1\n");
    tree.destroy();
    EXPECT_EQ(tree.directories.count, 0u);
    EXPECT_EQ(tree.files.count, 0u);
    // A destroyed node can be filled again.
    EXPECT_TRUE(tree.addFile(String("again")));
    EXPECT_EQ(tree.files.count, 1u);
}

TEST(DirectoryScan, NameOrder)
{
    struct Case
    {
        const char* a;
        const char* b;
        int want;
    };
    const Case cases[] = {
        {"a", "B", -1},       {"B", "a", 1},   {"A", "a", -1},       {"a", "a", 0},
        {"Zed", "_x", -1},    {"abc", "ABD", -1}, {"a", "a.b", -1}, {"readme", "README", 1},
        {"\xe9t\xe9", "z", 1}, {"", "a", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compareDirectoryNames(c.a, strlen(c.a), c.b, strlen(c.b)), c.want) << c.a << " vs " << c.b;
        EXPECT_EQ(compareDirectoryNames(c.b, strlen(c.b), c.a, strlen(c.a)), -c.want) << c.b << " vs " << c.a;
    }
}
