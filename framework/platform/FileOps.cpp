#include "framework/platform/FileOps.h"
#include "framework/core/Faults.h"
#include "framework/platform/FileMapping.h"
#include "framework/platform/Signals.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

namespace
{
// Written between looks at the quit signal, so that a large file stops within a moment.
constexpr u64 WRITE_CHUNK = 4u << 20;

// A call's result, or the injected fault as the call's own failure: the caller's check of it is
// what a test means to reach.
int checked(int result)
{
    if (faultInjected(FaultKind::Write)) {
        errno = EIO;
        return -1;
    }
    return result;
}
}

namespace
{
// Not blocking: opening a FIFO for reading would otherwise wait for a writer.
constexpr int READ_FLAGS = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

void noteError(int* error, int value)
{
    if (error)
        *error = value;
}

// The regular file an open gave: its size and time of change (from one status call, so that they
// describe one state of the file); otherwise the handle is closed and false says why.
bool judgeWhole(int fd, FileStamp& stamp, ReadFailure& failure, int* error)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        noteError(error, errno);
        failure = ReadFailure::Missing;
    } else if (!S_ISREG(st.st_mode)) {
        failure = ReadFailure::NotRegular;
    } else if (u64(st.st_size) > 0xFFFFFFFFull) {
        failure = ReadFailure::TooLarge;
    } else {
        stamp.size = u64(st.st_size);
        stamp.seconds = i64(st.st_mtim.tv_sec);
        stamp.nanoseconds = i64(st.st_mtim.tv_nsec);
        return true;
    }
    close(fd);
    return false;
}

ByteArray* readOpenFile(int fd, u64 size, ReadFailure& failure, int* error)
{
    ByteArray* bytes = newByteArray(nullptr, u32(size));
    if (!bytes) {
        failure = ReadFailure::Memory;
        return nullptr;
    }
    u64 done = 0;
    while (done < bytes->count) {
        const ssize_t n = read(fd, bytes->data + done, size_t(bytes->count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            noteError(error, errno);
        if (n <= 0)
            break;
        done += u64(n);
    }
    if (done != bytes->count) {
        failure = ReadFailure::Short;
        deleteByteArray(bytes);
        return nullptr;
    }
    failure = ReadFailure::None;
    return bytes;
}

// Reads the opened file whole and closes it.
ByteArray* readOpened(int fd, ReadFailure& failure, int* error)
{
    FileStamp stamp;
    if (!judgeWhole(fd, stamp, failure, error))
        return nullptr;
    ByteArray* bytes = readOpenFile(fd, stamp.size, failure, error);
    close(fd);
    return bytes;
}

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// `relative` below dirFd, each folder on the way opened without following a link, the last step
// with `lastFlags` (where the system cannot resolve the whole path beneath a handle in one step).
// "." and ".." are refused: nothing on the way may lead back up. A handle, or minus the error
// number.
int walkBeneath(int dirFd, const char* relative, int lastFlags)
{
    int fd = dirFd;
    const char* part = relative;
    // Runs of '/' separate as one, and a '/' at the end ends the path (as the system reads them).
    while (*part == '/')
        part++;
    for (;;) {
        const char* slash = strchr(part, '/');
        const u64 n = slash ? u64(slash - part) : strlen(part);
        while (slash && slash[1] == '/')
            slash++;
        if (slash && !slash[1])
            slash = nullptr;
        char name[256];
        int next;
        if (n == 0 || n >= sizeof(name) || (part[0] == '.' && (n == 1 || (n == 2 && part[1] == '.')))) {
            next = -EINVAL;
        } else {
            memcpy(name, part, n);
            name[n] = 0;
            next = openat(fd, name, (slash ? FOLDER_FLAGS : lastFlags) | O_NOFOLLOW);
            if (next < 0) {
                const int failed = errno;
                struct stat st;
                next = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) ? -ELOOP : -failed;
            }
        }
        if (fd != dirFd)
            close(fd);
        if (next < 0 || !slash)
            return next;
        fd = next;
        part = slash + 1;
    }
}

// `relative` below dirFd in one step where the system can, without following a link at any
// step; otherwise (no openat2, refused as some sandboxes refuse it, or a path longer than the
// system resolves at once) walked folder by folder with the same guarantees.
int openBeneath(int dirFd, const char* relative, int flags)
{
#ifdef SYS_openat2
    struct open_how how = {};
    how.flags = u64(flags | O_NOFOLLOW);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = faultInjected(FaultKind::Resolve) ? (errno = injectedError(ENOSYS), -1)
                                                      : syscall(SYS_openat2, dirFd, relative, &how, sizeof(how));
    if (fd >= 0)
        return int(fd);
    if (errno != ENOSYS && errno != EPERM && errno != E2BIG && errno != ENAMETOOLONG)
        return -errno;
#endif
    return walkBeneath(dirFd, relative, flags);
}

// How much of `relative` names the first symbolic link on it (all of it when none is there now).
u64 firstLinkOn(int dirFd, const char* relative)
{
    const u64 length = strlen(relative);
    char prefix[4096];
    if (length >= sizeof(prefix))
        return length;
    for (u64 i = 1; i <= length; i++) {
        if (i < length && relative[i] != '/')
            continue;
        memcpy(prefix, relative, i);
        prefix[i] = 0;
        struct stat st;
        if (fstatat(dirFd, prefix, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            return i;
    }
    return length;
}
}

ByteArray* readFileWhole(const char* path, ReadFailure& failure, int* error)
{
    noteError(error, 0);
    const int fd = open(path, READ_FLAGS | O_NOFOLLOW);
    if (fd < 0) {
        noteError(error, errno);
        failure = errno == ELOOP ? ReadFailure::Link : ReadFailure::Missing;
        return nullptr;
    }
    return readOpened(fd, failure, error);
}

ByteArray* readFileBeneath(int dirFd, const char* relative, ReadFailure& failure, int* error, u64* linkLength)
{
    noteError(error, 0);
    const int fd = openBeneath(dirFd, relative, READ_FLAGS);
    if (fd < 0) {
        noteError(error, -fd);
        failure = fd == -ELOOP ? ReadFailure::Link : ReadFailure::Missing;
        if (linkLength)
            *linkLength = fd == -ELOOP ? firstLinkOn(dirFd, relative) : 0;
        return nullptr;
    }
    return readOpened(fd, failure, error);
}

ByteArray* mapFileWhole(const char* path, ReadFailure& failure, int* error)
{
    noteError(error, 0);
    // The archive the user named: a link to it is followed.
    const int fd = open(path, READ_FLAGS);
    if (fd < 0) {
        noteError(error, errno);
        failure = ReadFailure::Missing;
        return nullptr;
    }
    FileStamp stamp;
    if (!judgeWhole(fd, stamp, failure, error))
        return nullptr;
    bool memoryFailed = false;
    ByteArray* bytes = stamp.size ? mapFileBytes(fd, stamp, memoryFailed) : nullptr;
    if (bytes)
        failure = ReadFailure::None;
    else if (memoryFailed)
        failure = ReadFailure::Memory;
    else
        bytes = readOpenFile(fd, stamp.size, failure, error);
    close(fd);
    return bytes;
}

bool removeFile(const char* path)
{
    return unlink(path) == 0;
}

bool isStorageExhausted(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO || error == EROFS;
}

int writeAllTo(int fd, const u8* data, u64 size, bool early)
{
    u64 done = 0;
    while (done < size) {
        if (quitSignalCount())
            return ECANCELED;
        if (faultInjected(FaultKind::Write))
            return EIO;
        size_t chunk = size - done > WRITE_CHUNK ? size_t(WRITE_CHUNK) : size_t(size - done);
        ssize_t n = write(fd, data + done, chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        if (early)
            sync_file_range(fd, off64_t(done), off64_t(n), SYNC_FILE_RANGE_WRITE);
        done += u64(n);
    }
    return 0;
}

int syncFile(int fd)
{
    // EINVAL and EROFS: a file that cannot be synced (a pipe, a read-only mount) has nothing to lose.
    if (fsync(fd) == 0 || errno == EINVAL || errno == EROFS)
        return 0;
    return errno ? errno : EIO;
}

int finishFile(int fd)
{
    if (checked(close(fd)) != 0)
        return errno ? errno : EIO;
    return 0;
}

int writeFileWhole(const char* path, const u8* data, u64 size)
{
    if (quitSignalCount())
        return ECANCELED;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    recordRemovableFile(REMOVABLE_EXTRACTING, path);
    int error = writeAllTo(fd, data, size, false);
    if (error)
        close(fd);
    else
        error = finishFile(fd);
    if (error)
        unlink(path);
    clearRemovableFile(REMOVABLE_EXTRACTING);
    return error;
}

bool identifyFile(const char* path, FileIdentity& id)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return false;
    id.device = u64(st.st_dev);
    id.inode = u64(st.st_ino);
    return true;
}

EntryKind entryKindAt(int dirFd, const char* name, FileIdentity* id)
{
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryKind::Missing;
    if (id) {
        id->device = u64(st.st_dev);
        id->inode = u64(st.st_ino);
    }
    if (S_ISREG(st.st_mode))
        return EntryKind::Regular;
    if (S_ISDIR(st.st_mode))
        return EntryKind::Directory;
    if (S_ISLNK(st.st_mode))
        return EntryKind::Link;
    return EntryKind::Other;
}

int openDirectory(const char* path)
{
    const int fd = open(path[0] ? path : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

int enterDirectoryAt(int dirFd, const char* name)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dirFd, name, flags);
    if (fd < 0 && errno == ENOENT) {
        if (mkdirat(dirFd, name, 0777) != 0 && errno != EEXIST)
            return -errno;
        fd = openat(dirFd, name, flags);
    }
    if (fd >= 0)
        return fd;
    const int error = errno;
    return entryKindAt(dirFd, name, nullptr) == EntryKind::Link ? -ELOOP : -error;
}

int openDirectoryBeneath(int dirFd, const char* relative)
{
    // The folder itself: a handle of its own (a copy would share the place a listing reads at).
    if (!relative[0]) {
        const int fd = openat(dirFd, ".", FOLDER_FLAGS);
        return fd < 0 ? -errno : fd;
    }
    return openBeneath(dirFd, relative, FOLDER_FLAGS);
}

void closeHandle(int fd)
{
    if (fd >= 0)
        close(fd);
}

int createFileAt(int dirFd, const char* name)
{
    const int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? -errno : fd;
}

int renameAt(int dirFd, const char* from, const char* to)
{
    return renameat(dirFd, from, dirFd, to) == 0 ? 0 : errno;
}

int renameAtIfFree(int dirFd, const char* from, const char* to)
{
    if (renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    return errno == EINVAL || errno == ENOSYS ? ENOSYS : errno;
}

int removeAt(int dirFd, const char* name)
{
    if (faultInjected(FaultKind::Write))
        return EIO;
    if (unlinkat(dirFd, name, 0) == 0 || errno == ENOENT)
        return 0;
    return errno ? errno : EIO;
}

int syncDirectory(int dirFd)
{
    if (faultInjected(FaultKind::Sync)) {
        errno = EIO;
        return EIO;
    }
    if (fsync(dirFd) == 0 || errno == EINVAL || errno == EROFS)
        return 0;
    return errno ? errno : EIO;
}

u64 descriptorLimit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1u << 20;
    return u64(limit.rlim_cur);
}

u64 randomBits()
{
    u64 bits = 0;
    if (getrandom(&bits, sizeof(bits), GRND_NONBLOCK) == ssize_t(sizeof(bits)))
        return bits;
    // No entropy yet (early boot): the clock and the process still differ from run to run.
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    static u64 counter = 0;
    return (u64(now.tv_nsec) * 0x9E3779B97F4A7C15ull) ^ (u64(getpid()) << 32) ^ ++counter;
}
