#include "framework/platform/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool pathsReferToSameFile(const char* a, const char* b)
{
    struct stat sa, sb;
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool writeFileAtomically(const char* path, const u8* data, u64 size)
{
    size_t len = strlen(path);
    char* temp = static_cast<char*>(malloc(len + 16));
    if (!temp)
        return false;
    memcpy(temp, path, len);
    memcpy(temp + len, ".tmp.XXXXXX", 12);
    int fd = mkstemp(temp);
    if (fd < 0) {
        free(temp);
        return false;
    }
    bool ok = true;
    u64 done = 0;
    while (ok && done < size) {
        size_t chunk = size - done > (1u << 30) ? (1u << 30) : size_t(size - done);
        ssize_t n = write(fd, data + done, chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += u64(n);
    }
    // mkstemp creates 0600; give the archive the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    if (ok && fchmod(fd, 0666 & ~mask) != 0)
        ok = false;
    if (close(fd) != 0)
        ok = false;
    if (ok && rename(temp, path) != 0)
        ok = false;
    if (!ok)
        unlink(temp);
    free(temp);
    return ok;
}
