#pragma once
#include "framework/core/String.h"
#include "tool/containers/Container.h"

class DirectoryTree;

// Added to a classic TRE's folder name for the file its gap data is written to.
constexpr char GAP_SUFFIX[] = ".GAP";

// What an entry becomes on disk when extracted.
enum EntryForm : u8
{
    FORM_FILE,      // its bytes, at its path
    FORM_DOCUMENT,  // a document that writes itself (converted, its name may gain a suffix)
    FORM_DIRECTORY, // a nested archive extracting itself into a folder at its path
};

// What the index is built from: one row per entry, in the container's order.
struct EntryIndexRow
{
    u32 tableIndex;   // place in the archive's own table: the first in table order keeps a name
    String name;      // the entry's name as a path: '/' separators, before it is made safe
    Container* nested; // its nested container, or none
};

// The place on disk of every entry of one archive, worked out once per run:
// - each name is made safe (safeEntryPath: nothing outside the directory; "_%03u" for none);
// - within one directory level no two entries share a name: the first in table order keeps it,
//   each later one gets "~N" before its extension, the smallest N not taken; a file in the way
//   of a folder that another entry needs gets "~N" too;
// - repack finds an entry by a file's or folder's relative path: the exact bytes first, then
//   without regard to ASCII case, and never onto an entry that another file matched exactly.
// Lookups are hashed, so extraction and repack cost the same per entry however many there are.
class EntryIndex
{
public:
    EntryIndex() = default;
    ~EntryIndex();
    EntryIndex(const EntryIndex&) = delete;
    EntryIndex& operator=(const EntryIndex&) = delete;

    // The rows of the entries, asked for one at a time (each once).
    class Rows
    {
    public:
        virtual ~Rows() = default;
        virtual EntryIndexRow row(u32 position) const = 0;
    };
    // False when memory ran out. `reserved` names a file that the archive writes at its own
    // level besides its entries (the top-level gap file), or is null. The gap file that a nested
    // classic TRE writes beside its folder ("NAME.GAP") is reserved as well, whatever the
    // options. A repack passes over these files of the tool's own without a word.
    bool build(const Rows& rows, u32 count, const char* reserved);
    // The same from a container's entries, rowOf(entry, position) giving each one's row; nothing
    // is done when the index is built already.
    template <typename Entries, typename RowOf>
    bool buildOnce(const Entries& list, RowOf rowOf, const char* reserved)
    {
        struct ListRows : Rows
        {
            const Entries& list;
            RowOf& rowOf;
            ListRows(const Entries& l, RowOf& r) : list(l), rowOf(r) {}
            EntryIndexRow row(u32 position) const override { return rowOf(*list[position], position); }
        };
        return built() || build(ListRows(list, rowOf), list.count, reserved);
    }
    bool built() const { return entries != nullptr; }
    void clear();

    // The entry's path below the archive's directory (what extract is handed), by container
    // position.
    const String& path(u32 position) const;
    EntryForm form(u32 position) const;

    // A repack's pairing of the files and folders of a directory tree with the entries.
    struct Match
    {
        u32 position; // the entry
        EntryForm as; // the form the file or folder stands for (FORM_FILE: raw bytes)
    };
    // Pairs every file and folder of the tree (relative paths from its root) with an entry:
    // exact matches first, then the others without regard to case onto entries no exact match
    // took. A folder that stands for a nested archive hides what lies below it; the tool's own
    // files (gap files) are passed over. Before anything is visited, every file that has no
    // entry (without -a) and every entry that two files stand for (its raw and its converted
    // form) is named in an error line, and then nothing is visited. The visits come in scan order
    // (files of a level, then its folders).
    class Visitor
    {
    public:
        virtual ~Visitor() = default;
        // A file laid over its entry. False stops the walk.
        virtual bool file(const String& relativePath, const String& fullPath, const String& name, const Match& match,
                          u32 indent) = 0;
        // A file with no entry, with -a. False, after a line naming it, refuses it: the walk
        // goes on, but fails.
        virtual bool add(const String& relativePath, const String& fullPath, const String& name, u32 indent) = 0;
        // The line for a file with no entry without -a ("not found in container").
        virtual void missing(const String& relativePath, const String& fullPath);
        // A folder standing for a nested archive. False stops the walk; archives without nested
        // ones never see one.
        virtual bool child(const String&, const String&, const String&, const Match&, u32) { return false; }
        // Any other folder, before and after what lies below it; false (from either) stops it.
        // By default its detail line " [name]" from verbosity 1.
        virtual bool enter(const String& relativePath, const String& fullPath, const String& name, u32 indent);
        virtual bool leave(const String& name, bool ok);
    };
    // False when a visit said stop, a file was refused, memory ran out or a quit signal came in.
    bool walk(const DirectoryTree& tree, const String& directory, Visitor& visitor, u32 indent) const;
    // Scans the directory and walks it; a folder that could not be read, or anything in the tree
    // that is neither a file nor a folder (a symbolic link, a FIFO), is named and fails the walk
    // before anything is visited.
    bool repack(const String& directory, Visitor& visitor, u32 indent) const;

private:
    struct Slot;
    struct Entry
    {
        String path;    // what extract is handed
        String claimed; // a document's name on disk (the path with its suffix); empty when the same
        EntryForm form;
        u32 tableIndex;
        Container* nested;
        String gapName; // the gap file written beside its folder (a nested classic TRE), or empty
        const String& diskName() const { return claimed.isEmpty() ? path : claimed; }
    };
    String reservedName; // the archive's own file at its level (its gap file), or empty
    static bool writesGap(const Entry& e)
    {
        return e.form == FORM_DIRECTORY && e.nested && e.nested->typeCode == CONTAINER_TRE;
    }
    Entry* entries = nullptr;
    u32 count = 0;
    // Hashed lookups of claimed names (and of the raw names of converted and folder entries),
    // exact and case-folded: slot values are (position << 2 | form) + 1, 0 for empty.
    u32* exact = nullptr;
    u32* folded = nullptr;
    u32 tableSize = 0;

    bool insert(u32* table, const String& key, bool fold, u32 value);
    // Calls each(value) for every value stored under the key, in insertion order, until it
    // answers true.
    template <typename Each>
    void eachValue(const u32* table, const String& key, bool fold, Each each) const;
    const String& keyOf(u32 value) const;
};

// The name with "~N" before its extension (the text after the last '.' of its last component,
// when that '.' is not the component's first byte).
String withCollisionSuffix(const String& path, u32 n);
