// A small application run by the frame tests in a child process. The first argument picks what
// it does; the second, when given, is its configuration text.
#include "framework/app/Application.h"
#include "framework/app/Frame.h"
#include "framework/app/ProcessUtils.h"
#include "framework/log/Log.h"
#include "framework/platform/Signals.h"
#include "framework/threads/Thread.h"
#include "framework/threads/JobSystem.h"
#include "framework/vfs/VFS.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <thread>

// Outside the anonymous namespace on purpose (see callPure).
struct PureBase;
void callPure(PureBase* object);

struct PureBase
{
    PureBase() { callPure(this); }
    virtual ~PureBase() = default;
    virtual void pure() = 0;
};

struct PureDerived : PureBase
{
    void pure() override {}
};

// The barrier hides the object from the optimiser, and the classes have external linkage so it
// cannot prove which overrides exist: the call really goes through the base's vtable.
__attribute__((noinline)) void callPure(PureBase* object)
{
    asm volatile("" : "+r"(object));
    object->pure();
}

namespace
{
volatile int neverNegative = 1;

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    if (neverNegative < 0)
        return 0;
    return recurse(depth + 1) + frame[0];
}

// Overflows its own 128 KiB stack.
class OverflowingThread : public Thread
{
public:
    OverflowingThread() : Thread("Overflowing") {}
    bool onStart() override { return true; }
    bool step() override
    {
        printf("%d\n", recurse(0));
        return false;
    }
    void onStop() override {}
};

// Crashes while the crash handler reports the first crash.
void crashOnFatal(u8 level, const char*, const char*)
{
    if (level == LOG_FATAL) {
        volatile uintptr_t address = 16;
        *reinterpret_cast<volatile int*>(address) = 1;
    }
}
LogListener crashingListener = {crashOnFatal, nullptr};

void say(const char* text)
{
    printf("%s\n", text);
    fflush(stdout);
}

class FrameTestApp : public Application
{
public:
    FrameTestApp() : Application(String("FrameTestApp")) {}
    ~FrameTestApp() override { say("app destroyed"); }

    bool init(const String& commandLine) override
    {
        printf("init [%s]\n", commandLine.c_str());
        fflush(stdout);
        mode = getArgumentCount() > 0 ? getArgument(0) : "";
        if (!strcmp(mode, "args")) {
            for (u32 i = 0; i < getArgumentCount(); ++i)
                printf("arg %u [%s]\n", i, getArgument(i));
        }
        if (!strcmp(mode, "levels"))
            printf("console %u file %u threshold %u\n", consoleLogLevel, fileLogLevel, waitJobThreshold_uS);
        if (!strcmp(mode, "affinity")) {
            cpu_set_t set;
            CPU_ZERO(&set);
            sched_getaffinity(0, sizeof(set), &set);
            printf("count %u pinned", getCpuCount());
            for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
                if (CPU_ISSET(cpu, &set))
                    printf(" %d", cpu);
            printf("\n");
        }
        if (!strcmp(mode, "services")) {
            vfs = memNew<VFS>();
            VFSSettings settings;
            vfs->start(settings);
            JobSettings jobSettings;
            initJobSystem(jobSettings);
        }
        if (!strcmp(mode, "log")) {
            logDebug("Test", "debug line");
            logInfo("Test", "info line");
            logWarn("Test", "warn line");
            logError("Test", "error line");
        }
        return strcmp(mode, "failinit") != 0;
    }

    void onShutdown(bool failed) override { printf("onShutdown %d\n", failed ? 1 : 0); }

    bool update() override
    {
        ++updates;
        if (!strcmp(mode, "segv")) {
            volatile uintptr_t address = 8;
            *reinterpret_cast<volatile int*>(address) = 1;
        } else if (!strcmp(mode, "doublecrash")) {
            logListeners = &crashingListener;
            abort();
        } else if (!strcmp(mode, "pipe")) {
            // Goes on writing after the reader has gone.
            for (int i = 0; i < 20000; ++i)
                printf("line %d\n", i);
            fflush(stdout);
            say("still here");
        } else if (!strcmp(mode, "abort")) {
            abort();
        } else if (!strcmp(mode, "pure")) {
            PureDerived d;
        } else if (!strcmp(mode, "overflow")) {
            printf("%d\n", recurse(0));
        } else if (!strcmp(mode, "threadoverflow")) {
            OverflowingThread* thread = memNew<OverflowingThread>();
            thread->start();
            std::this_thread::sleep_for(std::chrono::seconds(10));
        } else if (!strcmp(mode, "stubborn")) {
            // Writes a file it records as removable, then ignores the first quit signal.
            FILE* f = fopen("half-written", "wb");
            fputs("partial", f);
            fclose(f);
            recordRemovableFile(REMOVABLE_TEMPORARY, "half-written");
            say("update started");
            std::this_thread::sleep_for(std::chrono::seconds(10));
        } else if (!strcmp(mode, "loop")) {
            if (updates == 1)
                say("running");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return updates < 4000;
        } else if (!strcmp(mode, "longupdate")) {
            say("update started");
            // Work that goes on until the quit signal has come in.
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            while (!quitRequested.load() || std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            say("update finished");
            return true;
        } else if (!strcmp(mode, "failrun")) {
            setRunFailed();
        }
        return false;
    }

    bool loadConfigText(String& out) override
    {
        if (getArgumentCount() < 2)
            return false;
        out = getArgument(1);
        return true;
    }

    void storeConfigText(const String& text) override { printf("storeConfigText [%s]\n", text.c_str()); }

private:
    const char* mode = "";
    int updates = 0;
};

// "noapp" plays an application whose allocation failed.
Application* makeTestApp()
{
    if (getArgumentCount() > 0 && !strcmp(getArgument(0), "noapp"))
        return nullptr;
    return newApplication<FrameTestApp>();
}
}

int main(int argc, char** argv)
{
    FrameSetup setup = {" - FrameTestApp\n", makeTestApp};
    return runFramework(argc, argv, setup);
}
