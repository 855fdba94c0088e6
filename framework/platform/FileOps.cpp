#include "framework/platform/FileOps.h"
#include "framework/core/Faults.h"
#include "framework/platform/Signals.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Written between looks at the quit signal, so that a large file stops within a moment.
constexpr u64 WRITE_CHUNK = 4u << 20;

// Every byte, or the error number of the write that failed (ECANCELED after a quit signal).
int writeAllTo(int fd, const u8* data, u64 size)
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
        done += u64(n);
    }
    return 0;
}

// The data reaches the disk, and the close reports what it alone can (NFS, quotas).
int syncAndClose(int fd)
{
    int error = 0;
    if (faultInjected(FaultKind::Write))
        error = EIO;
    else if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    if (close(fd) != 0 && !error)
        error = errno ? errno : EIO;
    return error;
}
}

bool pathsReferToSameFile(const char* a, const char* b)
{
    struct stat sa, sb;
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool removeFile(const char* path)
{
    return unlink(path) == 0;
}

bool isStorageExhausted(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO || error == EROFS;
}

int writeFileWhole(const char* path, const u8* data, u64 size)
{
    if (quitSignalCount())
        return ECANCELED;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    recordRemovableFile(REMOVABLE_EXTRACTING, path);
    int error = writeAllTo(fd, data, size);
    if (error) {
        close(fd);
    } else {
        // No fsync for extracted files: a failed write still shows at the close on the file
        // systems that delay it, and syncing each of thousands of files would cost seconds.
        if (faultInjected(FaultKind::Write))
            error = EIO;
        if (close(fd) != 0 && !error)
            error = errno ? errno : EIO;
    }
    if (error)
        unlink(path);
    clearRemovableFile(REMOVABLE_EXTRACTING);
    return error;
}

int writeFileAtomically(const char* path, const u8* data, u64 size)
{
    // A short name in the target's directory: any name that can be created can be written.
    const char* slash = strrchr(path, '/');
    const size_t dirLength = slash ? size_t(slash - path) + 1 : 0;
    static const char pattern[] = ".mdx-XXXXXX";
    char* temp = static_cast<char*>(malloc(dirLength + sizeof(pattern)));
    if (!temp)
        return ENOMEM;
    memcpy(temp, path, dirLength);
    memcpy(temp + dirLength, pattern, sizeof(pattern));
    int fd = mkostemp(temp, O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        free(temp);
        return error;
    }
    recordRemovableFile(REMOVABLE_TEMPORARY, temp);
    int error = writeAllTo(fd, data, size);
    // mkstemp creates 0600; give the archive the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    if (!error && fchmod(fd, 0666 & ~mask) != 0)
        error = errno;
    if (error) {
        close(fd);
    } else {
        error = syncAndClose(fd);
    }
    // The last moment a quit signal can still keep the archive from taking its name.
    if (!error && quitSignalCount())
        error = ECANCELED;
    if (!error && rename(temp, path) != 0)
        error = errno;
    if (error)
        unlink(temp);
    clearRemovableFile(REMOVABLE_TEMPORARY);
    if (!error) {
        // The rename itself reaches the disk with its directory.
        char* dir = static_cast<char*>(malloc(dirLength + 2));
        if (dir) {
            memcpy(dir, dirLength ? path : ".", dirLength ? dirLength : 1);
            dir[dirLength ? dirLength : 1] = 0;
            int dirFd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dirFd >= 0) {
                fsync(dirFd);
                close(dirFd);
            }
            free(dir);
        }
    }
    free(temp);
    return error;
}
