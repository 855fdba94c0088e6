#pragma once
#include "framework/core/Heap.h"

#include <cstring>

// Growable list of object pointers (capacity 8 at first, doubling). An owning array destroys
// its elements with memDelete, which reaches a virtual destructor where the type has one.
template <typename T>
class PtrArray
{
public:
    T** items = nullptr;
    u64* aux = nullptr;
    u32 capacity = 0;
    u32 count = 0;
    u8 owns = 0;

    PtrArray() { init(); }
    explicit PtrArray(bool owning)
    {
        init();
        owns = owning ? 1 : 0;
    }
    // Storage comes with the first push: tables of many mostly empty lists start this way.
    struct NoStorage
    {
    };
    explicit PtrArray(NoStorage) {}
    PtrArray(const PtrArray&) = delete;
    PtrArray& operator=(const PtrArray&) = delete;
    ~PtrArray() { destroy(); }

    void init()
    {
        capacity = 8;
        count = 0;
        owns = 0;
        items = static_cast<T**>(allocZeroed(sizeof(T*) * capacity));
        aux = static_cast<u64*>(allocZeroed(sizeof(u64) * capacity));
        if (!items || !aux) {
            memFree(items);
            memFree(aux);
            items = nullptr;
            aux = nullptr;
            capacity = 0;
        }
    }

    T* push(T* p)
    {
        if (count == capacity && !grow())
            return nullptr;
        items[count] = p;
        aux[count] = 0;
        count++;
        return p;
    }

    bool grow()
    {
        u32 newCap = capacity ? capacity * 2 : 8;
        if (newCap <= capacity)
            return false;
        T** newItems = static_cast<T**>(allocZeroed(u64(sizeof(T*)) * newCap));
        u64* newAux = static_cast<u64*>(allocZeroed(u64(sizeof(u64)) * newCap));
        if (!newItems || !newAux) {
            memFree(newItems);
            memFree(newAux);
            return false;
        }
        if (count) {
            memcpy(newItems, items, sizeof(T*) * count);
            memcpy(newAux, aux, sizeof(u64) * count);
        }
        memFree(items);
        memFree(aux);
        items = newItems;
        aux = newAux;
        capacity = newCap;
        return true;
    }

    // Destroys every element in index order.
    void clear()
    {
        for (u32 i = 0; i < count; i++) {
            memDelete(items[i]);
            items[i] = nullptr;
            aux[i] = 0;
        }
        count = 0;
    }

    // Forgets the elements without destroying them.
    void reset()
    {
        for (u32 i = 0; i < count; i++) {
            items[i] = nullptr;
            aux[i] = 0;
        }
        count = 0;
    }

    void destroy()
    {
        if (owns)
            clear();
        memFree(items);
        memFree(aux);
        items = nullptr;
        aux = nullptr;
        capacity = 0;
        count = 0;
    }

    T* operator[](u32 i) const { return items[i]; }
    T** begin() const { return items; }
    T** end() const { return items + count; }
};
