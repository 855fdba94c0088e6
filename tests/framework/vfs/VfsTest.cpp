#include "framework/app/ProcessUtils.h"
#include "framework/vfs/VFS.h"
#include "tests/framework/threads/LogCapture.h"
#include "tests/framework/vfs/PackageTestUtil.h"
#include "tool/MORDAX.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
namespace fs = std::filesystem;

fs::path scratch(const std::string& name)
{
    fs::path p = fs::path(MORDAX_BINARY_DIR) / "scratch" / "vfs" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

void touch(const fs::path& p)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
}

// The loader finishes the scan in the background; tests wait for it, the tool never does.
const DirectoryTree* waitForTree(VFS& vfs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!vfs.looseFileTree() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return vfs.looseFileTree();
}

std::vector<std::string> names(const DirectoryTree& t)
{
    std::vector<std::string> out;
    for (DirectoryTree* d : t.directories)
        out.push_back(std::string(d->name.c_str()) + "/");
    for (StringPair* f : t.files)
        out.push_back(f->name.c_str());
    return out;
}

u32 countEntries(const DirectoryTree& t)
{
    u32 n = t.files.count + t.directories.count;
    for (DirectoryTree* d : t.directories)
        n += countEntries(*d);
    return n;
}

VFSSettings rootedAt(const std::string& path)
{
    VFSSettings s;
    s.rootPath = path.c_str();
    return s;
}
}

TEST(VFS, RootPathsAreNormalised)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "./"}, {"./", "./"}, {"data", "data/"}, {"C:\\game\\data", "C:/game/data/"}, {"a\\b\\", "a/b/"}, {"/", "/"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(normaliseRootPath(String(c.first)).c_str(), c.second) << c.first;
}

TEST(VFS, StartReturnsAtOnceAndTheLoaderScansTheRoot)
{
    LogCapture log;
    fs::path root = scratch("scan");
    touch(root / "a.txt");
    touch(root / "sub" / "b.txt");
    touch(root / ".svn" / "entries");
    touch(root / ".vs" / "x");
    touch(root / "QX_DEBUG" / "y");
    touch(root / ".SVN" / "kept");
    touch(root / "Qx_Debug" / "kept");
    touch(root / "sub" / ".vs");

    VFS* vfs = memNew<VFS>();
    ASSERT_TRUE(vfs->isRunning());
    EXPECT_TRUE(vfs->start(rootedAt((root.string() + "\\"))));
    EXPECT_STREQ(vfs->rootPath.c_str(), (root.string() + "/").c_str());
    const DirectoryTree* tree = waitForTree(*vfs);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(names(*tree), (std::vector<std::string>{".SVN/", "Qx_Debug/", "sub/", "a.txt"}));
    EXPECT_EQ(names(*tree->directories[2]), (std::vector<std::string>{".vs", "b.txt"}));
    EXPECT_TRUE(VFS::close(vfs));

    // With no internal package the loader says only that it began and ended.
    const std::vector<std::string> loader = log.messages("VFSLoader");
    ASSERT_EQ(loader.size(), 3u);
    EXPECT_EQ(loader[0].rfind("Beginning thread (VFSLoader / 0x", 0), 0u);
    EXPECT_EQ(loader[1], "Thread terminating...");
    EXPECT_EQ(loader[2], "Thread terminated.");
    EXPECT_TRUE(log.messages("VFS").empty());
    EXPECT_TRUE(log.lines(LOG_WARN).empty());
}

TEST(VFS, ScanKeepsToItsBudget)
{
    LogCapture log;
    fs::path root = scratch("budget");
    for (int i = 0; i < 40; i++)
        touch(root / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i)));
    VFS* vfs = memNew<VFS>();
    vfs->scanBudget = 10;
    vfs->start(rootedAt(root.string()));
    const DirectoryTree* tree = waitForTree(*vfs);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(countEntries(*tree), 10u);
    EXPECT_TRUE(VFS::close(vfs));
    const std::string budgetLine = "Scan of '" + root.string() + "/' stopped after 10 entries.";
    EXPECT_EQ(log.messages("VFSLoader")[1], budgetLine);
}

TEST(VFS, FilterGivesUpOnceTheThreadIsAskedToStop)
{
    struct Idle : Thread
    {
        Idle() : Thread("Idle") {}
        bool onStart() override { return true; }
        bool step() override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return true;
        }
        void onStop() override {}
    } idle;
    LooseFileFilter filter;
    filter.thread = &idle;
    filter.budget = 100;
    ASSERT_TRUE(idle.start());
    EXPECT_TRUE(filter.accept(String("."), String("x"), false));
    EXPECT_TRUE(filter.enterDirectory(1, 1));
    EXPECT_TRUE(filter.keepListing(50));
    EXPECT_FALSE(filter.keepListing(100));
    idle.state->stopRequested.store(1);
    EXPECT_FALSE(filter.accept(String("."), String("x"), false));
    EXPECT_FALSE(filter.enterDirectory(1, 1));
    EXPECT_FALSE(filter.keepListing(0));
    idle.stop();
}

// Shutting down while a big tree is being read does not wait for the read.
TEST(VFS, CloseCutsALongScanShort)
{
    const char* big = fs::is_directory("/usr/share") ? "/usr/share" : "/usr";
    for (int i = 0; i < 3; i++) {
        VFS* vfs = memNew<VFS>();
        vfs->start(rootedAt(big));
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * i));
        auto begin = std::chrono::steady_clock::now();
        EXPECT_TRUE(VFS::close(vfs));
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    }
}

TEST(VFS, MissingRootGivesAnEmptyTree)
{
    VFS* vfs = memNew<VFS>();
    vfs->start(rootedAt((scratch("gone") / "not-there").string()));
    const DirectoryTree* tree = waitForTree(*vfs);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(countEntries(*tree), 0u);
    VFS::close(vfs);
}

TEST(VFS, InternalPackagesAreLoadedAndMountedOnce)
{
    LogCapture log;
    packageStore()["alpha"] = writePackageV2({{"ships/one.txt", "first"}});
    packageStore()["ALPHA"] = writePackageV2({{"ships/two.txt", "second"}});
    packageStore()["broken"] = "no";
    InternalPackage records[] = {
        {"alpha", loadStoredPackage, nullptr}, {"broken", loadStoredPackage, nullptr}, {"ALPHA", loadStoredPackage, nullptr}};
    for (InternalPackage& r : records)
        registerInternalPackage(&r);

    VFS* vfs = memNew<VFS>();
    EXPECT_TRUE(vfs->start(rootedAt(scratch("packages").string())));
    for (InternalPackage& r : records)
        unregisterInternalPackage(&r);
    EXPECT_EQ(vfs->outstanding.load(), 0u);
    ASSERT_EQ(vfs->mounts.count.load(), 1u);
    EXPECT_TRUE(vfs->hasMount(String("Alpha")));
    EXPECT_FALSE(vfs->hasMount(String("broken")));
    VfsSource* mount = vfs->mounts.head->item;
    ByteArray* bytes = mount->readFile(String("SHIPS/ONE.TXT"));
    EXPECT_EQ(toString(bytes), "first");
    memDelete(bytes);
    EXPECT_FALSE(mount->exists(String("ships/two.txt")));
    EXPECT_TRUE(VFS::close(vfs));

    const std::vector<std::string> expectedVfs = {
        "Internal package 'alpha' queued for loading.",
        "Internal package 'broken' queued for loading.",
        "Internal package 'ALPHA' queued for loading.",
        "Package 'alpha' now available.",
    };
    EXPECT_EQ(log.messages("VFS"), expectedVfs);
    const std::vector<std::string> errors = {
        "Package > Length read failed for 'broken'!",
        "Loader > Error unpacking package 'broken'!",
        "VFSLoader > Couldn't load package 'broken'!",
    };
    EXPECT_EQ(log.lines(LOG_ERROR), errors);
}

namespace
{
// Gives "alpha" a key of its own; every other package gets the default key.
struct AlphaKey : KeyProvider
{
    ByteArray* keyFor(const String& name) override
    {
        asked.push_back(name.c_str());
        if (!name.equals("alpha"))
            return nullptr;
        return memNew<ByteArray>(reinterpret_cast<const u8*>("\x42\x24"), 2u);
    }
    std::vector<std::string> asked;
};
}

TEST(VFS, KeysComeFromTheProviderOrTheDefault)
{
    packageStore()["alpha"] = writePackageV1({{"a.bin", "alpha data"}}, "\x42\x24");
    packageStore()["beta"] = writePackageV1({{"b.bin", "beta data"}}, "\x99");
    InternalPackage records[] = {{"alpha", loadStoredPackage, nullptr}, {"beta", loadStoredPackage, nullptr}};
    for (InternalPackage& r : records)
        registerInternalPackage(&r);
    AlphaKey provider;
    VFSSettings settings = rootedAt(scratch("keys").string());
    settings.keyProvider = &provider;
    settings.defaultKey = memNew<ByteArray>(reinterpret_cast<const u8*>("\x99"), 1u);
    VFS* vfs = memNew<VFS>();
    vfs->start(settings);
    for (InternalPackage& r : records)
        unregisterInternalPackage(&r);
    EXPECT_EQ(provider.asked, (std::vector<std::string>{"alpha", "beta"}));
    ASSERT_EQ(vfs->mounts.count.load(), 2u);
    ByteArray* a = vfs->mounts.head->item->readFile(String("a.bin"));
    ByteArray* b = vfs->mounts.tail->item->readFile(String("b.bin"));
    EXPECT_EQ(toString(a), "alpha data");
    EXPECT_EQ(toString(b), "beta data");
    memDelete(a);
    memDelete(b);
    EXPECT_TRUE(VFS::close(vfs));
}

TEST(VFS, LooseFilesSettingAndConfiguration)
{
    struct Case
    {
        u32 setting;
        const char* configured; // null: no key
        u8 expected;
    } cases[] = {{1, nullptr, 0},  {2, nullptr, 1}, {3, nullptr, 0},   {0, nullptr, 1}, {0, "", 1},
                 {0, "yes", 1},    {0, "Enabled", 1}, {0, "no", 0},    {0, "maybe", 0}, {1, "yes", 0}};
    Application* saved = applicationInstance;
    ArchiveToolApp* app = memNew<ArchiveToolApp>();
    VFS* vfs = memNew<VFS>();
    for (const Case& c : cases) {
        if (c.configured)
            app->configRoot.setValue(String("vfs.readLooseFiles"), String(c.configured));
        else
            app->configRoot.setValue(String("vfs.readLooseFiles"), String(""));
        VFSSettings s = rootedAt(scratch("loose").string());
        s.looseFiles = c.setting;
        vfs->start(s);
        EXPECT_EQ(vfs->readLooseFiles, c.expected) << c.setting << " " << (c.configured ? c.configured : "(none)");
    }
    VFS::close(vfs);
    memDelete(app);
    applicationInstance = saved;
}
