#pragma once
#include "framework/core/String.h"

// How placing one directory or file of a tree ended.
enum class PlaceStatus : u8
{
    Done,
    Link,       // a symbolic link stands where a directory or the file goes: nothing went through it
    NotRegular, // a FIFO, socket, device or directory stands where the file goes: never opened
    InputFile,  // the file there is the input being read (same device and inode): never replaced
    Failed,     // `error` says why
};

// ".mdx-", six letters or digits and the terminator.
constexpr u32 TEMP_NAME_SIZE = 12;

struct PlaceResult
{
    PlaceStatus status = PlaceStatus::Done;
    int error = 0;
    // The chosen directory of a tree that could not be made: how many bytes of its path name the
    // directory that failed (itself or one on its way), as typed; 0 for anything else.
    u64 unmadeLength = 0;
    // A temporary file that could not be removed after a failure (empty: none), in the
    // directory of the path written.
    char leftBehind[TEMP_NAME_SIZE] = {};
    bool ok() const { return status == PlaceStatus::Done; }
};

// The part of `path` below the directory `root` (without the slashes between), when the path
// starts with it; null otherwise. Allocates nothing, so a failed allocation cannot turn a path
// into another one.
const char* pathBelowRoot(const char* path, const String& root);

// True for the errors of a full descriptor table (the process's limit or the system's).
bool descriptorsExhausted(int error);

// Writes a tree of files below a chosen directory, and nothing anywhere else:
// - every directory below the root is made and entered by handle, never through a symbolic link;
// - every file is created exclusively under a temporary name in its own directory, written and
//   renamed over its final name, so a file already there (hard-linked or not) is replaced and
//   never written into, and a run killed at any moment leaves the old file or the whole new one;
// - the temporary name is recorded for the hard exit of a second quit signal before the file
//   exists, so no moment leaves it behind;
// - nothing is opened where something other than a regular file stands, and the input file
//   (by any name that reaches it) is never replaced.
// The handles of the directories it has entered stay open for the next files, as many as the
// process's descriptor limit leaves room for; they are given back when an open finds the table
// full, and the open is tried again.
class TreeWriter
{
public:
    TreeWriter() = default;
    ~TreeWriter();
    TreeWriter(const TreeWriter&) = delete;
    TreeWriter& operator=(const TreeWriter&) = delete;

    // Paths that start with `root` are placed below it (the root itself is taken as the user
    // named it, links and all); any other path below the working directory, or below "/".
    // The file at `input` (empty: none) is never replaced.
    void begin(const String& root, const String& input);
    // Closes the directories kept open and forgets the root.
    void end();

    // Makes the directory and those above it.
    PlaceResult makeDirectory(const String& path);
    // Writes the bytes as the file at path (its directories made first). Nothing of a failed
    // write is left behind, and whatever stood at the name before is still there.
    PlaceResult writeFile(const String& path, const u8* data, u64 size);

private:
    String root;                    // as given
    const char* baseName = nullptr; // the directory paths are placed below: root, "." or "/"
    int baseFd = -1;
    // Handles of the directories below it met so far, by relative path (entries often take turns
    // between a few hundred folders); emptied when `openLimit` are held.
    struct OpenDirectory
    {
        char* path = nullptr;
        int fd = -1;
    };
    static constexpr u32 OPEN_DIRECTORIES = 512;
    OpenDirectory* directories = nullptr;
    u32 openCount = 0;
    u32 openLimit = OPEN_DIRECTORIES / 2;
    bool hasInput = false;
    u64 inputDevice = 0;
    u64 inputInode = 0;

    // The directory of the first n bytes of `relative` below `base`: a handle owned by the cache,
    // or minus the error number.
    int enter(const char* base, const char* relative, u64 n);
    int openBase(const char* base);
    int openBelow(int top, char* key);
    // Closes the cached handles but `keep` (-1: all of them).
    void closeDirectories(int keep = -1);
    u32 slotOf(const char* relative, u64 n) const;
    void forget();
    const char* splitBelowRoot(const char* path, const char*& base) const;
};

// Errors after which no later write can be expected to succeed either: the disk or quota is
// full, the file-size limit is reached, the device failed or is read-only.
bool storageExhausted(int error);

// True when both paths name one existing file (same device and inode).
bool sameFile(const String& a, const String& b);

// Judges a file written to its temporary name (its path given), before it takes its final name:
// false keeps it from taking it.
typedef bool (*WrittenCheck)(void* context, const String& writtenPath);
// What replaceFileDurably gives when the check refused the file.
constexpr int PLACE_REFUSED = -1;

// How replaceFileDurably ended, besides its result: the temporary file that could not be removed
// after a failure (empty: none).
struct DurableWrite
{
    String leftBehind;
};

// Replaces the file at path with the bytes, whole or not at all: they go to a temporary file in
// its directory, reach the disk, are judged by the check (when there is one), and take the name
// by a rename that is itself synced. 0, PLACE_REFUSED, or the error number of the step that
// failed (ECANCELED when a quit signal came first); no temporary file is left behind (unless it
// could not be removed: `how` names it), and a file of that name from before stays unless the new
// one took its place.
int replaceFileDurably(const String& path, const u8* data, u64 size, WrittenCheck check = nullptr,
                       void* context = nullptr, DurableWrite* how = nullptr);
