#pragma once
#include "framework/config/HashedName.h"
#include "framework/core/PtrArray.h"

#include <cstring>

// A fixed table of buckets indexed by hash & mask. T derives from HashedName; items keep the
// order in which they were added to their bucket.
template <typename T>
class HashBuckets
{
public:
    typedef PtrArray<T> Bucket;

    Bucket* buckets = nullptr;
    u32 count = 0;
    u64 byteSize = 0;
    u8 owns = 1;
    u32 mask = 0;

    HashBuckets() = default;
    HashBuckets(const HashBuckets&) = delete;
    HashBuckets& operator=(const HashBuckets&) = delete;
    // Frees the buckets, not the items (clearDeleting does that).
    ~HashBuckets() { destroy(); }

    // n must be a power of two (at least 1) for hash & mask to reach every bucket.
    bool create(u32 n)
    {
        destroy();
        if (n == 0 || (n & (n - 1)) != 0)
            return false;
        u64 bytes = u64(n) * sizeof(Bucket);
        buckets = static_cast<Bucket*>(memAlloc(bytes));
        if (!buckets)
            return false;
        // Empty buckets hold no storage, so a table costs one block until it is filled.
        for (u32 i = 0; i < n; i++)
            new (&buckets[i]) Bucket(typename Bucket::NoStorage());
        count = n;
        byteSize = bytes;
        owns = 1;
        mask = n - 1;
        return true;
    }

    T* findByName(const String& lowerName) const
    {
        if (!count)
            return nullptr;
        const Bucket& bucket = buckets[hashString(lowerName.c_str(), u32(lowerName.length)) & mask];
        for (u32 i = 0; i < bucket.count; i++) {
            T* item = bucket.items[i];
            // The hashed (lower-cased) name; T may hide it behind a name of its own.
            const String& n = static_cast<const HashedName*>(item)->name;
            if (n.length == lowerName.length && (n.length == 0 || memcmp(n.data, lowerName.data, n.length) == 0))
                return item;
        }
        return nullptr;
    }

    // False when the table has no buckets or the bucket cannot grow; the item is not taken.
    bool add(T* item)
    {
        if (!count || !item)
            return false;
        return buckets[static_cast<const HashedName*>(item)->hash & mask].push(item) != nullptr;
    }

    void clearDeleting()
    {
        for (u32 i = 0; i < count; i++)
            buckets[i].clear();
    }

    void destroy()
    {
        if (owns && buckets) {
            for (u32 i = 0; i < count; i++)
                buckets[i].~Bucket();
            memFree(buckets);
        }
        buckets = nullptr;
        count = 0;
        byteSize = 0;
        mask = 0;
    }
};
