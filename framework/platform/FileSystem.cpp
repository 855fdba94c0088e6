#include "framework/platform/FileSystem.h"

#include <cerrno>
#include <sys/stat.h>

PathKind getPathKind(const char* path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return PathKind::Missing;
    if (S_ISREG(st.st_mode))
        return PathKind::Regular;
    if (S_ISDIR(st.st_mode))
        return PathKind::Directory;
    return PathKind::Other;
}

bool isRegularFile(FILE* file)
{
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
}

bool createDirectory(const char* path)
{
    if (mkdir(path, 0777) == 0)
        return true;
    return errno == EEXIST;
}
