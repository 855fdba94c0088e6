#include "framework/core/StringArray.h"
#include "framework/core/Heap.h"

#include <new>

StringArray::StringArray(u32 n)
{
    if (n == 0)
        return;
    items = static_cast<String*>(memAlloc(u64(n) * sizeof(String)));
    if (!items)
        return;
    for (u32 i = 0; i < n; i++)
        new (&items[i]) String();
    count = n;
    byteSize = u64(n) * sizeof(String);
}

StringArray::~StringArray()
{
    for (u32 i = 0; i < count; i++)
        items[i].~String();
    memFree(items);
}
