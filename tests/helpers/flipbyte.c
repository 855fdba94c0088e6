/* Preloaded into the tool by the verification tests: flips the low bit of one byte of an
 * archive on its way into the file, as a faulty disk or driver would, so that only a check of
 * what is on disk can notice. FLIPBYTE_DIR names the output directory (as the kernel reports
 * it) and FLIPBYTE_AT the offset of the byte; only writes to a temporary ".mdx-" file there are
 * touched. Without both variables every write goes through as asked. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

typedef ssize_t (*write_fn)(int, const void*, size_t);

static int is_target(int fd)
{
    const char* dir = getenv("FLIPBYTE_DIR");
    char link[64], path[4096];
    if (!dir)
        return 0;
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof(path) - 1);
    if (n <= 0)
        return 0;
    path[n] = 0;
    size_t d = strlen(dir);
    return strncmp(path, dir, d) == 0 && strncmp(path + d, "/.mdx-", 6) == 0 && !strchr(path + d + 1, '/');
}

ssize_t write(int fd, const void* data, size_t size)
{
    static write_fn next;
    if (!next)
        next = (write_fn)dlsym(RTLD_NEXT, "write");
    const char* at = getenv("FLIPBYTE_AT");
    if (!at || size == 0 || !is_target(fd))
        return next(fd, data, size);
    off_t flip = (off_t)strtoll(at, NULL, 10);
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0 || flip < pos || flip >= pos + (off_t)size)
        return next(fd, data, size);
    /* The bytes before it first; the writer comes back for the rest. */
    if (flip > pos)
        return next(fd, data, (size_t)(flip - pos));
    unsigned char byte = *(const unsigned char*)data ^ 1;
    return next(fd, &byte, 1);
}
