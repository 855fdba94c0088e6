#include "framework/platform/Signals.h"
#include "framework/log/Log.h"
#include "framework/platform/Console.h"
#include "framework/platform/FileMapping.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
std::atomic<u8>* quitFlagTarget = nullptr;
std::atomic<u32> quitSignals{0};
std::atomic<u8> interruptReported{0};

// Paths the hard exit removes: written before their flag is raised, read only while it is.
constexpr size_t REMOVABLE_PATH_SIZE = 4096;
char removablePaths[2][REMOVABLE_PATH_SIZE];
int removableDirectories[2] = {AT_FDCWD, AT_FDCWD};
std::atomic<u8> removableSet[2];
std::atomic<u8> crashGuard{0};
std::atomic<u8> pureCallRouted{0};
void* faultAddress = nullptr;

// Big enough for the logger's formatting on top of the handler's own frames (sanitizer builds
// use far more stack than plain ones).
constexpr size_t CRASH_STACK_SIZE = 256 * 1024;
alignas(16) char crashStack[CRASH_STACK_SIZE];

// Seconds a crash report may take before the process ends anyway: a lock held by a thread that
// will never run again must not turn a crash into a hang.
constexpr unsigned CRASH_REPORT_TIMEOUT = 10;
// Once a quit signal has come in, the report gets no more than this: the quit ends the run
// within a second, crash or not.
constexpr unsigned QUIT_REPORT_TIMEOUT = 1;

const char* crashMessage(int code)
{
    switch (code) {
    case SIGILL:
        return "An illegal instruction was invoked!";
    case SIGFPE:
        return "A floating-point error (divide-by-zero?) has occurred!";
    case SIGSEGV:
    case SIGBUS:
        return "An access violation has occurred!";
    case SIGABRT:
        return "Program aborted!";
    case CRASH_PURE_CALL:
        return "Pure virtual function call!";
    default:
        return "An unknown exception has occurred!";
    }
}

const char* crashName(int code)
{
    switch (code) {
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGABRT:
        return "SIGABRT";
    case CRASH_PURE_CALL:
        return "pure virtual call";
    default:
        return "unknown";
    }
}

void writeAll(int fd, const char* text, size_t n)
{
    // Standard output and error are written under the console's guard, never blocking past a quit.
    if (fd == STDOUT_FILENO || fd == STDERR_FILENO) {
        writeStandardText(fd, text, n);
        return;
    }
    while (n > 0) {
        ssize_t done = write(fd, text, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return;
        text += done;
        n -= size_t(done);
    }
}

void writeText(int fd, const char* text)
{
    writeAll(fd, text, strlen(text));
}

// A text dump of our own: what went wrong, where, and the call stack.
void writeCrashDump(int code)
{
    // Not blocking: a FIFO in its place, read by nobody, must not hold the report.
    int fd = open("crash.mdmp", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return;
    char line[160];
    snprintf(line, sizeof(line), "Crash dump\nsignal: %d (%s)\nmessage: %s\naddress: %p\nbacktrace:\n", code,
             crashName(code), crashMessage(code), faultAddress);
    writeText(fd, line);
    void* frames[64];
    int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
    close(fd);
}

void onReportTimeout(int)
{
    _exit(1);
}

void onCrashSignal(int signal, siginfo_t* info, void*)
{
    // A page of a mapped file that shrank: it reads as zeros from now on, and the run learns
    // that the file changed instead of ending here.
    if (signal == SIGBUS && info) {
        const int saved = errno;
        const bool covered = coverLostMappedPages(info->si_addr);
        errno = saved;
        if (covered)
            return;
    }
    faultAddress = info ? info->si_addr : nullptr;
    crashHandler(signal);
}

// Async-signal-safe: unlink, a write that cannot wait, and _exit only.
[[noreturn]] void hardExit()
{
    for (int i = 0; i < 2; i++)
        if (removableSet[i].load())
            unlinkat(removableDirectories[i], removablePaths[i], 0);
    static const char line[] = "\nERROR: Interrupted!\n";
    if (!interruptReported.exchange(1))
        writeOutputIfReady(line, sizeof(line) - 1);
    _exit(1);
}

void onQuitSignal(int signal)
{
    if (quitSignals.fetch_add(1) > 0)
        hardExit();
    onConsoleCtrl(signal);
}

// A quit while a crash is reported counts as any quit (output gives way to it, a second one ends
// the process at once) and cuts the report's time short: a lock held by a thread that will never
// run again must not keep it waiting.
void onQuitWhileCrashing(int signal)
{
    alarm(QUIT_REPORT_TIMEOUT);
    onQuitSignal(signal);
}

bool setQuitHandler(void (*handler)(int))
{
    // Without SA_RESTART: a write or wait that a quit signal interrupts returns to its caller,
    // which looks at the quit, instead of being started again by the system to wait on.
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
           sigaction(SIGHUP, &action, nullptr) == 0;
}
}

extern "C" void __cxa_pure_virtual()
{
    if (pureCallRouted.load())
        onPureCall();
    static const char message[] = "pure virtual method called\n";
    writeAll(STDERR_FILENO, message, sizeof(message) - 1);
    abort();
}

void onConsoleCtrl(int signal)
{
    if ((signal == SIGINT || signal == SIGTERM || signal == SIGHUP) && quitFlagTarget)
        quitFlagTarget->exchange(1);
}

u32 quitSignalCount()
{
    return quitSignals.load();
}

void recordRemovableFile(RemovableFile slot, const char* name, int dirFd)
{
    removableSet[slot].store(0);
    size_t n = strlen(name);
    if (n >= REMOVABLE_PATH_SIZE)
        return;
    memcpy(removablePaths[slot], name, n + 1);
    removableDirectories[slot] = dirFd;
    removableSet[slot].store(1);
}

void clearRemovableFile(RemovableFile slot)
{
    removableSet[slot].store(0);
}

static_assert(sizeof(sigset_t) <= 128, "the saved mask must fit");

QuitSignalsHeld::QuitSignalsHeld()
{
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGINT);
    sigaddset(&quit, SIGTERM);
    sigaddset(&quit, SIGHUP);
    held = pthread_sigmask(SIG_BLOCK, &quit, reinterpret_cast<sigset_t*>(saved)) == 0;
}

QuitSignalsHeld::~QuitSignalsHeld()
{
    if (held)
        pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved), nullptr);
}

void reportInterruptOnce(const char* text, u64 length)
{
    // What was printed before goes first, as far as the quit lets it.
    fflush(stdout);
    waitForOutputRoom();
    // Claimed and written while quit signals wait: a second signal between the two would
    // otherwise say it again, or not at all. The write itself never waits.
    const QuitSignalsHeld held;
    if (interruptReported.exchange(1))
        return;
    writeOutputIfReady(text, length);
}

// Mapped rather than taken from malloc: a thread's first malloc gives it an arena of its own, which
// reserves 64 MiB of address space per thread and fails runs under an address-space limit.
bool installThreadCrashStack()
{
    stack_t stack = {};
    void* block = mmap(nullptr, CRASH_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return false;
    stack.ss_sp = block;
    stack.ss_size = CRASH_STACK_SIZE;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(block, CRASH_STACK_SIZE);
        return false;
    }
    return true;
}

void removeThreadCrashStack()
{
    stack_t disable = {};
    disable.ss_flags = SS_DISABLE;
    stack_t old = {};
    if (sigaltstack(&disable, &old) == 0 && old.ss_sp && old.ss_sp != crashStack)
        munmap(old.ss_sp, old.ss_size);
}

void onPureCall()
{
    crashHandler(CRASH_PURE_CALL);
}

void crashHandler(int code)
{
    if (crashGuard.exchange(1))
        _exit(1);

    struct sigaction timeout = {};
    timeout.sa_handler = onReportTimeout;
    sigemptyset(&timeout.sa_mask);
    sigaction(SIGALRM, &timeout, nullptr);
    alarm(quitSignalCount() ? QUIT_REPORT_TIMEOUT : CRASH_REPORT_TIMEOUT);
    setQuitHandler(onQuitWhileCrashing);

    logFatal("Core", "%s", crashMessage(code));
    writeCrashDump(code);
    fflush(stdout);
    writeText(STDOUT_FILENO, " -- PROGRAM TERMINATED --\n");
    _exit(1);
}

bool installQuitSignals(std::atomic<u8>* quitFlag, u32* errorCode)
{
    quitFlagTarget = quitFlag;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (!setQuitHandler(onQuitSignal) || sigaction(SIGPIPE, &ignore, nullptr) != 0 ||
        sigaction(SIGXFSZ, &ignore, nullptr) != 0) {
        if (errorCode)
            *errorCode = u32(errno);
        return false;
    }
    return true;
}

bool installCrashHandlers()
{
    // backtrace loads its unwinder on first use; do that now rather than inside a crash.
    void* frames[4];
    backtrace(frames, 4);

    stack_t stack = {};
    stack.ss_sp = crashStack;
    stack.ss_size = CRASH_STACK_SIZE;
    if (sigaltstack(&stack, nullptr) != 0)
        return false;

    struct sigaction action = {};
    action.sa_sigaction = onCrashSignal;
    // SA_NODEFER lets a crash inside the handler reach the guard instead of the default action.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    const int signals[] = {SIGILL, SIGFPE, SIGSEGV, SIGABRT, SIGBUS};
    for (int s : signals)
        if (sigaction(s, &action, nullptr) != 0)
            return false;
    guardMappedFiles();
    return true;
}

void installPureCallHandler()
{
    pureCallRouted.store(1);
}
