#pragma once
#include "framework/core/Types.h"

#include <cstdio>

enum class PathKind : u8
{
    Missing,
    Regular,
    Directory,
    Other, // FIFOs, devices, sockets: reading them whole could block or never end
};

// What is at `path`, following symbolic links.
PathKind getPathKind(const char* path);
// True when the open handle refers to a regular file.
bool isRegularFile(FILE* file);
// Creates one directory. True when it was made or the name already exists, as the Windows
// call reports it (a later open of a file below a non-directory fails there instead).
bool createDirectory(const char* path);
