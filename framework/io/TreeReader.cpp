#include "framework/io/TreeReader.h"
#include "framework/io/FileStream.h"
#include "framework/io/TreeWriter.h"


TreeReader::~TreeReader()
{
    end();
}

int TreeReader::begin(const String& directory)
{
    end();
    root = directory;
    active = true;
    rootFd = openDirectory(directory.c_str());
    rootError = rootFd < 0 ? -rootFd : 0;
    return rootError;
}

void TreeReader::end()
{
    closeHandle(rootFd);
    rootFd = -1;
    rootError = 0;
    active = false;
    root = String();
}

void TreeReader::scan(const String& path, DirectoryTree& tree) const
{
    const char* below = active ? pathBelowRoot(path.c_str(), root) : nullptr;
    if (!below) {
        tree.scan(path, 0, nullptr);
        return;
    }
    if (rootFd < 0) {
        tree.complete = false;
        tree.error = rootError;
        return;
    }
    // The folder is opened beneath the root first (the root itself too); the scan goes on beneath it.
    const int fd = openDirectoryBeneath(rootFd, below);
    if (fd < 0) {
        tree.complete = false;
        tree.error = -fd;
        return;
    }
    tree.scanBeneath(fd, path, nullptr);
    closeHandle(fd);
}

ByteArray* TreeReader::readFile(const String& path, ReadFailure& why, int& error, String& link) const
{
    why = ReadFailure::None;
    error = 0;
    const char* below = active ? pathBelowRoot(path.c_str(), root) : nullptr;
    if (!below || !*below)
        return readWholeFile(path, &why, &error);
    if (rootFd < 0) {
        why = ReadFailure::Missing;
        error = rootError;
        return nullptr;
    }
    u64 linkLength = 0;
    ByteArray* bytes = readFileBeneath(rootFd, below, why, &error, &linkLength);
    if (!bytes && why == ReadFailure::Link)
        link = path.left(u64(below - path.c_str()) + linkLength);
    return bytes;
}
