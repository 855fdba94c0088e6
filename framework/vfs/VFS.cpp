#include "framework/vfs/VFS.h"
#include "framework/app/Application.h"
#include "framework/log/Log.h"
#include "framework/platform/ThreadControl.h"
#include "framework/platform/ThreadPlatform.h"

bool LooseFileFilter::accept(const String& directoryPath, const String& name, bool isDirectory)
{
    if (stopping() || budgetSpent)
        return false;
    if (++taken > budget) {
        budgetSpent = 1;
        return false;
    }
    return SkipVcsFilter::accept(directoryPath, name, isDirectory);
}

bool LooseFileFilter::enterDirectory(u32, u32)
{
    return !stopping() && !budgetSpent;
}

bool LooseFileFilter::keepListing(u32 listed)
{
    return !stopping() && !budgetSpent && u64(taken) + listed < u64(budget) + 1;
}

String normaliseRootPath(const String& path)
{
    String root(path);
    root.replaceChar('\\', '/');
    if (root.isEmpty())
        return String("./");
    if (!root.endsWith("/"))
        root.append('/');
    return root;
}

VFSLoader::VFSLoader() : Thread("VFSLoader") {}

VFSLoader::~VFSLoader()
{
    // onStop emptied these when the thread ran; a loader that never ran still owns them.
    incoming.clear();
    pending.clear(true);
    results.clear();
    memDelete(looseFiles);
    looseFiles = nullptr;
}

bool VFSLoader::onStart()
{
    resultsReady.store(0);
    outstanding.store(0);
    return true;
}

void VFSLoader::requestScan(const String& path)
{
    ScopedLock guard(resultLock);
    memDelete(looseFiles);
    looseFiles = nullptr;
    looseFilesReady.store(0);
    scanPath = path;
    scanRequest = ++scanGeneration;
}

void VFSLoader::loadOne(PackageLoadJob* job)
{
    {
        ScopedLock guard(resultLock);
        currentPackage = job->name();
    }
    logger.debug("Loading package '%s'...", job->name().c_str());
    Package* package = job->run();
    if (!package) {
        logger.error("Couldn't load package '%s'!", job->name().c_str());
        {
            ScopedLock guard(resultLock);
            currentPackage.free();
        }
        outstanding.fetch_sub(1);
        memDelete(job);
        return;
    }
    {
        ScopedLock guard(resultLock);
        logger.debug("Finished loading package '%s'.", job->name().c_str());
        if (!results.push(package)) {
            memDelete(package);
            outstanding.fetch_sub(1);
        }
        currentPackage.free();
    }
    resultsReady.store(1);
    memDelete(job);
}

void VFSLoader::scanRoot()
{
    String path;
    u32 request;
    {
        ScopedLock guard(resultLock);
        path = scanPath;
        request = scanRequest;
        scanRequest = 0;
    }
    LooseFileFilter filter;
    filter.thread = this;
    filter.budget = scanBudget;
    DirectoryTree* tree = memNew<DirectoryTree>();
    if (tree)
        tree->scan(path, 0, &filter);
    if (filter.budgetSpent)
        logger.debug("Scan of '%s' stopped after %u entries.", path.c_str(), scanBudget);
    ScopedLock guard(resultLock);
    // A newer request or a stop makes this scan moot.
    if (!tree || request != scanGeneration || scanRequest != 0 || filter.stopping()) {
        memDelete(tree);
        return;
    }
    memDelete(looseFiles);
    looseFiles = tree;
    looseFilesReady.store(1);
}

bool VFSLoader::step()
{
    {
        ScopedLock guard(requestLock);
        for (PackageLoadJob* job : incoming)
            if (!pending.pushBack(job)) {
                memDelete(job);
                outstanding.fetch_sub(1);
            }
        incoming.reset();
    }
    if (PackageLoadJob* job = pending.popFront()) {
        loadOne(job);
        return true;
    }
    bool scan;
    {
        ScopedLock guard(resultLock);
        scan = scanRequest != 0;
    }
    if (scan) {
        scanRoot();
        return true;
    }
    // Idle, in short slices so that a stop request is seen at once.
    for (u32 slept = 0; slept < IDLE_SLEEP_MS && !isStopRequested(); slept += IDLE_SLICE_MS) {
        {
            ScopedLock guard(requestLock);
            if (incoming.count)
                break;
        }
        {
            ScopedLock guard(resultLock);
            if (scanRequest)
                break;
        }
        platformSleepMs(IDLE_SLICE_MS);
    }
    return true;
}

void VFSLoader::onStop()
{
    {
        ScopedLock guard(requestLock);
        incoming.clear();
    }
    pending.clear(true);
    ScopedLock guard(resultLock);
    results.clear();
}

VFS::VFS() : logger(String("VFS"))
{
    // Started last: the thread may run as soon as it exists.
    Thread::start();
}

VFS::~VFS()
{
    {
        ScopedLock guard(mountsLock);
        mounts.clear(true);
    }
    newPackages.clear();
    memDelete(defaultKey);
    defaultKey = nullptr;
}

bool VFS::close(VFS* vfs)
{
    if (!vfs)
        return true;
    if (!vfs->stopWithin(LOADER_STOP_TIMEOUT_US)) {
        vfs->logger.warn("Loader did not stop; left to the end of the process.");
        return false;
    }
    memDelete(vfs);
    return true;
}

bool VFS::start(const VFSSettings& settings)
{
    ownerThreadId = platformCurrentThreadId();
    if (defaultKey != settings.defaultKey)
        memDelete(defaultKey);
    defaultKey = settings.defaultKey;
    keyProvider = settings.keyProvider;
    decompressor = settings.decompressor;
    rootPath = normaliseRootPath(settings.rootPath);
    if (isRunning() && !isFinished())
        requestScan(rootPath);
    rootMode = settings.rootMode ? settings.rootMode : 2;
    if (settings.looseFiles == 1) {
        readLooseFiles = 0;
    } else if (settings.looseFiles == 2) {
        readLooseFiles = 1;
    } else if (settings.looseFiles == 0) {
        const String* value = nullptr;
        if (applicationInstance)
            value = &applicationInstance->configRoot.findValue(String("vfs.readLooseFiles"));
        readLooseFiles = (!value || value->isEmpty() || value->trueWordIndex() >= 0) ? 1 : 0;
    } else {
        readLooseFiles = 0;
    }
    queueInternalPackages();
    mountLoadedPackages();
    return true;
}

void VFS::queueInternalPackages()
{
    // Without its loader nothing would ever finish loading.
    if (!isRunning() || isFinished())
        return;
    for (InternalPackage* record = internalPackages(); record; record = record->next) {
        const String name(record->name);
        logger.debug("Internal package '%s' queued for loading.", name.c_str());
        ByteArray* key = keyProvider ? keyProvider->keyFor(name) : nullptr;
        const bool owns = key != nullptr;
        if (!key)
            key = defaultKey;
        PackageLoadJob* job = memNew<PackageLoadJob>(record, key, owns, name);
        if (!job) {
            if (owns)
                memDelete(key);
            continue;
        }
        job->decompressor = decompressor;
        outstanding.fetch_add(1);
        ScopedLock guard(requestLock);
        if (!incoming.push(job)) {
            memDelete(job);
            outstanding.fetch_sub(1);
        }
    }
}

void VFS::mountLoadedPackages()
{
    if (outstanding.load() == 0)
        return;
    for (;;) {
        if (platformCurrentThreadId() == ownerThreadId && resultsReady.load()) {
            ScopedLock results(resultLock);
            for (VfsSource* p : this->results) {
                if (!newPackages.push(p))
                    memDelete(p);
                outstanding.fetch_sub(1);
            }
            ScopedLock guard(mountsLock);
            for (VfsSource* p : newPackages) {
                if (hasMount(p->name()) || !mounts.pushBack(p)) {
                    memDelete(p);
                    continue;
                }
                logger.debug("Package '%s' now available.", p->name().c_str());
            }
            this->results.reset();
            newPackages.reset();
            resultsReady.store(0);
        }
        if (outstanding.load() == 0)
            return;
        // A loader that has gone would leave this waiting for ever.
        if (isFinished())
            return;
        platformSleepMs(1);
    }
}

bool VFS::hasMount(const String& name)
{
    ScopedLock guard(mountsLock);
    for (auto* n = mounts.head; n; n = n->next)
        if (n->item->name().equalsNoCase(name))
            return true;
    return false;
}

const DirectoryTree* VFS::looseFileTree()
{
    return looseFilesReady.load() ? looseFiles : nullptr;
}
