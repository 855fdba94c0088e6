#pragma once
#include "framework/app/ProcessUtils.h"
#include "framework/core/Heap.h"
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"

#include <cstring>

// Generational handles: a slot index and the generation that was current when it was given
// out, so a handle to a released object is recognised as stale.
struct RenderHandle
{
    u32 index;
    u32 generation;
};

// Objects of one kind owned by a render context. Release deletes every object, returns every
// slot to the free list and gives each slot a fresh generation from the thread's random
// generator, so no handle given out before matches again.
template <typename T>
class HandlePool
{
public:
    static constexpr u32 NO_INDEX = 0xFFFFFFFFu;

    T** items = nullptr;
    RenderHandle* handles = nullptr;
    u32 capacity = 0;
    u32 count = 0;
    u32* freeList = nullptr;
    u32 freeCount = 0;
    u32 freeCapacity = 0;

    HandlePool() = default;
    HandlePool(const HandlePool&) = delete;
    HandlePool& operator=(const HandlePool&) = delete;
    ~HandlePool()
    {
        release();
        memFree(items);
        memFree(handles);
        memFree(freeList);
    }

    // Takes the object; an invalid handle (index NO_INDEX) when no slot can be had.
    RenderHandle add(T* object)
    {
        u32 slot;
        if (freeCount) {
            slot = freeList[--freeCount];
        } else {
            if (capacity == used && !grow()) {
                memDelete(object);
                return RenderHandle{NO_INDEX, 0};
            }
            slot = used++;
        }
        items[slot] = object;
        handles[slot].index = slot;
        count++;
        return handles[slot];
    }

    T* get(RenderHandle h) const
    {
        if (h.index >= used || handles[h.index].index != h.index || handles[h.index].generation != h.generation)
            return nullptr;
        return items[h.index];
    }

    void release()
    {
        for (u32 i = 0; i < used; i++) {
            if (!items[i])
                continue;
            memDelete(items[i]);
            items[i] = nullptr;
            pushFree(i);
            handles[i].index = NO_INDEX;
            // A thread whose generator was never seeded gives 0 for ever; the generation must
            // move on all the same.
            u32 generation = u32(nextThreadRandom());
            handles[i].generation = generation != handles[i].generation ? generation : generation + 1;
        }
        count = 0;
    }

private:
    u32 used = 0; // slots ever handed out

    bool grow()
    {
        u32 n = capacity ? capacity * 2 : 16;
        if (n <= capacity)
            return false;
        T** newItems = static_cast<T**>(allocZeroed(u64(n) * sizeof(T*)));
        RenderHandle* newHandles = static_cast<RenderHandle*>(allocZeroed(u64(n) * sizeof(RenderHandle)));
        if (!newItems || !newHandles) {
            memFree(newItems);
            memFree(newHandles);
            return false;
        }
        if (used) {
            memcpy(newItems, items, sizeof(T*) * used);
            memcpy(newHandles, handles, sizeof(RenderHandle) * used);
        }
        memFree(items);
        memFree(handles);
        items = newItems;
        handles = newHandles;
        capacity = n;
        return true;
    }

    void pushFree(u32 slot)
    {
        if (freeCount == freeCapacity) {
            u32 n = freeCapacity ? freeCapacity * 2 : 16;
            u32* list = static_cast<u32*>(memAlloc(u64(n) * sizeof(u32)));
            if (!list)
                return;
            if (freeCount)
                memcpy(list, freeList, sizeof(u32) * freeCount);
            memFree(freeList);
            freeList = list;
            freeCapacity = n;
        }
        freeList[freeCount++] = slot;
    }
};

// Something a renderer keeps for a window (textures, buffers); only deleted here.
class RenderResource
{
public:
    virtual ~RenderResource() = default;
};

class Renderer;

// One window's drawing state: five pools of render objects and a stack of memory blocks.
class RenderContext
{
public:
    static constexpr u32 POOL_COUNT = 5;

    Renderer* renderer = nullptr;
    HandlePool<RenderResource> pools[POOL_COUNT];
    PtrArray<u8> blocks;

    virtual ~RenderContext() { freeBlocks(); }
    virtual void onRelease() {}
    // Frees what a window's user interface kept in this context.
    virtual void releaseResources(RenderResource* /*resources*/) {}

    void releasePools()
    {
        for (HandlePool<RenderResource>& pool : pools)
            pool.release();
    }
    void freeBlocks()
    {
        for (u32 i = 0; i < blocks.count; i++)
            memFree(blocks.items[i]);
        blocks.reset();
    }
};

// The drawing back end of the window manager. Nothing in this program provides one; the
// window manager only closes it.
class Renderer
{
public:
    PtrArray<RenderContext> live;
    PtrArray<RenderContext> released;

    virtual ~Renderer() = default;
    virtual void shutdown() = 0;
    // Takes the context back; the renderer deletes it.
    virtual void releaseContext(RenderContext* context) = 0;
    virtual bool activate(RenderContext* context) = 0;
    virtual void resize(u32 width, u32 height) = 0;
    virtual RenderContext* current() = 0;
    virtual void setCurrent(RenderContext* context) = 0;

    // Makes the context current; false when the renderer refuses it.
    bool makeCurrent(RenderContext* context)
    {
        if (!context || current() == context)
            return context != nullptr;
        if (!activate(context))
            return false;
        setCurrent(context);
        return true;
    }
};
