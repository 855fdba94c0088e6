/* Preloaded into the tool by the end-to-end tests to make the file system misbehave at one chosen
 * moment, as a faulty disk, a slow file system or another process would. Only files with a
 * temporary ".mdx-" name directly inside TRAP_DIR (as the kernel reports it) are touched; without
 * TRAP_DIR every call goes through as asked.
 * - TRAP_FLIP_AT=N: the low bit of byte N of the file is flipped on its way in (a write).
 * - TRAP_QUIT_AT_CLOSE=1: SIGINT is raised once the first such file has been closed, the last
 *   step before it would take its name.
 * - TRAP_TAKE_NAME=1: the first exclusive create of such a name finds it just taken by someone
 *   else (the file is made with "theirs" in it, and its path printed to standard error), after a
 *   pause of a second in which the test signals the tool.
 * - TRAP_SWAP_LEAF=NAME with TRAP_SWAP_DIR and TRAP_SWAP_TO: the first open of a path whose last
 *   component is NAME (by any of open, openat or openat2) finds TRAP_SWAP_DIR renamed away and a
 *   symbolic link to TRAP_SWAP_TO in its place, as another process with write access could make.
 * - TRAP_QUIT_AFTER_TEXT=TEXT: SIGTERM is raised once, right after the first write (to any
 *   descriptor) whose bytes hold TEXT, as a second signal coming at the worst moment would.
 * - TRAP_STOP_AT_TEXT=TEXT: the first write to a terminal whose bytes hold TEXT finds its output
 *   stopped, as Ctrl-S typed just as the write begins would (after the tool saw room).
 * - TRAP_FAIL_LEAF=NAME with TRAP_FAIL_ERRNO=N: every open of a path whose last component is NAME
 *   (by any of open, openat or openat2) fails with that error number, as a file the user may not
 *   read or a failing disk would.
 * - TRAP_FAIL_MKDIR=NAME with TRAP_FAIL_ERRNO=N: every mkdir or mkdirat of a path whose last
 *   component is NAME fails with that error number, as a folder the user may not write in or a
 *   file system without a free inode would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef int (*close_fn)(int);
typedef int (*openat_fn)(int, const char*, int, ...);

static int in_dir(const char* path)
{
    const char* dir = getenv("TRAP_DIR");
    if (!dir)
        return 0;
    size_t d = strlen(dir);
    return strncmp(path, dir, d) == 0 && strncmp(path + d, "/.mdx-", 6) == 0 && !strchr(path + d + 1, '/');
}

static int fd_path(int fd, char* path, size_t size)
{
    char link[64];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, size - 1);
    if (n <= 0)
        return 0;
    path[n] = 0;
    return 1;
}

static int is_target(int fd)
{
    char path[4096];
    return getenv("TRAP_DIR") && fd_path(fd, path, sizeof(path)) && in_dir(path);
}

static ssize_t write_then_quit(write_fn next, int fd, const void* data, size_t size)
{
    static int raised;
    const char* text = getenv("TRAP_QUIT_AFTER_TEXT");
    const ssize_t written = next(fd, data, size);
    if (!raised && text && written > 0 && memmem(data, (size_t)written, text, strlen(text))) {
        raised = 1;
        raise(SIGTERM);
    }
    return written;
}

static void stop_terminal_at_text(int fd, const void* data, size_t size)
{
    static int stopped;
    const char* text = getenv("TRAP_STOP_AT_TEXT");
    if (!stopped && text && memmem(data, size, text, strlen(text)) && isatty(fd)) {
        stopped = 1;
        tcflow(fd, TCOOFF);
    }
}

ssize_t write(int fd, const void* data, size_t size)
{
    static write_fn next;
    if (!next)
        next = (write_fn)dlsym(RTLD_NEXT, "write");
    stop_terminal_at_text(fd, data, size);
    if (getenv("TRAP_QUIT_AFTER_TEXT"))
        return write_then_quit(next, fd, data, size);
    const char* at = getenv("TRAP_FLIP_AT");
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

int close(int fd)
{
    static close_fn next;
    static int raised;
    if (!next)
        next = (close_fn)dlsym(RTLD_NEXT, "close");
    const int quit = !raised && getenv("TRAP_QUIT_AT_CLOSE") && is_target(fd);
    const int result = next(fd);
    if (quit) {
        raised = 1;
        raise(SIGINT);
    }
    return result;
}

static void swap_folder(const char* name)
{
    static int swapped;
    const char* leaf = getenv("TRAP_SWAP_LEAF");
    const char* dir = getenv("TRAP_SWAP_DIR");
    const char* to = getenv("TRAP_SWAP_TO");
    if (swapped || !leaf || !dir || !to || !name)
        return;
    const char* slash = strrchr(name, '/');
    if (strcmp(slash ? slash + 1 : name, leaf) != 0)
        return;
    swapped = 1;
    char moved[4096];
    snprintf(moved, sizeof(moved), "%s.moved", dir);
    if (rename(dir, moved) != 0 || symlink(to, dir) != 0)
        fprintf(stderr, "TRAP: the swap failed\n");
}

/* Nonzero (the error number set) when a call on `name` is to fail: its last component is the
 * one that the variable `which` names. */
static int failed_call(const char* which, const char* name)
{
    const char* leaf = getenv(which);
    const char* number = getenv("TRAP_FAIL_ERRNO");
    if (!leaf || !number || !name)
        return 0;
    const char* slash = strrchr(name, '/');
    if (strcmp(slash ? slash + 1 : name, leaf) != 0)
        return 0;
    errno = atoi(number);
    return 1;
}

static int failed_open(const char* name)
{
    return failed_call("TRAP_FAIL_LEAF", name);
}

typedef int (*mkdir_fn)(const char*, mode_t);
typedef int (*mkdirat_fn)(int, const char*, mode_t);

int mkdir(const char* name, mode_t mode)
{
    static mkdir_fn next;
    if (!next)
        next = (mkdir_fn)dlsym(RTLD_NEXT, "mkdir");
    return failed_call("TRAP_FAIL_MKDIR", name) ? -1 : next(name, mode);
}

int mkdirat(int dirfd, const char* name, mode_t mode)
{
    static mkdirat_fn next;
    if (!next)
        next = (mkdirat_fn)dlsym(RTLD_NEXT, "mkdirat");
    return failed_call("TRAP_FAIL_MKDIR", name) ? -1 : next(dirfd, name, mode);
}

static int trapped_openat(openat_fn next, int dirfd, const char* name, int flags, mode_t mode)
{
    swap_folder(name);
    if (failed_open(name))
        return -1;
    static int taken;
    char dir[4096], path[8192];
    if (!taken && getenv("TRAP_TAKE_NAME") && (flags & O_EXCL) && strncmp(name, ".mdx-", 5) == 0 &&
        fd_path(dirfd, dir, sizeof(dir))) {
        snprintf(path, sizeof(path), "%s/%s", dir, name);
        if (in_dir(path)) {
            taken = 1;
            int theirs = next(dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (theirs >= 0) {
                write(theirs, "theirs", 6);
                close(theirs);
                fprintf(stderr, "TAKEN %s\n", path);
                fflush(stderr);
                sleep(1);
            }
        }
    }
    return next(dirfd, name, flags, mode);
}

/* openat and openat64 alike: the mode is there only with O_CREAT. */
#define TRAPPED_OPENAT(function)                                                                   \
    int function(int dirfd, const char* name, int flags, ...)                                      \
    {                                                                                              \
        static openat_fn next;                                                                     \
        if (!next)                                                                                 \
            next = (openat_fn)dlsym(RTLD_NEXT, #function);                                         \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(args, int) : 0;                           \
        va_end(args);                                                                              \
        return trapped_openat(next, dirfd, name, flags, mode);                                     \
    }

TRAPPED_OPENAT(openat)
TRAPPED_OPENAT(openat64)

typedef int (*open_fn)(const char*, int, ...);

#define TRAPPED_OPEN(function)                                                                     \
    int function(const char* name, int flags, ...)                                                 \
    {                                                                                              \
        static open_fn next;                                                                       \
        if (!next)                                                                                 \
            next = (open_fn)dlsym(RTLD_NEXT, #function);                                           \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(args, int) : 0;                           \
        va_end(args);                                                                              \
        swap_folder(name);                                                                         \
        if (failed_open(name))                                                                     \
            return -1;                                                                             \
        return next(name, flags, mode);                                                            \
    }

TRAPPED_OPEN(open)
TRAPPED_OPEN(open64)

/* openat2 has no wrapper of its own: it is reached through syscall(). */
typedef long (*syscall_fn)(long, ...);

long syscall(long number, ...)
{
    static syscall_fn next;
    if (!next)
        next = (syscall_fn)dlsym(RTLD_NEXT, "syscall");
    va_list args;
    va_start(args, number);
    long a[6];
    for (int i = 0; i < 6; i++)
        a[i] = va_arg(args, long);
    va_end(args);
#ifdef SYS_openat2
    if (number == SYS_openat2) {
        swap_folder((const char*)a[1]);
        if (failed_open((const char*)a[1]))
            return -1;
    }
#endif
    return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
