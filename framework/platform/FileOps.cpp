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
// With early, the disk starts on each chunk as soon as it is written, so the sync at the end
// finds little left to do.
int writeAllTo(int fd, const u8* data, u64 size, bool early = false)
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

ByteArray* readFileWhole(const char* path, ReadFailure& failure)
{
    // Not blocking: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure = ReadFailure::Missing;
        return nullptr;
    }
    struct stat st;
    ByteArray* bytes = nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure = ReadFailure::NotRegular;
    } else if (u64(st.st_size) > 0xFFFFFFFFull) {
        failure = ReadFailure::TooLarge;
    } else if (!(bytes = newByteArray(nullptr, u32(st.st_size)))) {
        failure = ReadFailure::Memory;
    } else {
        u64 done = 0;
        while (done < bytes->count) {
            const ssize_t n = read(fd, bytes->data + done, size_t(bytes->count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += u64(n);
        }
        if (done != bytes->count) {
            failure = ReadFailure::Short;
            deleteByteArray(bytes);
            bytes = nullptr;
        }
    }
    close(fd);
    if (bytes)
        failure = ReadFailure::None;
    return bytes;
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

namespace
{
// The directory entered last below a root, kept open: consecutive entries mostly share one.
struct OpenDirectory
{
    char* root = nullptr;
    char* relative = nullptr;
    int fd = -1;
} lastDirectory;

char* copyText(const char* text, size_t n)
{
    char* copy = static_cast<char*>(malloc(n + 1));
    if (copy) {
        memcpy(copy, text, n);
        copy[n] = 0;
    }
    return copy;
}

// Why openat of one component failed: ELOOP when a link is in the way, else the error itself.
int componentError(int dirFd, const char* name, int error)
{
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return ELOOP;
    return error;
}

// The directory of the first n bytes of `relative` below root, made as needed; a descriptor
// owned by the cache, or minus the error number.
int enterBeneath(const char* root, const char* relative, size_t n)
{
    if (lastDirectory.fd >= 0 && strcmp(lastDirectory.root, root) == 0 && strlen(lastDirectory.relative) == n &&
        memcmp(lastDirectory.relative, relative, n) == 0)
        return lastDirectory.fd;
    char* parts = copyText(relative, n);
    char* rootCopy = copyText(root, strlen(root));
    int fd = parts && rootCopy ? open(root[0] ? root : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    int error = fd < 0 ? (parts && rootCopy ? errno : ENOMEM) : 0;
    for (char* part = parts; !error && part && *part;) {
        char* end = strchr(part, '/');
        if (end)
            *end = 0;
        if (strcmp(part, "..") == 0 || strcmp(part, ".") == 0) {
            error = EINVAL;
            break;
        }
        if (*part) {
            int next = openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT) {
                if (mkdirat(fd, part, 0777) != 0 && errno != EEXIST)
                    error = errno;
                else
                    next = openat(fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
            if (!error && next < 0)
                error = componentError(fd, part, errno);
            if (!error) {
                close(fd);
                fd = next;
            }
        }
        if (end)
            *end = '/';
        part = end ? end + 1 : nullptr;
    }
    if (error) {
        if (fd >= 0)
            close(fd);
        free(parts);
        free(rootCopy);
        return -error;
    }
    forgetDirectoryBeneath();
    lastDirectory.root = rootCopy;
    lastDirectory.relative = parts;
    lastDirectory.fd = fd;
    return fd;
}
}

void forgetDirectoryBeneath()
{
    if (lastDirectory.fd >= 0)
        close(lastDirectory.fd);
    free(lastDirectory.root);
    free(lastDirectory.relative);
    lastDirectory = OpenDirectory();
}

int makeDirectoryBeneath(const char* root, const char* relative)
{
    const int fd = enterBeneath(root, relative, strlen(relative));
    return fd < 0 ? -fd : 0;
}

int writeFileBeneath(const char* root, const char* relative, const u8* data, u64 size)
{
    if (quitSignalCount())
        return ECANCELED;
    const char* slash = strrchr(relative, '/');
    const char* leaf = slash ? slash + 1 : relative;
    if (!*leaf || strcmp(leaf, ".") == 0 || strcmp(leaf, "..") == 0)
        return EINVAL;
    const int dirFd = enterBeneath(root, relative, slash ? size_t(slash - relative) : 0);
    if (dirFd < 0)
        return -dirFd;
    // O_NOFOLLOW refuses a link in the file's place (ELOOP): nothing is written through it.
    const int fd = openat(dirFd, leaf, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return componentError(dirFd, leaf, errno);
    // The hard exit of a second quit signal removes the file by its whole path.
    const size_t rootLength = strlen(root);
    char* whole = static_cast<char*>(malloc(rootLength + strlen(relative) + 2));
    if (whole) {
        memcpy(whole, root, rootLength);
        whole[rootLength] = '/';
        strcpy(whole + rootLength + 1, relative);
        recordRemovableFile(REMOVABLE_EXTRACTING, whole);
        free(whole);
    }
    int error = writeAllTo(fd, data, size);
    if (!error && faultInjected(FaultKind::Write))
        error = EIO;
    if (close(fd) != 0 && !error)
        error = errno ? errno : EIO;
    if (error)
        unlinkat(dirFd, leaf, 0);
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
    int error = writeAllTo(fd, data, size, true);
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
