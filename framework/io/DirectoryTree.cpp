#include "framework/io/DirectoryTree.h"
#include "framework/platform/Directory.h"

#include <cerrno>
#include <cstring>

SkipVcsFilter SkipVcsFilter::instance;

bool SkipVcsFilter::accept(const String&, const String& name, bool isDirectory)
{
    if (!isDirectory)
        return true;
    return !(name.equals(".svn") || name.equals(".vs") || name.equals("QX_DEBUG"));
}

namespace
{
// A directory being read: the walk keeps these on a heap stack rather than recursing, so a
// deep tree cannot exhaust a thread's stack.
struct ScanFrame
{
    DirectoryTree* node = nullptr;
    String directory;
    String relative; // below the scan's folder handle, when it has one
    PtrArray<DirectoryEntry> entries{true};
    u32 next = 0;
    u32 existingChildren = 0; // children the node had before this scan
};

bool askFilter(void* filter, u32 listed)
{
    return static_cast<DirectoryFilter*>(filter)->keepListing(listed);
}

// A scan reads its folders by their paths, or with a folder's handle (baseFd) beneath it by their
// paths below it, so that no path longer than the system resolves is ever formed for it.
void openFrame(PtrArray<ScanFrame>& stack, DirectoryTree* node, const String& directory, const char* openPath,
               const String& relative, u32 depth, DirectoryFilter* filter, int baseFd, bool root)
{
    if (filter && !filter->enterDirectory(node->level, depth))
        return;
    ScanFrame* frame = memNew<ScanFrame>();
    if (!frame)
        return;
    frame->node = node;
    frame->directory = directory;
    frame->relative = relative;
    frame->existingChildren = node->directories.count;
    const ListingCheck check = filter ? askFilter : nullptr;
    node->complete = baseFd >= 0
                         ? listDirectoryBeneath(baseFd, relative.c_str(), frame->entries, check, filter, &node->error)
                         : listDirectory(openPath, root, frame->entries, check, filter, &node->error);
    if (!stack.push(frame))
        memDelete(frame);
}

String joined(const String& directory, const char* name, u64 length)
{
    String path(directory);
    if (!path.isEmpty())
        path.append("/", 1);
    path.append(name, length);
    return path;
}
}

DirectoryTree::DirectoryTree() = default;

DirectoryTree::~DirectoryTree()
{
    destroy();
}

DirectoryTree* DirectoryTree::createAndScan(const String& path)
{
    DirectoryTree* root = memNew<DirectoryTree>();
    if (root)
        root->scan(path, 0, &SkipVcsFilter::instance);
    return root;
}

void DirectoryTree::scan(const String& path, u32 depth, DirectoryFilter* filter)
{
    walk(path, depth, filter, -1);
}

void DirectoryTree::scanBeneath(int folderFd, const String& path, DirectoryFilter* filter)
{
    if (folderFd < 0) {
        complete = false;
        error = EBADF;
        return;
    }
    walk(path, 0, filter, folderFd);
}

void DirectoryTree::walk(const String& path, u32 depth, DirectoryFilter* filter, int folderFd)
{
    String directory(path);
    directory.replaceChar('\\', '/');
    bool rooted = directory.length > 0 && directory[0] == '/';
    if (directory.length > 0 && directory[directory.length - 1] == '/')
        directory.keepRange(0, directory.length - 1);
    // "/" keeps meaning the file system's root once its slash is gone.
    const char* openPath = directory.isEmpty() && rooted ? "/" : directory.c_str();

    PtrArray<ScanFrame> stack(true);
    openFrame(stack, this, directory, openPath, String(), depth, filter, folderFd, true);
    while (stack.count) {
        ScanFrame* frame = stack.items[stack.count - 1];
        if (frame->next >= frame->entries.count) {
            stack.items[--stack.count] = nullptr;
            memDelete(frame);
            continue;
        }
        const DirectoryEntry* entry = frame->entries.items[frame->next++];
        String entryName(entry->name, entry->length);
        String fullPath(frame->directory);
        fullPath.append("/", 1);
        fullPath.append(entry->name, entry->length);
        // Beneath a handle a folder is opened by its path below it, never by the full one.
        const String relative = folderFd >= 0 && entry->isDirectory && !entry->isOther
                                    ? joined(frame->relative, entry->name, entry->length)
                                    : String();
        if (entry->isOther) {
            StringPair* pair = memNew<StringPair>();
            if (pair) {
                pair->name = entryName;
                pair->path = fullPath;
                if (!frame->node->others.push(pair))
                    memDelete(pair);
            }
            continue;
        }
        if (filter && !filter->accept(frame->directory, entryName, entry->isDirectory))
            continue;
        if (!entry->isDirectory) {
            frame->node->addFile(fullPath);
            continue;
        }
        DirectoryTree* node = frame->node;
        DirectoryTree* child = node->findChild(entry->name, entry->length, frame->existingChildren);
        if (!child) {
            child = memNew<DirectoryTree>();
            if (!child)
                continue;
            child->name = entryName;
            child->level = node->level + 1;
            if (!node->directories.push(child)) {
                memDelete(child);
                continue;
            }
        }
        openFrame(stack, child, fullPath, fullPath.c_str(), relative, 1, filter, folderFd, false);
    }
}

bool DirectoryTree::addFile(const String& fullPath)
{
    StringPair* pair = memNew<StringPair>();
    if (!pair)
        return true;
    pair->path = fullPath;
    pair->path.replaceChar('\\', '/');
    i64 slash = pair->path.lastIndexOf('/');
    pair->name = slash < 0 ? pair->path : pair->path.from(u64(slash) + 1);
    if (!files.push(pair))
        memDelete(pair);
    return true;
}

DirectoryTree* DirectoryTree::findChild(const char* childName, u64 length, u32 limit) const
{
    for (u32 i = 0; i < limit && i < directories.count; i++) {
        const String& n = directories.items[i]->name;
        if (n.length == length && (length == 0 || memcmp(n.data, childName, length) == 0))
            return directories.items[i];
    }
    return nullptr;
}

DirectoryTree* DirectoryTree::addPath(const String& pathName)
{
    i64 slash = pathName.lastIndexOf('/');
    String childName = slash < 0 ? pathName : pathName.from(u64(slash) + 1);
    if (DirectoryTree* found = findChild(childName.c_str(), childName.length, directories.count))
        return found;
    DirectoryTree* child = memNew<DirectoryTree>();
    if (!child)
        return nullptr;
    child->name = childName;
    child->level = level + 1;
    if (!directories.push(child)) {
        memDelete(child);
        return nullptr;
    }
    return child;
}

void DirectoryTree::destroy()
{
    files.clear();
    files.destroy();
    others.clear();
    others.destroy();
    // Children are taken apart from a heap list, never by recursion: a tree as deep as the
    // file system allows must not exhaust the stack.
    PtrArray<DirectoryTree> pending;
    for (u32 i = 0; i < directories.count; i++) {
        if (!pending.push(directories.items[i]))
            memDelete(directories.items[i]);
    }
    directories.reset();
    directories.destroy();
    while (pending.count) {
        DirectoryTree* node = pending.items[--pending.count];
        pending.items[pending.count] = nullptr;
        for (u32 i = 0; i < node->directories.count; i++) {
            if (!pending.push(node->directories.items[i]))
                memDelete(node->directories.items[i]);
        }
        node->directories.reset();
        memDelete(node);
    }
    name.free();
}
