#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/String.h"
#include "framework/io/Md5.h"

class DirectoryTree;

enum ContainerType : u8
{
    CONTAINER_TRE = 0,
    CONTAINER_PAK = 1,
    CONTAINER_XTRE = 2,
    CONTAINER_CRCTRE = 3,
    CONTAINER_VOC = 4,
    CONTAINER_IFF = 5,
    CONTAINER_PFC = 8,
};

// Called once per leaf entry written by serialise.
typedef void (*ProgressFunction)(u32 depth);

// Every file the tool understands, archive or convertible document.
class Container
{
public:
    String path;       // archive path at top level, the entry's stored name when nested
    String secondPath; // companion name of documents (".xml", ".wav"); empty for archives
    String extension;  // text after the last '.' of path
    u8 typeCode;
    // The bytes a container was opened from, when it holds them itself (the top-level archive):
    // its entries are views into them, so they go last.
    ByteArray* image = nullptr;

    Container(const String& path, const String& secondPath, u8 typeCode);

    virtual String getExtension() const;
    virtual ~Container();
    virtual ByteArray* serialise(ProgressFunction progress, u32 depth) = 0;
    virtual void list(u32 indent) = 0;
    virtual u32 extract(const String& directory, u32 indent) = 0;
    virtual bool repack(const String& directory, const String& subPath, u32 indent) = 0;
    virtual u32 fileCount() = 0;
    virtual void hashContents(Md5& context, u32 indent) = 0;
    // The name on disk of this container extracted as an archive's entry at entryPath: a
    // document written in its converted form adds its suffix; anything else keeps the path.
    virtual String extractedName(const String& entryPath) const;
    // The bytes that opening what serialise last built would unpack from packed entries, nested
    // archives included (what the budget of unpacked bytes is charged); before any serialise,
    // what opening it unpacked. 0 for documents.
    virtual u64 unpackedOnOpen() { return unpackedOwn; }
    // This archive's own streams' part of that: added up on open, then by each serialise as it
    // writes, so it always describes the bytes last read or built.
    u64 unpackedOwn = 0;

    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    // The name a nested container is matched by on repack: its own name with noConvert,
    // otherwise its converted name when it has one.
    const String& matchName() const;
};

void deleteContainer(Container* c);
// Gives the container the bytes it was opened from to keep (its entries look into them); with
// no container the bytes are freed. Returns the container.
Container* keepingImage(Container* c, ByteArray* bytes);

// Archives hold entries; the other kinds are documents converted as a whole.
inline bool isArchiveType(u8 typeCode)
{
    return typeCode == CONTAINER_TRE || typeCode == CONTAINER_PAK || typeCode == CONTAINER_XTRE ||
           typeCode == CONTAINER_CRCTRE;
}

// Containers print their own error lines; this records that the run as a whole failed, so the
// process can say so with its exit status.
void noteToolFailure();
bool toolFailureNoted();
// Forgets every failure noted (a new run): also a halt and a failed allocation.
void clearToolFailure();

// A failure after which nothing more can be done (the disk is full, memory ran out): every loop
// over entries stops at its next step, and the run fails.
void haltRun();
bool runHalted();
// True, after the one line that says so, when an allocation has failed: then no result of the
// run can be trusted, whatever the code that saw an empty result made of it. `doing` says what
// the run was doing, `name` on what.
bool outOfMemory(const char* doing, const char* name);
// True, after the one line that says so, when the file under `image` changed while it was read
// (pages of a mapped file that shrank read as zeros): nothing taken from it holds.
bool inputChanged(const ByteArray* image, const String& path);
// True, after the one "Interrupted" line, once a quit signal has come in: every loop over
// entries asks between entries and stops.
bool interrupted();

// Shared line helpers.
// Prints an error line (the format starts "ERROR: "); progress text left on the line is ended
// first, so every error line starts a line of its own.
void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether the progress counter's text is on the current line.
void setProgressLineOpen(bool open);
void printIndent(u32 indent);
// " >>" or " <<" followed by one '>' or '<' per level.
void printMarker(char c, u32 level);
// One listing line, "name (N bytes)"; a nested container lists itself below it unless -s.
void listEntry(const char* name, u32 size, Container* nested, u32 indent);
// The closing line of a top-level listing.
void printListTotal(u32 files, u64 bytes);
// One entry of an extraction into directory/relative: a nested container extracts itself there
// unless -s, anything else is written as a file. Counts what was written; false stops the
// extraction.
bool extractEntry(const String& directory, const String& relative, Container* nested, const ByteArray* data,
                  u32 indent, u32& written);
// The directory part of a path (cut at its last '/'); empty when it has none.
String directoryPart(const String& path);
// The directory the user chose for an extraction (empty: the extraction is over): every path
// below it is made and written without following a symbolic link, and the input archive is
// never written over.
void setExtractionRoot(const String& directory, const String& input = String());
// Makes a directory of an extraction (the root as named, anything below it without links).
// False, after its error line, for a symbolic link in the way (nothing may go below it) and for
// a chosen directory that could not be made (the line names it, or the one on its way that
// failed, with the system's cause). Any other failure shows when the files are written.
bool makeExtractionDirectory(const String& directory);
// Writes the bytes of one extracted file (its directories made first), replacing what was there.
// A failure prints "Write failure" for the file, leaves no part of it behind, marks the run
// failed and gives false; one that no later write could escape (a full disk) halts the run. A
// symbolic link, something other than a regular file, or the input archive in the way refuses
// this file alone: *goOn then says the other entries may still be written.
bool writeExtractedFile(const String& path, const u8* data, u64 size, bool* goOn = nullptr);
// After a failure's own line: the system's reason for it on `path` ("Couldn't <doing> 'path'
// (reason)!"), and for the descriptor limit what to do about it. Nothing for error 0.
void reportSystemCause(const char* doing, const String& path, int error);
// What to do when the error is the descriptor limit (a line after the one naming it); else nothing.
void adviseOnLimits(int error);
// The same after a failed read or open, but nothing for a file that is not there.
void reportReadCause(const char* doing, const String& path, int error);
// The converted form of the file at `path` could not be made: memory that ran out and a quit
// signal say so with their own lines, anything else is the file's write failure.
void reportUnmadeFile(const String& path);
// The line for a file a failed write left behind and could not remove.
void reportLeftBehind(const String& file);
// One archive entry's part of hashContents: a nested container hashes itself one level deeper,
// plain data is fed in; at verbosity 2 the entry's hash line follows.
void hashEntry(Md5& context, Container* nested, const ByteArray* data, const char* name, u32 indent);
// What an archive's nested containers unpack when opened (their part of unpackedOnOpen).
template <typename Entries>
u64 nestedUnpackedOnOpen(const Entries& entries)
{
    u64 n = 0;
    for (auto* e : entries)
        n += e->nested ? e->nested->unpackedOnOpen() : 0;
    return n;
}
// Leaf files of an archive: 1 per plain entry, a nested container's own count.
template <typename Entries>
u32 countLeafFiles(const Entries& entries)
{
    u32 n = 0;
    for (auto* e : entries)
        n += e->nested ? e->nested->fileCount() : 1;
    return n;
}
// Writers that fill an output of the exact size: a little-endian u32, then each source's bytes
// in turn (null sources hold none); the cursor moves on.
inline void putU32LE(u8*& at, u32 v)
{
    at[0] = u8(v);
    at[1] = u8(v >> 8);
    at[2] = u8(v >> 16);
    at[3] = u8(v >> 24);
    at += 4;
}
void putEach(u8*& at, const ByteArray* const* sources, u32 count);
// The file that replaces an entry on repack (or is added, with note " (NEW FILE)"), read whole,
// after its detail line " <<... name<note>" (from verbosity 1); null after "Couldn't read <kind>'path'!"
// when it can't be read (a PAK says "packet file ").
ByteArray* readReplacement(const String& name, const String& fullPath, u32 indent, const char* note = "",
                           const char* kind = "");
// The folder a repack reads (empty: the repack is over): every file below it is opened beneath
// its handle, never through a symbolic link on the way.
void setRepackRoot(const String& directory);
// The folder's files and folders as a repack reads them: below the repack folder, beneath its
// handle without following a link at any step.
void scanRepackFolder(const String& directory, DirectoryTree& tree);
// A file of a repack's folder, read whole without following a symbolic link; null after its
// "ERROR: " line: "Couldn't read <kind>'path'!", or the line of a link or special file found in
// the folder. With `missing`, a file that is not there prints nothing and sets it.
ByteArray* readRepackFile(const String& path, const char* kind = "", bool* missing = nullptr);
// The line of a symbolic link or special file met in a repack's folder, which is never read.
void reportNotFollowed(const String& path);
// The file a document's repack reads: `source` itself, or for a lone document repacked from the
// folder it was extracted into (`source` empty or ending in '/'), the file named as `first` there,
// else the one named as `other` (when given). Its path goes into `file`; null after its line.
ByteArray* readDocumentFile(const String& source, const String& first, const String* other, String& file);
// Whether a document's "Version" is 1: a plain decimal number of that value.
bool isVersionOne(const String& version);
// Whether an XML file can be read in the encoding its declaration names (UTF-8 without one);
// otherwise its "ERROR: " line names the file and the encoding.
bool xmlEncodingReadable(const ByteArray& text, const String& path);

// A folder laid over a nested archive, after its detail line " <<... [name] (Container)": the
// archive repacks itself one level deeper.
bool repackChild(Container& nested, const String& name, const String& fullPath, const String& relativePath,
                 u32 indent);
// A document entry (IFF, PFC, VOC) laid over from its file, after its detail line
// " <<... [name] label": its container converts the file back. A failure adds a line that names
// the file and says what to do, after the converter's own.
bool repackDocument(Container& document, const String& name, const char* label, const String& fullPath,
                    const String& relativePath, u32 indent);

// After a folder laid over a nested archive failed: "Container '<name>' repacking failed!", unless
// the run was halted (its own line said why) or memory ran out (said naming the folder, `full`
// where it is known).
void reportFailedFolder(const String& name, const String* full = nullptr);
// False, after "A <kind> holds at most <most> <what>; this one would hold <count>!", when count is
// past most.
bool withinEntryLimit(const char* kind, u32 count, u32 most, const char* what);
// False, after its error line, when an archive would be larger than 4 GiB.
bool archiveSizeFits(u64 bytes);

// The first 8 bytes of the live context's digest, read little-endian (the hash lines).
u64 peekDigest(Md5& context);
inline const char* plural(u64 n)
{
    return n == 1 ? "" : "s";
}
