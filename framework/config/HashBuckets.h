#pragma once
#include "framework/config/HashedName.h"
#include "framework/core/PtrArray.h"

#include <cstring>

// A fixed table of buckets indexed by hash & mask. T derives from HashedName; items keep the
// order in which they were added to their bucket.
// A table costs nothing until its first item, and then one block; a bucket is made when it is
// first used, and a bit per bucket says which are, so that clearing, freeing and walking a table
// of 1024 buckets touch only the few a configuration section fills.
template <typename T>
class HashBuckets
{
public:
    typedef PtrArray<T> Bucket;

    Bucket* buckets = nullptr; // made at the first add; only the buckets marked used are valid
    u64* used = nullptr;       // one bit per bucket, in the same block
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
        count = n;
        owns = 1;
        mask = n - 1;
        return true;
    }

    T* findByName(const String& lowerName) const
    {
        if (!buckets)
            return nullptr;
        const u32 b = hashString(lowerName.c_str(), u32(lowerName.length)) & mask;
        if (!isUsed(b))
            return nullptr;
        const Bucket& bucket = buckets[b];
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
        if (!count || !item || (!buckets && !allocate()))
            return false;
        const u32 b = static_cast<const HashedName*>(item)->hash & mask;
        if (!isUsed(b)) {
            new (&buckets[b]) Bucket(typename Bucket::NoStorage());
            used[b >> 6] |= u64(1) << (b & 63);
        }
        return buckets[b].push(item) != nullptr;
    }

    // Every item, bucket by bucket in index order, each bucket in the order of its items.
    template <typename Visit>
    void forEach(Visit visit) const
    {
        forEachUsed([&](u32 b) {
            const Bucket& bucket = buckets[b];
            for (u32 i = 0; i < bucket.count; i++)
                visit(bucket.items[i]);
        });
    }

    void clearDeleting()
    {
        forEachUsed([this](u32 b) { buckets[b].clear(); });
    }

    void destroy()
    {
        if (owns && buckets) {
            forEachUsed([this](u32 b) { buckets[b].~Bucket(); });
            memFree(used);
        }
        buckets = nullptr;
        used = nullptr;
        count = 0;
        byteSize = 0;
        mask = 0;
    }

private:
    u32 bitWords() const { return (count + 63) / 64; }
    bool isUsed(u32 b) const { return (used[b >> 6] >> (b & 63)) & 1; }

    bool allocate()
    {
        const u64 bitBytes = u64(bitWords()) * sizeof(u64);
        const u64 bytes = bitBytes + u64(count) * sizeof(Bucket);
        u8* block = static_cast<u8*>(memAlloc(bytes));
        if (!block)
            return false;
        memset(block, 0, size_t(bitBytes));
        used = reinterpret_cast<u64*>(block);
        buckets = reinterpret_cast<Bucket*>(block + bitBytes);
        byteSize = bytes;
        return true;
    }

    template <typename Visit>
    void forEachUsed(Visit visit) const
    {
        if (!buckets)
            return;
        for (u32 w = 0; w < bitWords(); w++)
            for (u64 bits = used[w]; bits; bits &= bits - 1)
                visit(w * 64 + u32(__builtin_ctzll(bits)));
    }
};
