#include "framework/threads/ThreadRecordRegistry.h"
#include "framework/app/Frame.h"

namespace
{
ThreadRecordRegistry* registry = nullptr;
thread_local ThreadRecord* threadRecord = nullptr;

void noThreadStart()
{
}

// The one hook of the program, appended during static start-up.
ThreadHook recordHook = {noThreadStart, ThreadRecordRegistry::onThreadExit, nullptr};
struct HookRegistration
{
    HookRegistration() { addThreadHook(&recordHook); }
} hookRegistration;
}

ThreadRecord::~ThreadRecord()
{
    for (u32 i = 0; i < blocks.count; i++)
        memFree(blocks.items[i]);
    blocks.reset();
}

ThreadRecordRegistry::~ThreadRecordRegistry()
{
    ScopedLock guard(lock);
    records.clear();
}

ThreadRecordRegistry* ThreadRecordRegistry::instance()
{
    return registry;
}

ThreadRecordRegistry* ThreadRecordRegistry::create()
{
    if (!registry)
        registry = memNew<ThreadRecordRegistry>();
    return registry;
}

void ThreadRecordRegistry::destroy()
{
    ThreadRecordRegistry* r = registry;
    registry = nullptr;
    memDelete(r);
    threadRecord = nullptr;
}

ThreadRecord* ThreadRecordRegistry::current()
{
    if (threadRecord || !registry)
        return threadRecord;
    ThreadRecord* record = memNew<ThreadRecord>();
    if (!record)
        return nullptr;
    ScopedLock guard(registry->lock);
    if (!registry->records.push(record)) {
        memDelete(record);
        return nullptr;
    }
    threadRecord = record;
    return record;
}

void ThreadRecordRegistry::onThreadExit()
{
    ThreadRecord* record = threadRecord;
    if (!record)
        return;
    threadRecord = nullptr;
    if (registry) {
        ScopedLock guard(registry->lock);
        PtrArray<ThreadRecord>& list = registry->records;
        for (u32 i = 0; i < list.count; i++) {
            if (list.items[i] == record) {
                list.items[i] = list.items[--list.count];
                list.items[list.count] = nullptr;
                break;
            }
        }
    }
    memDelete(record);
}
