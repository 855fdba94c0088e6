#include "framework/io/TreeWriter.h"
#include "framework/core/Faults.h"
#include "framework/core/Heap.h"
#include "framework/io/FileStream.h"
#include "framework/platform/Directory.h"
#include "framework/platform/FileOps.h"
#include "framework/platform/Signals.h"
#include "framework/platform/ThreadPlatform.h"

#include <cerrno>
#include <cstring>

namespace
{
constexpr u32 TEMP_NAME_TRIES = 64;
// Descriptors left to the rest of a run beside the folder handles: the standard streams, the
// archive's image, a file being written and one being read, digests, the log, the framework's
// own threads.
constexpr u64 DESCRIPTORS_LEFT = 48;

// Seeded once from the system; names only need to be unlikely to be taken, as the exclusive
// create settles the rest.
u64 nextNameBits()
{
    static u64 state = 0;
    if (!state)
        state = randomBits() | 1;
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
}

// ".mdx-" and six letters or digits: short, so any name that can be created has room beside it.
void temporaryName(char name[TEMP_NAME_SIZE])
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    memcpy(name, ".mdx-", 5);
    u64 bits = nextNameBits();
    for (u32 i = 5; i < TEMP_NAME_SIZE - 1; i++, bits >>= 6)
        name[i] = letters[(bits & 63) % 62];
    name[TEMP_NAME_SIZE - 1] = 0;
}

// A new file under a fresh temporary name in dirFd, recorded for the hard exit of a second quit
// signal in the same step as its creation: a name that belonged to someone else is never
// recorded. Its handle, or minus the error number.
int createTemporary(int dirFd, char name[TEMP_NAME_SIZE], RemovableFile slot)
{
    for (u32 tries = 0;; tries++) {
        temporaryName(name);
        int fd;
        {
            QuitSignalsHeld held;
            fd = createFileAt(dirFd, name);
            if (fd >= 0)
                recordRemovableFile(slot, name, dirFd);
        }
        if (fd >= 0 || fd != -EEXIST || tries + 1 >= TEMP_NAME_TRIES)
            return fd;
    }
}

// Removes the temporary file of a failed write and clears its record; false when it is still
// there (its name then stays in `temp`).
bool dropTemporary(int dirFd, const char* temp, RemovableFile slot)
{
    const bool removed = removeAt(dirFd, temp) == 0;
    clearRemovableFile(slot);
    return removed;
}

// Writes the bytes to a new temporary file in dirFd (its name into temp). 0 or the error number;
// on failure its record is cleared and nothing is left of the file unless `leftBehind` says so,
// otherwise the caller gives it its name.
int writeTemporary(int dirFd, char temp[TEMP_NAME_SIZE], const u8* data, u64 size, RemovableFile slot,
                   bool& leftBehind)
{
    leftBehind = false;
    const int fd = createTemporary(dirFd, temp, slot);
    if (fd < 0)
        return -fd;
    int error = writeAllTo(fd, data, size, false);
    if (error)
        closeHandle(fd);
    else
        error = finishFile(fd);
    // The last moment a quit signal can still keep the file from taking its name.
    if (!error && quitSignalCount())
        error = ECANCELED;
    if (error)
        leftBehind = !dropTemporary(dirFd, temp, slot);
    return error;
}

struct Sync
{
    int fd;
    int error;
};

u32 runSync(void* argument)
{
    Sync* sync = static_cast<Sync*>(argument);
    sync->error = syncFile(sync->fd);
    return 0;
}

// Flushes the written file to disk while the check judges it: the check reads what the page
// cache holds, which is what the disk receives. 0, PLACE_REFUSED or the sync's error number.
int syncWhileChecking(int fd, WrittenCheck check, void* context, const String& written)
{
    // Decided here, on the thread that does the work, so a test's count of operations stays fixed.
    const bool syncFails = faultInjected(FaultKind::Sync);
    Sync sync{fd, 0};
    PlatformThread* beside = check ? platformStartThread(runSync, &sync, 64 * 1024) : nullptr;
    const bool refused = check && (written.isEmpty() || !check(context, written));
    if (beside)
        platformCloseThread(beside);
    else
        runSync(&sync);
    if (refused)
        return PLACE_REFUSED;
    return syncFails ? EIO : sync.error;
}

bool isLeafName(const char* leaf)
{
    return *leaf && !isDotName(leaf);
}

PlaceResult failed(int error)
{
    return {PlaceStatus::Failed, error};
}
}

TreeWriter::~TreeWriter()
{
    end();
}

void TreeWriter::begin(const String& rootPath, const String& input)
{
    end();
    root = rootPath;
    FileIdentity id;
    hasInput = !input.isEmpty() && identifyFile(input.c_str(), id);
    inputDevice = id.device;
    inputInode = id.inode;
    const u64 limit = descriptorLimit();
    const u64 room = limit > DESCRIPTORS_LEFT ? limit - DESCRIPTORS_LEFT : 1;
    openLimit = u32(room < OPEN_DIRECTORIES / 2 ? room : OPEN_DIRECTORIES / 2);
}

void TreeWriter::end()
{
    forget();
    root = String();
    hasInput = false;
}

u32 TreeWriter::slotOf(const char* relative, u64 n) const
{
    u32 slot = 2166136261u;
    for (u64 i = 0; i < n; i++)
        slot = (slot ^ u8(relative[i])) * 16777619u;
    return slot & (OPEN_DIRECTORIES - 1);
}

void TreeWriter::closeDirectories(int keep)
{
    OpenDirectory kept;
    for (u32 i = 0; directories && i < OPEN_DIRECTORIES; i++) {
        if (!directories[i].path)
            continue;
        if (keep >= 0 && directories[i].fd == keep) {
            kept = directories[i];
        } else {
            closeHandle(directories[i].fd);
            memFree(directories[i].path);
        }
        directories[i] = OpenDirectory();
    }
    openCount = 0;
    if (kept.path) {
        directories[slotOf(kept.path, strlen(kept.path))] = kept;
        openCount = 1;
    }
}

void TreeWriter::forget()
{
    closeDirectories();
    memFree(directories);
    directories = nullptr;
    closeHandle(baseFd);
    baseFd = -1;
    baseName = nullptr;
}

int TreeWriter::openBase(const char* base)
{
    if (baseFd >= 0 && baseName == base)
        return baseFd;
    forget();
    baseName = base;
    baseFd = openDirectory(base);
    return baseFd;
}

// The part of a path below the root (with the directory it is below): paths of an extraction all
// start with the root. Allocates nothing, so that a failed allocation cannot turn the path into
// another one.
const char* TreeWriter::splitBelowRoot(const char* p, const char*& base) const
{
    if (const char* below = pathBelowRoot(p, root)) {
        base = root.c_str();
        return below;
    }
    base = p[0] == '/' ? "/" : ".";
    while (*p == '/')
        p++;
    return p;
}

// The directory `key` below `top`. Mostly it is there: one call finds it without following a link.
// Otherwise it is walked component by component, made where it is missing, and the walk says what
// is wrong. A handle, or minus the error number.
int TreeWriter::openBelow(int top, char* key)
{
    int fd = openDirectoryBeneath(top, key);
    if (fd >= 0)
        return fd;
    fd = top;
    for (char* part = key; fd >= 0 && *part;) {
        char* end = strchr(part, '/');
        if (end)
            *end = 0;
        int next = fd;
        if (isDotName(part))
            next = -EINVAL;
        else if (*part)
            next = enterDirectoryAt(fd, part);
        if (fd != top && next != fd)
            closeHandle(fd);
        fd = next;
        if (end)
            *end = '/';
        part = end ? end + 1 : part + strlen(part);
    }
    return fd;
}

int TreeWriter::enter(const char* base, const char* relative, u64 n)
{
    const int top = openBase(base);
    if (top < 0 || n == 0)
        return top;
    if (!directories) {
        directories = static_cast<OpenDirectory*>(memAlloc(OPEN_DIRECTORIES * sizeof(OpenDirectory)));
        if (!directories)
            return -ENOMEM;
        // Empty slots hold no handle: -1, never the 0 of zeroed memory.
        for (u32 i = 0; i < OPEN_DIRECTORIES; i++)
            directories[i] = OpenDirectory();
        openCount = 0;
    }
    for (u32 slot = slotOf(relative, n); directories[slot].path; slot = (slot + 1) & (OPEN_DIRECTORIES - 1))
        if (strlen(directories[slot].path) == n && memcmp(directories[slot].path, relative, n) == 0)
            return directories[slot].fd;
    if (openCount >= openLimit)
        closeDirectories();
    char* key = strDupN(n, relative, nullptr);
    if (!key)
        return -ENOMEM;
    int fd = openBelow(top, key);
    // The descriptor table is full: the handles kept for later are given back, and it is tried again.
    if ((fd == -EMFILE || fd == -ENFILE) && openCount) {
        closeDirectories();
        fd = openBelow(top, key);
    }
    if (fd < 0) {
        memFree(key);
        return fd;
    }
    u32 slot = slotOf(key, n);
    while (directories[slot].path)
        slot = (slot + 1) & (OPEN_DIRECTORIES - 1);
    directories[slot].path = key;
    directories[slot].fd = fd;
    openCount++;
    return fd;
}

PlaceResult TreeWriter::makeDirectory(const String& path)
{
    const char* base;
    const char* below = splitBelowRoot(path.c_str(), base);
    if (!*below) {
        // The chosen directory itself is made as the user named it.
        PlaceResult result;
        if (!createPath(path, &result.error, &result.unmadeLength))
            result.status = PlaceStatus::Failed;
        return result;
    }
    const int fd = enter(base, below, strlen(below));
    if (fd >= 0)
        return PlaceResult();
    return {-fd == ELOOP ? PlaceStatus::Link : PlaceStatus::Failed, -fd};
}

PlaceResult TreeWriter::writeFile(const String& path, const u8* data, u64 size)
{
    if (quitSignalCount())
        return failed(ECANCELED);
    const char* base;
    const char* relative = splitBelowRoot(path.c_str(), base);
    const char* slash = strrchr(relative, '/');
    const char* leaf = slash ? slash + 1 : relative;
    if (!isLeafName(leaf))
        return failed(EINVAL);
    const int dirFd = enter(base, relative, slash ? u64(slash - relative) : 0);
    if (dirFd < 0)
        return {-dirFd == ELOOP ? PlaceStatus::Link : PlaceStatus::Failed, -dirFd};
    char temp[TEMP_NAME_SIZE];
    bool stuck = false;
    int error = writeTemporary(dirFd, temp, data, size, REMOVABLE_EXTRACTING, stuck);
    if (descriptorsExhausted(error) && openCount) {
        closeDirectories(dirFd);
        error = writeTemporary(dirFd, temp, data, size, REMOVABLE_EXTRACTING, stuck);
    }
    PlaceResult result;
    if (error) {
        result = failed(error);
        if (stuck)
            memcpy(result.leftBehind, temp, TEMP_NAME_SIZE);
        return result;
    }
    // A free name takes the file at once. Otherwise a look at what is there: nothing but a
    // regular file is ever replaced, and never the input.
    error = renameAtIfFree(dirFd, temp, leaf);
    if (error == EEXIST || error == ENOSYS) {
        FileIdentity there;
        switch (entryKindAt(dirFd, leaf, &there)) {
        case EntryKind::Link:
            result = {PlaceStatus::Link, ELOOP};
            break;
        case EntryKind::Directory:
        case EntryKind::Other:
            result = {PlaceStatus::NotRegular, EEXIST};
            break;
        case EntryKind::Regular:
            if (hasInput && there.device == inputDevice && there.inode == inputInode)
                result = {PlaceStatus::InputFile, EEXIST};
            break;
        case EntryKind::Missing:
            break;
        }
        error = result.ok() ? renameAt(dirFd, temp, leaf) : 0;
    }
    if (error)
        result = failed(error);
    if (!result.ok() && !dropTemporary(dirFd, temp, REMOVABLE_EXTRACTING))
        memcpy(result.leftBehind, temp, TEMP_NAME_SIZE);
    clearRemovableFile(REMOVABLE_EXTRACTING);
    return result;
}

const char* pathBelowRoot(const char* path, const String& root)
{
    const u64 n = root.length;
    if (!n || strncmp(path, root.c_str(), n) != 0 || (root[n - 1] != '/' && path[n] != '/' && path[n] != 0))
        return nullptr;
    path += n;
    while (*path == '/')
        path++;
    return path;
}

bool descriptorsExhausted(int error)
{
    return error == EMFILE || error == ENFILE;
}

bool storageExhausted(int error)
{
    return isStorageExhausted(error);
}

bool sameFile(const String& a, const String& b)
{
    FileIdentity ia, ib;
    return identifyFile(a.c_str(), ia) && identifyFile(b.c_str(), ib) && ia == ib;
}

int replaceFileDurably(const String& path, const u8* data, u64 size, WrittenCheck check, void* context,
                       DurableWrite* how)
{
    if (quitSignalCount())
        return ECANCELED;
    const i64 slash = path.lastIndexOf('/');
    const String directory = slash < 0 ? String(".") : slash == 0 ? String("/") : path.left(u64(slash));
    const char* leaf = path.c_str() + (slash < 0 ? 0 : slash + 1);
    if (!isLeafName(leaf))
        return EINVAL;
    if (slash > 0 && directory.isEmpty())
        return ENOMEM;
    const int dirFd = openDirectory(directory.c_str());
    if (dirFd < 0)
        return -dirFd;
    char temp[TEMP_NAME_SIZE];
    const int fd = createTemporary(dirFd, temp, REMOVABLE_TEMPORARY);
    if (fd < 0) {
        closeHandle(dirFd);
        return -fd;
    }
    const String tempPath = slash < 0 ? String(temp) : directory + "/" + temp;
    int error = writeAllTo(fd, data, size, true);
    if (!error) {
        // Judged under its temporary name, which the hard exit of a second signal still removes.
        error = syncWhileChecking(fd, check, context, check ? tempPath : String());
    }
    const int closed = finishFile(fd);
    if (!error)
        error = closed;
    // The last moment a quit signal can still keep the archive from taking its name.
    if (!error && quitSignalCount())
        error = ECANCELED;
    bool replaced = false;
    if (!error) {
        error = renameAtIfFree(dirFd, temp, leaf);
        if (error == EEXIST || error == ENOSYS) {
            replaced = true;
            error = renameAt(dirFd, temp, leaf);
        }
    }
    if (error && !dropTemporary(dirFd, temp, REMOVABLE_TEMPORARY) && how)
        how->leftBehind = tempPath;
    clearRemovableFile(REMOVABLE_TEMPORARY);
    // The rename itself reaches the disk with its directory; an archive whose name may not
    // survive a crash is not passed off as written. One that replaced an older file stays: the
    // older one is gone either way.
    if (!error) {
        error = syncDirectory(dirFd);
        if (error && !replaced && removeAt(dirFd, leaf) != 0 && how)
            how->leftBehind = path;
    }
    closeHandle(dirFd);
    return error;
}
