#pragma once
#include "framework/core/String.h"

// Fixed-size array of Strings, made by the split functions; elements start empty.
// Destroying it destroys each element, then the block.
class StringArray
{
public:
    String* items = nullptr;
    u32 count = 0;
    u64 byteSize = 0;
    u8 owns = 1;

    explicit StringArray(u32 count);
    ~StringArray();
    StringArray(const StringArray&) = delete;
    StringArray& operator=(const StringArray&) = delete;

    String& operator[](u32 i) { return items[i]; }
    const String& operator[](u32 i) const { return items[i]; }
    String* begin() const { return items; }
    String* end() const { return items + count; }
};
