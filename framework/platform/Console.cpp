#include "framework/platform/Console.h"
#include "framework/platform/Signals.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace
{
// How long one wait for output lasts before the quit signal is looked at again.
constexpr int OUTPUT_WAIT_MS = 100;
// A stopped terminal can claim room that a write then does not find: it is tried again after a
// pause of this length, never at once, so that waiting on it costs no processor time.
constexpr int STALL_PAUSE_MS = 20;
// After a quit signal, how long output may still keep the run waiting, all writes together: a
// reader that is only slow still gets the closing lines, one that is gone does not hold the run.
constexpr i64 QUIT_GRACE_MS = 400;
// On the monotonic clock, in milliseconds; -1 until a quit was seen.
std::atomic<i64> quitDeadline{-1};

i64 nowMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return i64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

enum class Way : u8
{
    // A regular file never keeps a writer waiting: written straight through.
    Through,
    // A pipe or terminal reopened as an open file of our own, set not to block: a write never
    // waits, and the shell's own open file keeps its flags.
    Own,
    // A socket cannot be reopened; a send can be told not to wait.
    Socket,
    // Anything else, or an output that could not be reopened: polled first, then written in
    // pieces that a pipe takes whole into a free slot. Only the quit signal's interruption cuts
    // short a write that still waits.
    Polled,
};

struct Output
{
    int fd;
    Way way;
    FILE* stream;
    // The last write took nothing although the output had claimed room (a stopped terminal).
    std::atomic<u8> stalled;
};

Output outputs[2] = {{STDOUT_FILENO, Way::Polled, nullptr, {0}}, {STDERR_FILENO, Way::Polled, nullptr, {0}}};

Output& outputFor(int standardFd)
{
    return outputs[standardFd == STDERR_FILENO ? 1 : 0];
}

int standardFdOf(const Output& o)
{
    return &o == &outputs[1] ? STDERR_FILENO : STDOUT_FILENO;
}

// How long the next wait may last: the usual step, cut to what is left of the grace once a quit
// signal has come in (0 when it is spent).
int allowedWait()
{
    if (!quitSignalCount())
        return OUTPUT_WAIT_MS;
    i64 deadline = quitDeadline.load();
    if (deadline < 0) {
        const i64 start = nowMs() + QUIT_GRACE_MS;
        if (quitDeadline.compare_exchange_strong(deadline, start))
            deadline = start;
    }
    const i64 left = deadline - nowMs();
    return left <= 0 ? 0 : int(left < OUTPUT_WAIT_MS ? left : OUTPUT_WAIT_MS);
}

// A pause that a signal cuts short.
void pauseMs(int ms)
{
    struct timespec t = {0, long(ms) * 1000000L};
    nanosleep(&t, nullptr);
}

// Whether the output may be tried again: waits for room in short steps (a quit signal cuts a
// step short); false once the grace after a quit is spent while there is none.
bool outputReady(Output& o)
{
    for (;;) {
        const int wait = allowedWait();
        if (o.stalled.load()) {
            // Its poll says nothing: only a write can tell.
            if (wait == 0)
                return false;
            pauseMs(wait < STALL_PAUSE_MS ? wait : STALL_PAUSE_MS);
            return true;
        }
        struct pollfd p = {o.fd, POLLOUT, 0};
        const int r = poll(&p, 1, wait);
        // An output that cannot be polled is left to the write to judge.
        if (r > 0 || (r < 0 && errno != EINTR))
            return true;
        if (wait == 0)
            return false;
    }
}

// One system call: what the output took, or -1 with errno.
ssize_t putSome(Output& o, const char* data, size_t size)
{
    switch (o.way) {
    case Way::Socket:
        return send(o.fd, data, size, MSG_DONTWAIT);
    case Way::Polled:
        return write(o.fd, data, size < PIPE_BUF ? size : PIPE_BUF);
    default:
        return write(o.fd, data, size);
    }
}

// The whole text, as a write would write it, except that it gives way to a quit: once the grace
// after one is spent, what cannot be written without waiting is dropped (and counted as written).
// A real write error gives -1 with errno, or the count written before it.
ssize_t writeOut(Output& o, const char* data, size_t size)
{
    size_t done = 0;
    bool roomSeen = false;
    while (done < size) {
        if (o.way == Way::Polled && !roomSeen) {
            if (!outputReady(o))
                return ssize_t(size);
            roomSeen = true;
        }
        const ssize_t n = putSome(o, data + done, size - done);
        if (n > 0) {
            done += size_t(n);
            roomSeen = false;
            o.stalled.store(0);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            roomSeen = false;
            continue;
        }
        // Not written: waited out, never taken for written.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (roomSeen)
                o.stalled.store(1);
            if (!outputReady(o))
                return ssize_t(size);
            roomSeen = true;
            continue;
        }
        if (n == 0)
            errno = EIO;
        return done ? ssize_t(done) : -1;
    }
    return ssize_t(size);
}

ssize_t writeGuarded(void* cookie, const char* data, size_t size)
{
    return writeOut(*static_cast<Output*>(cookie), data, size);
}

// Chooses how the output is written; a pipe or terminal is reopened through /proc so that it
// gets an open file of its own (O_NOCTTY: a terminal never becomes the controlling one).
void chooseWay(Output& o)
{
    struct stat st;
    if (fstat(o.fd, &st) != 0)
        return;
    if (S_ISREG(st.st_mode)) {
        o.way = Way::Through;
        return;
    }
    if (S_ISSOCK(st.st_mode)) {
        o.way = Way::Socket;
        return;
    }
    if (!S_ISFIFO(st.st_mode) && !(S_ISCHR(st.st_mode) && isatty(o.fd) == 1))
        return;
    char path[32];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", o.fd);
    int own = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (own >= 0 && own <= STDERR_FILENO) {
        // A closed standard descriptor must stay closed, not become this one.
        const int moved = fcntl(own, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(own);
        own = moved;
    }
    if (own < 0)
        return;
    struct stat same;
    if (fstat(own, &same) != 0 || same.st_dev != st.st_dev || same.st_ino != st.st_ino) {
        close(own);
        return;
    }
    o.fd = own;
    o.way = Way::Own;
}

// Swaps the C runtime's stream for one written through the guard, buffered as the runtime
// buffers it: standard output by line on a terminal, else in blocks; standard error not at all.
bool guardStream(Output& o, FILE*& standard)
{
    chooseWay(o);
    cookie_io_functions_t io = {nullptr, writeGuarded, nullptr, nullptr};
    FILE* stream = fopencookie(&o, "w", io);
    if (!stream)
        return false;
    int mode = _IONBF;
    size_t size = 0;
    if (&o == &outputs[0]) {
        const bool terminal = isatty(STDOUT_FILENO) == 1;
        mode = terminal ? _IOLBF : _IOFBF;
        size = terminal ? BUFSIZ : 64 * 1024;
    }
    if (setvbuf(stream, nullptr, mode, size) != 0) {
        fclose(stream);
        return false;
    }
    fflush(standard);
    o.stream = stream;
    standard = stream;
    return true;
}
}

bool consoleIsTerminal(FILE* out)
{
    for (const Output& o : outputs)
        if (out == o.stream)
            return isatty(standardFdOf(o)) == 1;
    const int fd = fileno(out);
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
    if (outputs[0].stream)
        return true;
    // Best effort: standard error unguarded still writes as it always has.
    if (!outputs[1].stream)
        guardStream(outputs[1], stderr);
    return guardStream(outputs[0], stdout);
}

bool waitForOutputRoom()
{
    Output& o = outputs[0];
    return o.way == Way::Through || outputReady(o);
}

void writeOutputIfReady(const char* text, u64 length)
{
    Output& o = outputs[0];
    const int saved = errno;
    if (o.way == Way::Polled) {
        // Short texts only: a pipe takes up to PIPE_BUF bytes whole into a free slot.
        struct pollfd p = {o.fd, POLLOUT, 0};
        if (length > PIPE_BUF || poll(&p, 1, 0) <= 0) {
            errno = saved;
            return;
        }
    }
    // One attempt: a second could wait for the rest.
    ssize_t n;
    while ((n = putSome(o, text, size_t(length))) < 0 && errno == EINTR) {
    }
    if (n > 0)
        o.stalled.store(0);
    errno = saved;
}

void writeStandardText(int standardFd, const char* text, u64 length)
{
    const int saved = errno;
    writeOut(outputFor(standardFd), text, size_t(length));
    errno = saved;
}
