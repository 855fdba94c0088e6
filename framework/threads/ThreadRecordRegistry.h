#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"
#include "framework/platform/CriticalSection.h"

// One thread's record: its lock, a stack of memory blocks and two lists.
struct ThreadRecord
{
    CriticalSection lock;
    PtrArray<u8> blocks;
    PtrArray<u8> listA;
    PtrArray<u8> listB;

    ~ThreadRecord();
};

// Per-thread records, one for each thread that asks for one. Nothing in this program creates
// the registry; every thread's end hook still frees the calling thread's record.
class ThreadRecordRegistry
{
public:
    CriticalSection lock;
    CriticalSection poolLock;
    PtrArray<ThreadRecord> records;

    ThreadRecordRegistry() = default;
    ~ThreadRecordRegistry();
    ThreadRecordRegistry(const ThreadRecordRegistry&) = delete;
    ThreadRecordRegistry& operator=(const ThreadRecordRegistry&) = delete;

    // The process's registry; null unless created.
    static ThreadRecordRegistry* instance();
    static ThreadRecordRegistry* create();
    // Frees every record left (the calling thread's included) and the registry. Every other
    // thread with a record has ended by then.
    static void destroy();

    // The calling thread's record, made on first use; null without a registry.
    static ThreadRecord* current();
    // The thread-end hook: frees the calling thread's record, when it has one.
    static void onThreadExit();
};
