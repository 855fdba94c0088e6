#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/Types.h"

// Why readFileWhole gave nothing.
enum class ReadFailure : u8
{
    None,
    Missing,   // cannot be opened
    NotRegular, // a directory, FIFO, device or socket (never waited on)
    Link,      // a symbolic link (never followed)
    TooLarge,  // 4 GiB or more
    Short,     // could not be read whole
    Memory,
};
// The whole regular file in a new array, in one open, one status call and one read; null with
// the reason otherwise (and the system's error number into *error, 0 when it gave none). A
// symbolic link at path is not followed.
ByteArray* readFileWhole(const char* path, ReadFailure& failure, int* error = nullptr);
// The same bytes, mapped read-only instead of copied where that is safe (FileMapping.h), read
// otherwise; the same failures. The bytes must never be written.
ByteArray* mapFileWhole(const char* path, ReadFailure& failure, int* error = nullptr);
// The same for the file `relative` ("A/B.BIN") below the directory `dirFd`, opened beneath it
// without following a symbolic link at any step of the path: a link anywhere on it is
// ReadFailure::Link, and *linkLength then says how much of `relative` names the first link.
ByteArray* readFileBeneath(int dirFd, const char* relative, ReadFailure& failure, int* error = nullptr,
                           u64* linkLength = nullptr);

// Creates or truncates the file and writes the bytes. 0 on success; otherwise the error number
// of the step that failed (the open, a write or the close), and the file is removed, so a failed
// write never leaves a short file behind. A quit signal stops the write with ECANCELED.
int writeFileWhole(const char* path, const u8* data, u64 size);

// Two names with equal identities name one file.
struct FileIdentity
{
    u64 device = 0;
    u64 inode = 0;
    bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};
// The identity of the file at path, links followed; false when nothing is there.
bool identifyFile(const char* path, FileIdentity& id);

enum class EntryKind : u8
{
    Missing,
    Regular,
    Directory,
    Link,
    Other, // a FIFO, socket or device
};
// What stands at `name` in the directory `dirFd`, a link not followed; its identity into *id.
EntryKind entryKindAt(int dirFd, const char* name, FileIdentity* id);

// The directory at `path` (links in it followed: the user named it); a handle, or minus the
// error number.
int openDirectory(const char* path);
// The directory `name` inside `dirFd`, made when missing, never through a symbolic link
// (-ELOOP when one is there); a handle, or minus the error number.
int enterDirectoryAt(int dirFd, const char* name);
// The existing directory `relative` ("A/B"; "" for `dirFd` itself) below `dirFd`, refusing any
// symbolic link on the way (-ELOOP) and any "." or ".." of its own making; a handle, or minus the
// error number. Resolved in one step where the system can, else folder by folder.
int openDirectoryBeneath(int dirFd, const char* relative);
void closeHandle(int fd);

// Creates the file `name` in `dirFd`, failing when anything (a link included) is there already;
// a handle, or minus the error number.
int createFileAt(int dirFd, const char* name);
// Every byte, or the error number of the write that failed (ECANCELED after a quit signal).
// With early, the disk starts on each chunk at once, so a later sync finds little left to do.
int writeAllTo(int fd, const u8* data, u64 size, bool early);
// Flushes the file's data to disk; 0 or the error number (none for a file that cannot be synced,
// such as a pipe). Safe on any thread.
int syncFile(int fd);
// Closes the file (the close reports what it alone can: NFS, quotas); 0 or the error number.
int finishFile(int fd);
int renameAt(int dirFd, const char* from, const char* to);
// The same, but only onto a name that is free: EEXIST when something is there (ENOSYS where the
// file system cannot tell).
int renameAtIfFree(int dirFd, const char* from, const char* to);
// 0, or the error number when the name is still there.
int removeAt(int dirFd, const char* name);
// The directory's own entries (a rename in it) reach the disk; 0 or the error number.
int syncDirectory(int dirFd);
// Bits for names nobody else will pick.
u64 randomBits();
// The most descriptors the process may hold at once (its soft limit).
u64 descriptorLimit();

// Errors after which no later write can be expected to succeed either (the disk is full, the
// file-size limit is reached, the device failed).
bool isStorageExhausted(int error);

bool removeFile(const char* path);
