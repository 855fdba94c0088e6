#include "framework/platform/Console.h"
#include "framework/platform/Signals.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace
{
// How long one wait for output lasts before the quit signal is looked at again.
constexpr int OUTPUT_WAIT_MS = 100;
// After a quit signal, how long output may still keep the run waiting, all writes together: a
// reader that is only slow still gets the closing lines, one that is gone does not hold the run.
constexpr i64 QUIT_GRACE_MS = 400;
i64 quitDeadline = -1; // on the monotonic clock, in milliseconds; -1 until a quit was seen

i64 nowMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return i64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

FILE* guarded = nullptr;
// A regular file never keeps a writer waiting: written straight through.
bool outputIsFile = false;

// Whether the output takes a write of PIPE_BUF bytes now (a pipe with a free slot, a terminal
// with room), waiting for it in short steps; false once the grace after a quit signal is spent
// while it does not. An output that cannot be polled is left to the write to judge.
bool outputReady(int timeoutMs)
{
    for (;;) {
        int wait = timeoutMs;
        if (wait && quitSignalCount()) {
            if (quitDeadline < 0)
                quitDeadline = nowMs() + QUIT_GRACE_MS;
            const i64 left = quitDeadline - nowMs();
            wait = left > 0 ? int(left < timeoutMs ? left : timeoutMs) : 0;
        }
        struct pollfd p = {STDOUT_FILENO, POLLOUT, 0};
        const int r = poll(&p, 1, wait);
        if (r > 0 || (r < 0 && errno != EINTR))
            return true;
        if (timeoutMs == 0 || (wait == 0 && quitSignalCount()))
            return false;
    }
}

// Pieces of PIPE_BUF bytes: a pipe takes one whole into a free slot, so a write after a ready
// poll does not wait.
ssize_t writeGuarded(void*, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        if (!outputIsFile && !outputReady(OUTPUT_WAIT_MS))
            return ssize_t(size); // a quit: what cannot be written without waiting is dropped
        const size_t left = size - done;
        const size_t piece = outputIsFile || left < PIPE_BUF ? left : PIPE_BUF;
        const ssize_t n = write(STDOUT_FILENO, data + done, piece);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return done ? ssize_t(done) : -1;
        }
        done += size_t(n);
    }
    return ssize_t(size);
}
}

bool consoleIsTerminal(FILE* out)
{
    const int fd = out == guarded ? STDOUT_FILENO : fileno(out);
    return fd >= 0 && isatty(fd) == 1;
}

void consoleSetColour(FILE* out, u8 attribute)
{
    if (!consoleIsTerminal(out))
        return;
    // Windows colour order is blue, green, red; ANSI is red, green, blue.
    static const u8 ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    u8 fg = attribute & 15, bg = attribute >> 4;
    int fgCode = (fg & 8 ? 90 : 30) + ansi[fg & 7];
    if (bg)
        fprintf(out, "\x1b[0;%d;%dm", fgCode, (bg & 8 ? 100 : 40) + ansi[bg & 7]);
    else
        fprintf(out, "\x1b[0;%dm", fgCode);
}

bool guardStandardOutput()
{
    if (guarded)
        return true;
    struct stat st;
    outputIsFile = fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode);
    cookie_io_functions_t io = {nullptr, writeGuarded, nullptr, nullptr};
    FILE* out = fopencookie(nullptr, "w", io);
    if (!out)
        return false;
    // Buffered as the C runtime buffers standard output: by line on a terminal, else in blocks.
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    if (setvbuf(out, nullptr, terminal ? _IOLBF : _IOFBF, terminal ? BUFSIZ : 64 * 1024) != 0) {
        fclose(out);
        return false;
    }
    fflush(stdout);
    guarded = out;
    stdout = out;
    return true;
}

bool waitForOutputRoom()
{
    return outputIsFile || outputReady(OUTPUT_WAIT_MS);
}

void writeOutputIfReady(const char* text, u64 length)
{
    // Short texts only: a pipe takes up to PIPE_BUF bytes whole into a free slot.
    if (length > PIPE_BUF || !outputReady(0))
        return;
    // One attempt: a second could wait for the rest.
    while (write(STDOUT_FILENO, text, size_t(length)) < 0 && errno == EINTR) {
    }
}
