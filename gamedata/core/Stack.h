#pragma once
#include "gamedata/TamberData.h"

#include <cstring>

namespace TD
{
// Stack of object pointers (the IFF reader's open levels). Entries are library objects: clear
// destroys them and gives them back to the free hook.
template <typename T>
class Stack
{
public:
    static constexpr u32 INITIAL_CAPACITY = 256;

    u32 capacity = 0;
    T** items = nullptr;
    u32 count = 0;
    bool ownsItems = false;

    Stack()
    {
        items = static_cast<T**>(hooks.alloc(u64(INITIAL_CAPACITY) * sizeof(T*), true, "pointer", __FILE__, __LINE__));
        capacity = items ? INITIAL_CAPACITY : 0;
    }
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;
    ~Stack() { destroy(); }

    // False only when the slots could not grow; the stack is then unchanged.
    bool push(T* entry)
    {
        if (count >= capacity) {
            u32 newCapacity = capacity ? capacity * 2 : INITIAL_CAPACITY;
            if (newCapacity <= capacity)
                return false;
            u64 bytes = u64(newCapacity) * sizeof(T*);
            T** grown = static_cast<T**>(hooks.alloc(bytes, true, "pointer", __FILE__, __LINE__));
            if (!grown)
                return false;
            memset(static_cast<void*>(grown), 0, bytes);
            if (count)
                memcpy(static_cast<void*>(grown), items, u64(count) * sizeof(T*));
            if (items)
                hooks.free(items, true);
            items = grown;
            capacity = newCapacity;
        }
        items[count++] = entry;
        return true;
    }

    T* top() const { return count ? items[count - 1] : nullptr; }

    T* pop()
    {
        if (!count)
            return nullptr;
        return items[--count];
    }

    void clear()
    {
        while (count > 0) {
            count--;
            deleteObject(items[count]);
            items[count] = nullptr;
        }
    }

    void destroy()
    {
        if (ownsItems)
            clear();
        if (items)
            hooks.free(items, true);
        items = nullptr;
        capacity = 0;
        count = 0;
    }
};
}
