#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/io/DirectoryTree.h"
#include "framework/log/Logger.h"
#include "framework/platform/CriticalSection.h"
#include "framework/threads/PooledList.h"
#include "framework/threads/Thread.h"
#include "framework/vfs/Package.h"
#include "framework/vfs/VfsSource.h"

#include <atomic>

class Application;

struct VFSSettings
{
    // Taken over by the VFS at start.
    ByteArray* defaultKey = nullptr;
    KeyProvider* keyProvider = nullptr;
    Decompressor* decompressor = nullptr;
    String rootPath;
    u32 rootMode = 0; // 0 means 2
    u32 looseFiles = 0; // 0: "vfs.readLooseFiles", 1: off, 2: on
};

// The loose-file scan's filter: the version-control directories are left out, and the scan
// gives up once its thread is asked to stop or the entry budget is spent.
class LooseFileFilter : public SkipVcsFilter
{
public:
    const Thread* thread = nullptr;
    u32 budget = 0;
    u32 taken = 0;
    u8 budgetSpent = 0;

    bool accept(const String& directoryPath, const String& name, bool isDirectory) override;
    bool enterDirectory(u32 level, u32 depth) override;
    bool keepListing(u32 listed) override;
    bool stopping() const { return thread && thread->isStopRequested(); }
};

// The thread that loads packages and scans the root directory, so that neither holds up the
// thread that uses the VFS.
class VFSLoader : public Thread
{
public:
    // Entries (files and directories) the loose-file scan keeps at most. Nothing reads them in
    // this program, so a working directory full of extracted files must not cost a run much
    // memory or time.
    static constexpr u32 SCAN_BUDGET = 1u << 13;
    static constexpr u32 IDLE_SLEEP_MS = 100;
    static constexpr u32 IDLE_SLICE_MS = 1;

    CriticalSection requestLock;
    PtrArray<PackageLoadJob> incoming;
    PooledList<PackageLoadJob> pending{true};
    CriticalSection resultLock;
    PtrArray<VfsSource> results;
    String currentPackage;
    std::atomic<u8> resultsReady{0};
    std::atomic<u32> outstanding{0};

    // The loose-file scan, under the result lock.
    String scanPath;
    u32 scanRequest = 0; // the request waiting to be served; 0 for none
    u32 scanGeneration = 0;
    DirectoryTree* looseFiles = nullptr;
    std::atomic<u8> looseFilesReady{0};
    u32 scanBudget = SCAN_BUDGET;

    VFSLoader();
    ~VFSLoader() override;

    bool onStart() override;
    bool step() override;
    void onStop() override;

    // Asks for the root to be scanned afresh; the tree is ready once looseFilesReady is set.
    void requestScan(const String& path);

private:
    void loadOne(PackageLoadJob* job);
    void scanRoot();
};

// The virtual file system: the loose files under a root directory and the mounted packages.
// Internal packages are loaded on the loader thread and mounted on the thread that started the
// VFS; the root is scanned on the loader thread in the background.
class VFS : public VFSLoader
{
public:
    // How long shutdown waits for the loader; one blocked in the file system is left behind.
    static constexpr u64 LOADER_STOP_TIMEOUT_US = 3000000;
    static constexpr u64 CACHE_LIMIT = 0x8000000;

    Logger logger;
    u32 ownerThreadId = 0;
    PooledList<VfsSource> mounts{true};
    CriticalSection mountsLock;
    PtrArray<VfsSource> newPackages;
    u64 cacheUsed = 0;
    u64 cacheLimit = CACHE_LIMIT;
    ByteArray* defaultKey = nullptr;
    KeyProvider* keyProvider = nullptr;
    Decompressor* decompressor = nullptr;
    String rootPath;
    u32 rootMode = 2;
    u8 readLooseFiles = 0;

    // Starts the loader thread.
    VFS();
    // The loader has been stopped (close does both).
    ~VFS() override;

    // Always true.
    bool start(const VFSSettings& settings);
    void queueInternalPackages();
    void mountLoadedPackages();
    bool hasMount(const String& name);
    // The scan of the root; null until the loader has finished it.
    const DirectoryTree* looseFileTree();

    // Stops the loader and deletes the VFS. A loader that does not stop in time (stuck in a
    // file-system call) is left running and the VFS with it, so that nothing it still reads is
    // freed; false then.
    static bool close(VFS* vfs);
};

// "/" separators and a trailing "/"; an empty path is "./".
String normaliseRootPath(const String& path);
