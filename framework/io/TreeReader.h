#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/String.h"
#include "framework/io/DirectoryTree.h"
#include "framework/platform/FileOps.h"

// Reads files below a chosen directory and nothing outside it: each one is opened beneath the
// directory's own handle without following a symbolic link at any step of its path, so a folder
// on the way that someone replaced by a link after the directory was listed leads nowhere.
class TreeReader
{
public:
    TreeReader() = default;
    ~TreeReader();
    TreeReader(const TreeReader&) = delete;
    TreeReader& operator=(const TreeReader&) = delete;

    // The directory is taken as the user named it (a link to it is followed). 0, or the error
    // number when it cannot be opened (paths below it then fail with that error).
    int begin(const String& root);
    void end();

    // The whole file at path. A path below the root is read beneath it; any other one as
    // readWholeFile reads it. On failure `why` and `error` say why; for ReadFailure::Link,
    // `link` names the first link on the path.
    ByteArray* readFile(const String& path, ReadFailure& why, int& error, String& link) const;
    // The folder at path scanned into tree: below the root beneath its handle (no link followed
    // at any step, no full path formed); any other one as DirectoryTree::scan reads it.
    void scan(const String& path, DirectoryTree& tree) const;

private:
    String root;
    int rootFd = -1;
    int rootError = 0;
    bool active = false;
};
