#include "framework/platform/FileMapping.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Older C libraries lack the name; the kernel answers EINVAL where it lacks the call.
#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

namespace
{
// A live mapping, found by the SIGBUS handler without a lock: `start` is stored last, once the
// rest can be read, and cleared first.
struct Mapping
{
    std::atomic<u8> taken{0};
    std::atomic<u8*> start{nullptr};
    u64 length = 0;
    // Kept open to see, when asked, whether the file shrank or was written since.
    int fd = -1;
    timespec modified{};
    std::atomic<u8> lost{0};
};
// A run maps its one archive; beyond these slots a file is read instead.
constexpr u32 MAPPING_SLOTS = 8;
Mapping mappings[MAPPING_SLOTS];
std::atomic<u8> guarded{0};
std::atomic<uintptr_t> pageSize{0};

Mapping* mappingAt(const void* data)
{
    for (Mapping& m : mappings)
        if (data && m.start.load() == data)
            return &m;
    return nullptr;
}

void unmapSlot(Mapping& m, void* data, u64 length)
{
    m.start.store(nullptr);
    munmap(data, size_t(length));
    close(m.fd);
    m.fd = -1;
    m.taken.store(0);
}

void releaseMapping(void* data, u64 length)
{
    Mapping* m = mappingAt(data);
    if (m)
        unmapSlot(*m, data, length);
    else
        munmap(data, size_t(length));
}
}

void guardMappedFiles()
{
    pageSize.store(uintptr_t(sysconf(_SC_PAGESIZE)));
    guarded.store(1);
}

ByteArray* mapFileBytes(int fd, const FileStamp& stamp, bool& memoryFailed)
{
    const u64 size = stamp.size;
    memoryFailed = false;
    if (!guarded.load() || size == 0 || size > SIZE_MAX)
        return nullptr;
    Mapping* slot = nullptr;
    for (Mapping& m : mappings)
        if (!m.taken.exchange(1)) {
            slot = &m;
            break;
        }
    if (!slot)
        return nullptr;
    ByteArray* bytes = memNew<ByteArray>();
    slot->fd = bytes ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    void* at = MAP_FAILED;
    if (slot->fd >= 0)
        at = mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (at == MAP_FAILED) {
        if (slot->fd >= 0)
            close(slot->fd);
        slot->fd = -1;
        slot->taken.store(0);
        memoryFailed = !bytes;
        memDelete(bytes);
        return nullptr;
    }
    slot->length = size;
    slot->modified.tv_sec = time_t(stamp.seconds);
    slot->modified.tv_nsec = long(stamp.nanoseconds);
    slot->lost.store(0);
    // Guarded before any page is touched: the file may have shrunk already.
    slot->start.store(static_cast<u8*>(at));
    // Every page read in by one call rather than faulted in one by one. A page that cannot be had
    // (the file shrank since its size was taken, a read error) leaves the file to be read, which
    // reports it as a read always did; a system too old for this faults pages in as they come.
    if (madvise(at, size_t(size), MADV_POPULATE_READ) != 0) {
        if (errno != EINVAL) {
            unmapSlot(*slot, at, size);
            memDelete(bytes);
            return nullptr;
        }
        madvise(at, size_t(size), MADV_WILLNEED);
    }
    bytes->data = static_cast<u8*>(at);
    bytes->count = u32(size);
    bytes->byteSize = size;
    bytes->owned = true;
    bytes->release = releaseMapping;
    return bytes;
}

bool mappedFileChanged(const ByteArray* bytes)
{
    Mapping* m = bytes && bytes->release == releaseMapping ? mappingAt(bytes->data) : nullptr;
    if (!m)
        return false;
    if (m->lost.load())
        return true;
    struct stat st;
    if (fstat(m->fd, &st) != 0)
        return true;
    return u64(st.st_size) < m->length || st.st_mtim.tv_sec != m->modified.tv_sec ||
           st.st_mtim.tv_nsec != m->modified.tv_nsec;
}

bool coverLostMappedPages(void* address)
{
    const uintptr_t at = uintptr_t(address);
    const uintptr_t page = pageSize.load();
    if (!page)
        return false;
    for (Mapping& m : mappings) {
        u8* start = m.start.load();
        if (!start)
            continue;
        const uintptr_t begin = uintptr_t(start);
        const uintptr_t end = begin + uintptr_t(m.length);
        if (at < begin || at >= end)
            continue;
        const uintptr_t from = at & ~(page - 1);
        const uintptr_t to = (end + page - 1) & ~(page - 1);
        // The system call itself: the library's wrapper is not promised safe in a handler.
        if (syscall(SYS_mmap, from, to - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == -1)
            return false;
        m.lost.store(1);
        return true;
    }
    return false;
}
