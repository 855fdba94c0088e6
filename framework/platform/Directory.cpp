#include "framework/platform/Directory.h"
#include "framework/core/Faults.h"
#include "framework/platform/FileOps.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
u8 upperByte(char c)
{
    u8 b = static_cast<u8>(c);
    return (b >= 'a' && b <= 'z') ? u8(b - ('a' - 'A')) : b;
}

// Anything but a file or a directory: a link, FIFO, device or socket.
constexpr unsigned char KIND_OTHER = 0xFF;

// The entry's kind without following a link; KIND_OTHER for anything but a file or a directory,
// 0 when it has gone.
unsigned char entryKind(int dirFd, const struct dirent* e)
{
    if (e->d_type == DT_REG || e->d_type == DT_DIR)
        return e->d_type;
    if (e->d_type != DT_UNKNOWN)
        return KIND_OTHER;
    struct stat st;
    if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return DT_REG;
    if (S_ISDIR(st.st_mode))
        return DT_DIR;
    return KIND_OTHER;
}
}

bool isDotName(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

int compareDirectoryNames(const char* a, u64 aLength, const char* b, u64 bLength)
{
    u64 n = std::min(aLength, bLength);
    for (u64 i = 0; i < n; i++) {
        u8 ua = upperByte(a[i]);
        u8 ub = upperByte(b[i]);
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    if (aLength != bLength)
        return aLength < bLength ? -1 : 1;
    int c = memcmp(a, b, n);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool listDirectory(const char* path, bool followLink, PtrArray<DirectoryEntry>& out)
{
    return listDirectory(path, followLink, out, nullptr, nullptr);
}

namespace
{
// The listing of the open directory `fd` (taken over); on failure `failed` holds the system's
// error number.
bool listOpened(int fd, PtrArray<DirectoryEntry>& out, ListingCheck keepListing, void* context, int& failed)
{
    if (faultInjected(FaultKind::Listing)) {
        close(fd);
        failed = EIO;
        return false;
    }
    DIR* dir = fdopendir(fd);
    if (!dir) {
        failed = errno;
        close(fd);
        return false;
    }
    u32 first = out.count;
    bool complete = true;
    for (;;) {
        errno = 0;
        const struct dirent* e = readdir(dir);
        if (!e) {
            complete = errno == 0;
            failed = errno;
            break;
        }
        if (keepListing && !keepListing(context, out.count - first))
            break;
        if (isDotName(e->d_name))
            continue;
        unsigned char kind = entryKind(dirfd(dir), e);
        if (!kind)
            continue;
        DirectoryEntry* entry = memNew<DirectoryEntry>();
        if (!entry) {
            complete = false;
            failed = ENOMEM;
            break;
        }
        entry->length = strlen(e->d_name);
        entry->name = static_cast<char*>(memAlloc(entry->length + 1));
        if (!entry->name) {
            memDelete(entry);
            complete = false;
            failed = ENOMEM;
            break;
        }
        memcpy(entry->name, e->d_name, entry->length + 1);
        entry->isDirectory = kind == DT_DIR;
        entry->isOther = kind == KIND_OTHER;
        if (!out.push(entry)) {
            memDelete(entry);
            complete = false;
            failed = ENOMEM;
            break;
        }
    }
    closedir(dir);
    std::sort(out.items + first, out.items + out.count, [](const DirectoryEntry* a, const DirectoryEntry* b) {
        return compareDirectoryNames(a->name, a->length, b->name, b->length) < 0;
    });
    return complete;
}
}

bool listDirectory(const char* path, bool followLink, PtrArray<DirectoryEntry>& out, ListingCheck keepListing,
                   void* context, int* error)
{
    int failed = ENOENT;
    int fd = -1;
    if (path && path[0]) {
        fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
        failed = errno;
    }
    const bool complete = fd >= 0 && listOpened(fd, out, keepListing, context, failed);
    if (error)
        *error = complete ? 0 : failed;
    return complete;
}

bool listDirectoryBeneath(int dirFd, const char* relative, PtrArray<DirectoryEntry>& out, ListingCheck keepListing,
                          void* context, int* error)
{
    const int fd = openDirectoryBeneath(dirFd, relative);
    int failed = -fd;
    const bool complete = fd >= 0 && listOpened(fd, out, keepListing, context, failed);
    if (error)
        *error = complete ? 0 : failed;
    return complete;
}
