// The tool with one allocation, file write, sync to disk or directory listing made to fail, for
// the tests that walk every such failure point of a run. MORDAX_FAULT="alloc:N", "write:N",
// "sync:N" or "list:N" fails the Nth one counted by the tool's work (0 fails none); the counts of
// the run go to standard error at the end. MORDAX_UNPACKED_FLOOR=BYTES sets the floor of the budget of unpacked bytes,
// so that a test can reach it whatever the machine's memory.
#include "framework/app/Frame.h"
#include "framework/core/Faults.h"
#include "tool/MORDAX.h"
#include "tool/containers/Driver.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace
{
std::atomic<bool> armed{false};
std::atomic<u64> counts[5];
std::thread::id workThread;
FaultKind failKind = FaultKind::Allocation;
u64 failAt = 0;

bool onOperation(FaultKind kind)
{
    // Only the tool's own work counts: the framework's threads (the VFS scanning the working
    // directory) would make the numbering differ from run to run.
    if (!armed.load() || std::this_thread::get_id() != workThread)
        return false;
    const u64 n = counts[int(kind)].fetch_add(1) + 1;
    return kind == failKind && n == failAt;
}

class FaultToolApp : public ArchiveToolApp
{
public:
    bool update() override
    {
        workThread = std::this_thread::get_id();
        armed.store(true);
        const bool more = ArchiveToolApp::update();
        armed.store(false);
        return more;
    }
};

Application* createFaultToolApplication()
{
    return newApplication<FaultToolApp>();
}
}

int main(int argc, char** argv)
{
    if (const char* plan = getenv("MORDAX_FAULT")) {
        failKind = strncmp(plan, "write:", 6) == 0  ? FaultKind::Write
                   : strncmp(plan, "sync:", 5) == 0 ? FaultKind::Sync
                   : strncmp(plan, "list:", 5) == 0 ? FaultKind::Listing
                                                     : FaultKind::Allocation;
        const char* number = strchr(plan, ':');
        failAt = number ? strtoull(number + 1, nullptr, 10) : 0;
    }
    if (const char* floor = getenv("MORDAX_UNPACKED_FLOOR"))
        setUnpackedFloor(strtoull(floor, nullptr, 10));
    setFaultHook(onOperation);
    FrameSetup setup = {" - MORDAX v" MORDAX_VERSION " - game archive tool, by the MORDAX developers\n",
                        createFaultToolApplication};
    const int status = runFramework(argc, argv, setup);
    fprintf(stderr, "fault points: alloc %llu write %llu list %llu sync %llu\n", (unsigned long long)counts[0].load(),
            (unsigned long long)counts[1].load(), (unsigned long long)counts[int(FaultKind::Listing)].load(),
            (unsigned long long)counts[int(FaultKind::Sync)].load());
    return status;
}
