#include "framework/io/DirectoryTree.h"
#include "framework/vfs/Package.h"
#include "framework/vfs/SubStream.h"
#include "fuzz/FuzzTargets.h"

#include <cstring>

namespace
{
const u8* input = nullptr;
u32 inputSize = 0;

ByteArray* loadInput(PackageSource*)
{
    return memNew<ByteArray>(input, inputSize);
}

InternalPackage inputRecord = {"fuzz", loadInput, nullptr};

// Every entry the table gives reads the same through readFile and through a stream.
void walk(Package& pkg)
{
    if (!pkg.load())
        return;
    DirectoryTree tree;
    pkg.listDirectories(&tree);
    for (PackageEntry* e : pkg.entries) {
        if (u64(e->offset) + e->storedSize > inputSize)
            fuzzFailure("an entry lies outside the package");
        if (!pkg.exists(e->name))
            fuzzFailure("an entry cannot be found by its name");
        ByteArray* bytes = pkg.readFile(e->name);
        Stream* s = pkg.openFile(e->name);
        if ((bytes == nullptr) != (s == nullptr))
            fuzzFailure("readFile and openFile disagree");
        if (bytes && s) {
            // The first entry of a name is the one both find.
            ByteArray streamed(bytes->count);
            u64 n = s->readInto(streamed, 0, streamed.count);
            if (n != bytes->count || (n && memcmp(streamed.data, bytes->data, size_t(n)) != 0))
                fuzzFailure("a stream reads other bytes than readFile");
            if (s->readU8() != 0 || !s->atEnd())
                fuzzFailure("a stream reads past its entry");
        }
        memDelete(s);
        memDelete(bytes);
    }
}
}

// The input is a package file; it is read without a key and with its first three bytes as one.
void fuzzPackage(const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    input = data;
    inputSize = u32(size);
    {
        Package pkg(memNew<PackageSource>(&inputRecord, String("fuzz"), true));
        walk(pkg);
    }
    if (size >= 3) {
        ByteArray key(data, 3u);
        Package pkg(memNew<PackageSource>(&inputRecord, String("fuzz"), true), key);
        walk(pkg);
    }
}
