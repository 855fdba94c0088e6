#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/core/Types.h"

// One file met by a scan: its name alone and the full path as the scan built it ("/" separators).
struct StringPair
{
    String name;
    String path;
};

// Decides which entries a scan keeps and which directories it reads.
class DirectoryFilter
{
public:
    virtual ~DirectoryFilter() = default;
    // False drops the entry (for a directory, everything below it too).
    virtual bool accept(const String& directoryPath, const String& name, bool isDirectory) = 0;
    // Asked before a directory is read; false leaves its node empty. Defined here so that the
    // class has no key function: code built with run-time type information (the tests) can
    // derive from it although the library is built without.
    virtual bool enterDirectory(u32 /*level*/, u32 /*depth*/) { return true; }
    // Asked while one directory is read, with the entries read from it so far; false ends that
    // listing early (a scan that is being cancelled or has met its budget).
    virtual bool keepListing(u32 /*listed*/) { return true; }
};

// Keeps every file and every directory except ".svn", ".vs" and "QX_DEBUG" (exact names).
class SkipVcsFilter : public DirectoryFilter
{
public:
    bool accept(const String& directoryPath, const String& name, bool isDirectory) override;
    static SkipVcsFilter instance;
};

// A directory of the host file system read into memory. Entries are regular files and
// directories, each list in NTFS name order; anything else met (a symbolic link, FIFO, device or
// socket) is never followed and is listed apart, for callers that must not pass it over.
class DirectoryTree
{
public:
    String name; // empty for the root
    PtrArray<DirectoryTree> directories;
    PtrArray<StringPair> files;
    PtrArray<StringPair> others{PtrArray<StringPair>::NoStorage()};
    u32 level = 0;
    bool complete = true; // false when this directory could not be opened or read to its end
    int error = 0;        // then the system's error number

    DirectoryTree();
    DirectoryTree(const DirectoryTree&) = delete;
    DirectoryTree& operator=(const DirectoryTree&) = delete;
    ~DirectoryTree();

    // A new root scanned from `path` with the default filter; the caller deletes it (memDelete).
    static DirectoryTree* createAndScan(const String& path);

    // Fills this node from the directory `path`. A missing or unreadable directory gives no
    // entries and no message, only `complete` cleared. A trailing "/" or "\" on the path is
    // accepted.
    void scan(const String& path, u32 depth, DirectoryFilter* filter);
    // The same for the folder open as `folderFd`, whose path `path` is only named: every folder
    // below it is opened beneath the handle without following a link at any step (one replaced
    // by a link while the scan runs is not read: ELOOP), so a tree of any depth is read however
    // long its full paths.
    void scanBeneath(int folderFd, const String& path, DirectoryFilter* filter);
    // Appends a file entry for `fullPath` ('\' read as '/'); always true.
    bool addFile(const String& fullPath);
    // The child named after the last "/" of `name`, appended when there is none yet.
    DirectoryTree* addPath(const String& name);
    // Frees both lists and everything below them, then the name.
    void destroy();

private:
    void walk(const String& path, u32 depth, DirectoryFilter* filter, int folderFd);
    DirectoryTree* findChild(const char* childName, u64 length, u32 limit) const;
};
