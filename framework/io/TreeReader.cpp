#include "framework/io/TreeReader.h"
#include "framework/io/FileStream.h"

#include <cerrno>
#include <cstring>

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

ByteArray* TreeReader::readFile(const String& path, ReadFailure& why, int& error, String& link) const
{
    why = ReadFailure::None;
    error = 0;
    const u64 n = root.length;
    const char* p = path.c_str();
    const bool below = active && n && strncmp(p, root.c_str(), n) == 0 &&
                       (root[n - 1] == '/' || p[n] == '/');
    if (!below)
        return readWholeFile(path, &why, &error);
    if (rootFd < 0) {
        why = ReadFailure::Missing;
        error = rootError;
        return nullptr;
    }
    u64 start = n;
    while (p[start] == '/')
        start++;
    u64 linkLength = 0;
    ByteArray* bytes = readFileBeneath(rootFd, p + start, why, &error, &linkLength);
    if (!bytes && why == ReadFailure::Link)
        link = path.left(start + linkLength);
    return bytes;
}
