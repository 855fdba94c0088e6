#include "tool/containers/EntryIndex.h"
#include "framework/core/Hash.h"
#include "framework/core/TextUtils.h"
#include "framework/io/DirectoryTree.h"
#include "framework/io/FileStream.h"
#include "tool/ToolOptions.h"
#include "tool/containers/EntryPath.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{
u32 hashKey(const String& key, bool fold)
{
    // FNV-1a over the bytes (ASCII letters folded when asked).
    u32 h = 2166136261u;
    for (u64 i = 0; i < key.length; i++) {
        const u8 c = u8(key.data[i]);
        h = (h ^ (fold ? asciiLower(c) : c)) * 16777619u;
    }
    return h;
}

bool keysEqual(const String& a, const String& b, bool fold)
{
    return fold ? a.equalsNoCase(b) : a.equals(b);
}

// A set of names with hashed lookup, for the names taken while the index is built. It holds
// pointers to names that live elsewhere (the entries' own) or that it was given to keep.
class NameSet
{
public:
    explicit NameSet(u32 expected)
    {
        size = 64;
        while (size < expected * 2 + 64)
            size *= 2;
        keys = static_cast<const String**>(allocZeroed(u64(size) * sizeof(String*)));
    }
    ~NameSet()
    {
        for (String* k : kept)
            memDelete(k);
        memFree(keys);
    }
    NameSet(const NameSet&) = delete;
    NameSet& operator=(const NameSet&) = delete;

    bool ok() const { return keys != nullptr && !failed; }
    bool contains(const String& name) const
    {
        if (!keys)
            return false;
        for (u32 i = hashKey(name, false) & (size - 1);; i = (i + 1) & (size - 1)) {
            if (!keys[i])
                return false;
            if (keys[i]->equals(name))
                return true;
        }
    }
    // The name must outlive the set.
    void add(const String& name)
    {
        if (!ok() || contains(name))
            return;
        if ((used + 1) * 2 > size && !grow())
            return;
        place(&name);
    }
    // A copy is kept.
    void addCopy(const String& name)
    {
        if (!ok() || contains(name))
            return;
        String* copy = memNew<String>(name);
        if (!copy || !kept.push(copy)) {
            memDelete(copy);
            failed = true;
            return;
        }
        add(*copy);
    }

private:
    const String** keys = nullptr;
    PtrArray<String> kept{false};
    u32 size = 0;
    u32 used = 0;
    bool failed = false;

    void place(const String* key)
    {
        u32 i = hashKey(*key, false) & (size - 1);
        while (keys[i])
            i = (i + 1) & (size - 1);
        keys[i] = key;
        used++;
    }
    bool grow()
    {
        const String** old = keys;
        const u32 oldSize = size;
        keys = static_cast<const String**>(allocZeroed(u64(size) * 2 * sizeof(String*)));
        if (!keys) {
            keys = old;
            failed = true;
            return false;
        }
        size *= 2;
        used = 0;
        for (u32 i = 0; i < oldSize; i++)
            if (old[i])
                place(old[i]);
        memFree(old);
        return true;
    }
};

// Every folder above a path ("A", "A/B" for "A/B/C.BIN").
void addParents(NameSet& set, const String& path)
{
    for (u64 i = 0; i < path.length; i++)
        if (path.data[i] == '/')
            set.addCopy(path.left(i));
}

// One file or folder of a repack's tree, in scan order.
struct WalkItem
{
    enum Kind : u8
    {
        FILE,
        OPEN,  // a folder; its contents follow up to its CLOSE
        CLOSE,
    };
    Kind kind;
    u8 matched = 0; // 1 exact, 2 without regard to case
    u8 delegated = 0;
    u8 ours = 0; // a file the tool writes besides the entries (a gap file): passed over
    u32 indent;
    u32 close = 0; // OPEN: the position of its CLOSE
    u32 parent = 0; // 1 + the position of the folder it is in (0: the top)
    EntryIndex::Match match = {};
    const String* name;
    String relative;
    String full;
};

// Appends an item of the given kind; null when memory ran out.
WalkItem* addItem(PtrArray<WalkItem>& items, WalkItem::Kind kind, u32 indent, const String& name, u32 parent)
{
    WalkItem* item = memNew<WalkItem>();
    if (!item || !items.push(item)) {
        memDelete(item);
        return nullptr;
    }
    item->kind = kind;
    item->indent = indent;
    item->name = &name;
    item->parent = parent;
    return item;
}

// Appends the tree's files and folders in scan order; false when memory ran out. What a repack
// must not pass over in silence is named on the way and clears `whole`: a folder it could not
// read, and anything that is neither a file nor a folder (a symbolic link is never followed).
bool collect(const DirectoryTree& tree, const String& full, const String& relative, u32 indent,
             PtrArray<WalkItem>& items, bool& whole, u32 parent = 0)
{
    if (!tree.complete) {
        // A folder that a link (or anything else) took the place of after it was listed.
        if (tree.error == ELOOP || tree.error == ENOTDIR)
            reportNotFollowed(full);
        else if (tree.error)
            reportSystemCause("read directory", full, tree.error);
        else
            printError("ERROR: Couldn't read directory '%s'!\n", full.c_str());
        whole = false;
    }
    for (const StringPair* other : tree.others) {
        reportNotFollowed(other->path);
        whole = false;
    }
    for (StringPair* f : tree.files) {
        WalkItem* item = addItem(items, WalkItem::FILE, indent, f->name, parent);
        if (!item)
            return false;
        item->relative = joinPath(relative, f->name);
        item->full = f->path;
    }
    for (DirectoryTree* d : tree.directories) {
        WalkItem* open = addItem(items, WalkItem::OPEN, indent, d->name, parent);
        if (!open)
            return false;
        const u32 at = items.count - 1;
        open->relative = joinPath(relative, d->name);
        open->full = joinPath(full, d->name);
        if (!collect(*d, open->full, open->relative, indent + 1, items, whole, at + 1))
            return false;
        if (!addItem(items, WalkItem::CLOSE, indent, d->name, parent))
            return false;
        items[at]->close = items.count - 1;
    }
    return true;
}

constexpr u32 FORM_BITS = 2;
// The fourth value of a lookup's form bits: the gap file a nested classic TRE writes beside its
// folder, which is the tool's own and stands for no entry.
constexpr u32 FORM_GAP = 3;
}

String withCollisionSuffix(const String& path, u32 n)
{
    const i64 slash = path.lastIndexOf('/');
    const i64 dot = path.lastIndexOf('.');
    const String suffix = String::format("~%u", n);
    if (dot > slash + 1)
        return path.left(u64(dot)) + suffix + path.from(u64(dot));
    return path + suffix;
}

EntryIndex::~EntryIndex()
{
    clear();
}

void EntryIndex::clear()
{
    for (u32 i = 0; entries && i < count; i++)
        entries[i].~Entry();
    memFree(entries);
    memFree(exact);
    memFree(folded);
    entries = nullptr;
    exact = folded = nullptr;
    count = tableSize = 0;
    reservedName = String();
}

const String& EntryIndex::path(u32 position) const
{
    return entries[position].path;
}

EntryForm EntryIndex::form(u32 position) const
{
    return entries[position].form;
}

const String& EntryIndex::keyOf(u32 value) const
{
    const Entry& e = entries[(value - 1) >> FORM_BITS];
    switch ((value - 1) & 3) {
    case FORM_DOCUMENT:
        return e.diskName();
    case FORM_GAP:
        return e.gapName;
    default:
        return e.path;
    }
}

bool EntryIndex::insert(u32* table, const String& key, bool fold, u32 value)
{
    u32 i = hashKey(key, fold) & (tableSize - 1);
    for (u32 probes = 0; table[i]; probes++) {
        if (probes >= tableSize)
            return false;
        i = (i + 1) & (tableSize - 1);
    }
    table[i] = value;
    return true;
}

template <typename Each>
void EntryIndex::eachValue(const u32* table, const String& key, bool fold, Each each) const
{
    for (u32 i = hashKey(key, fold) & (tableSize - 1); table[i]; i = (i + 1) & (tableSize - 1))
        if (keysEqual(keyOf(table[i]), key, fold) && each(table[i]))
            return;
}

bool EntryIndex::build(const Rows& rows, u32 n, const char* reserved)
{
    clear();
    const ToolOptions& opt = toolOptions();
    entries = static_cast<Entry*>(allocZeroed(u64(n ? n : 1) * sizeof(Entry)));
    u32* order = static_cast<u32*>(memAlloc(u64(n ? n : 1) * sizeof(u32)));
    if (!entries || !order) {
        memFree(order);
        clear();
        return false;
    }
    count = n;
    for (u32 i = 0; i < n; i++)
        new (&entries[i]) Entry();

    // Names made safe; the folders they need.
    NameSet folders(n);
    for (u32 i = 0; i < n; i++) {
        const EntryIndexRow row = rows.row(i);
        entries[i].tableIndex = row.tableIndex;
        entries[i].nested = row.nested;
        entries[i].path = safeEntryPath(row.name, row.tableIndex);
        addParents(folders, entries[i].path);
        const Container* nested = opt.noRecurse ? nullptr : row.nested;
        if (!nested)
            entries[i].form = FORM_FILE;
        else
            entries[i].form = isArchiveType(nested->typeCode) ? FORM_DIRECTORY : FORM_DOCUMENT;
        order[i] = i;
    }
    // The lookups hold one name an entry, two for a document or a folder; at most half full.
    u64 names = n;
    for (u32 i = 0; i < n; i++)
        names += (entries[i].form == FORM_FILE ? 0 : 1) + (writesGap(entries[i]) ? 1 : 0);
    tableSize = 64;
    while (tableSize < names * 2 + 64)
        tableSize *= 2;
    exact = static_cast<u32*>(allocZeroed(u64(tableSize) * sizeof(u32)));
    folded = static_cast<u32*>(allocZeroed(u64(tableSize) * sizeof(u32)));
    if (!exact || !folded) {
        memFree(order);
        clear();
        return false;
    }
    // Table order decides who keeps a name: positions sorted by table index (stable).
    for (u32 i = 1; i < n; i++) {
        const u32 v = order[i];
        u32 j = i;
        for (; j > 0 && entries[order[j - 1]].tableIndex > entries[v].tableIndex; j--)
            order[j] = order[j - 1];
        order[j] = v;
    }

    NameSet taken(n * 2);
    if (reserved) {
        reservedName = reserved;
        taken.add(reservedName);
    }
    // The gap files beside nested classic TREs' folders come before any entry's name: an entry
    // whose name one of them needs yields, whatever the table order.
    for (u32 i = 0; i < n; i++)
        if (writesGap(entries[i]))
            taken.addCopy(entries[i].path + GAP_SUFFIX);
    for (u32 k = 0; k < n; k++) {
        const u32 i = order[k];
        Entry& e = entries[i];
        const String base = e.path;
        const Container* nested = opt.noRecurse ? nullptr : e.nested;
        for (u32 tilde = 0;; tilde++) {
            const String candidate = tilde ? withCollisionSuffix(base, tilde) : base;
            const String claimed = e.form == FORM_DOCUMENT ? nested->extractedName(candidate) : candidate;
            // A folder other entries need is theirs: no entry of its own may take its name.
            bool free = !taken.contains(candidate) && !taken.contains(claimed) && !folders.contains(candidate) &&
                        !folders.contains(claimed);
            if (free && writesGap(e)) {
                // Its gap file needs a free name too (its first choice was reserved above).
                const String gapName = candidate + GAP_SUFFIX;
                free = !folders.contains(gapName) && (tilde == 0 || !taken.contains(gapName));
            }
            if (free || !taken.ok() || !folders.ok()) {
                e.path = candidate;
                // A document's name on disk; empty when it is the path itself.
                if (!claimed.equals(candidate))
                    e.claimed = claimed;
                break;
            }
        }
        taken.add(e.path);
        taken.add(e.diskName());
        const u32 value = (i << FORM_BITS) + 1;
        if (writesGap(e)) {
            e.gapName = e.path + GAP_SUFFIX;
            taken.add(e.gapName);
            if (!insert(exact, e.gapName, false, value + FORM_GAP)) {
                memFree(order);
                clear();
                return false;
            }
        }
        bool stored = insert(exact, e.diskName(), false, value + e.form) &&
                      insert(folded, e.diskName(), true, value + e.form);
        // An archive handed back as one file, or a document as its raw bytes, goes by the
        // entry's own path.
        if (e.form == FORM_DIRECTORY || !e.claimed.isEmpty())
            stored = stored && insert(exact, e.path, false, value + FORM_FILE) &&
                     insert(folded, e.path, true, value + FORM_FILE);
        if (!stored) {
            memFree(order);
            clear();
            return false;
        }
    }
    memFree(order);
    if (!taken.ok() || !folders.ok() || memAllocationFailed()) {
        clear();
        return false;
    }
    return true;
}

bool EntryIndex::Visitor::enter(const String&, const String&, const String& name, u32 indent)
{
    if (toolOptions().verbosity >= 1) {
        printMarker('<', indent);
        printf(" [%s]\n", name.c_str());
    }
    return true;
}

bool EntryIndex::Visitor::leave(const String&, bool ok)
{
    return ok;
}

void EntryIndex::Visitor::missing(const String& relativePath, const String&)
{
    printError("ERROR: File '%s' not found in container!\n", relativePath.c_str());
}

bool EntryIndex::repack(const String& directory, Visitor& visitor, u32 indent) const
{
    DirectoryTree tree;
    scanRepackFolder(directory, tree);
    if (memAllocationFailed())
        return false;
    return walk(tree, directory, visitor, indent);
}

bool EntryIndex::walk(const DirectoryTree& tree, const String& directory, Visitor& visitor, u32 indent) const
{
    const ToolOptions& opt = toolOptions();
    PtrArray<WalkItem> items(true);
    // Per entry: the exact matches that count (none below a folder standing for a nested
    // archive), and 1 + the item that took it (0: none has).
    u32* hits = static_cast<u32*>(allocZeroed(u64(count ? count : 1) * sizeof(u32)));
    u32* owner = static_cast<u32*>(allocZeroed(u64(count ? count : 1) * sizeof(u32)));
    bool whole = true;
    if (!hits || !owner || !collect(tree, directory, String(), indent, items, whole) || memAllocationFailed() ||
        !whole) {
        memFree(hits);
        memFree(owner);
        return false;
    }
    // Exact matches first, all of them: no match without regard to case may take their entries.
    for (WalkItem* item : items) {
        if (item->kind == WalkItem::CLOSE)
            continue;
        const bool isFolder = item->kind == WalkItem::OPEN;
        eachValue(exact, item->relative, false, [&](u32 value) -> bool {
            const u32 form = (value - 1) & 3;
            if (form == FORM_GAP) {
                item->ours = !isFolder;
                return item->ours;
            }
            if (isFolder != (form == FORM_DIRECTORY))
                return false;
            item->matched = 1;
            item->match = {(value - 1) >> FORM_BITS, EntryForm(form)};
            return true;
        });
        // No entry takes the reserved name, so a file of that name matched none.
        if (!isFolder && !reservedName.isEmpty() && item->relative.equals(reservedName))
            item->ours = 1;
        if (item->matched)
            hits[item->match.position]++;
    }
    // Folders: one that stands for a nested archive hides what lies below it. Without an exact
    // match a folder stands for one only when nothing below it matched this archive exactly.
    for (u32 k = 0; k < items.count; k++) {
        WalkItem* item = items[k];
        if (item->kind != WalkItem::OPEN)
            continue;
        if (!item->matched) {
            bool below = false;
            for (u32 j = k + 1; j < item->close && !below; j++)
                below = items[j]->matched == 1;
            if (!below) {
                eachValue(folded, item->relative, true, [&](u32 value) {
                    const u32 position = (value - 1) >> FORM_BITS;
                    if (((value - 1) & 3) != FORM_DIRECTORY || owner[position] || hits[position])
                        return false;
                    item->matched = 2;
                    item->match = {position, FORM_DIRECTORY};
                    owner[position] = k + 1;
                    return true;
                });
            }
        }
        if (item->matched) {
            item->delegated = 1;
            for (u32 j = k + 1; j < item->close; j++) {
                if (items[j]->matched == 1)
                    hits[items[j]->match.position]--;
                items[j]->matched = 0;
                items[j]->ours = 0;
            }
            k = item->close;
        }
    }
    // Both forms of one entry (its raw bytes and its converted file) cannot both be laid over it:
    // the tool cannot know which one was edited.
    bool refused = false;
    for (u32 k = 0; k < items.count; k++) {
        WalkItem* item = items[k];
        if (item->delegated && item->matched == 2) {
            k = item->close;
            continue;
        }
        if (item->matched != 1)
            continue;
        u32& first = owner[item->match.position];
        if (!first) {
            first = k + 1;
        } else {
            printError("ERROR: Both '%s' and '%s' stand for one entry; keep only the one you edited!\n",
                       items[first - 1]->full.c_str(), item->full.c_str());
            refused = true;
        }
        if (item->delegated)
            k = item->close;
    }
    // Then the files left, in scan order, onto entries nothing has taken.
    for (u32 k = 0; k < items.count; k++) {
        WalkItem* item = items[k];
        if (item->delegated) {
            k = item->close;
            continue;
        }
        if (item->kind != WalkItem::FILE || item->matched || item->ours)
            continue;
        eachValue(folded, item->relative, true, [&](u32 value) {
            const u32 position = (value - 1) >> FORM_BITS;
            const u32 form = (value - 1) & 3;
            if (form == FORM_DIRECTORY || owner[position])
                return false;
            item->matched = 2;
            item->match = {position, EntryForm(form)};
            owner[position] = k + 1;
            return true;
        });
        // A file with no entry: without -a every one is named, and nothing is written.
        if (!item->matched && !opt.addNewFiles) {
            visitor.missing(item->relative, item->full);
            refused = true;
        }
    }
    memFree(hits);
    memFree(owner);
    if (refused)
        return false;

    // The visits, in scan order; a failure closes the folders it is in, innermost first.
    u32 inside = 0; // 1 + the position of the folder entered last and not yet left (0: none)
    bool ok = true;
    for (u32 k = 0; k < items.count && ok; k++) {
        // A quit signal stops the walk between visits; its one line says all there is to say.
        if (interrupted())
            return false;
        WalkItem* item = items[k];
        switch (item->kind) {
        case WalkItem::FILE:
            if (item->ours)
                break;
            if (item->matched) {
                ok = visitor.file(item->relative, item->full, *item->name, item->match, item->indent);
            } else if (!visitor.add(item->relative, item->full, *item->name, item->indent)) {
                // Refused (its line is printed): the others are still looked at, but nothing is written.
                refused = true;
            }
            break;
        case WalkItem::OPEN:
            if (item->delegated) {
                ok = visitor.child(item->relative, item->full, *item->name, item->match, item->indent);
                k = item->close;
            } else {
                ok = visitor.enter(item->relative, item->full, *item->name, item->indent);
                if (ok)
                    inside = k + 1;
            }
            break;
        case WalkItem::CLOSE:
            inside = item->parent;
            ok = visitor.leave(*item->name, true);
            break;
        }
    }
    for (; !ok && inside; inside = items[inside - 1]->parent)
        visitor.leave(*items[inside - 1]->name, false);
    return ok && !refused;
}
