#include "tool/containers/Container.h"
#include "framework/app/ProcessUtils.h"
#include "framework/io/FileStream.h"
#include "framework/io/TreeReader.h"
#include "framework/io/TreeWriter.h"
#include "framework/xml/XmlReader.h"
#include "tool/ToolOptions.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{
ToolOptions defaultOptions;
ToolOptions* currentOptions = &defaultOptions;
bool failureNoted = false;
bool halted = false;
TreeWriter extraction;
TreeReader repackSource;
bool memoryReported = false;
bool changeReported = false;
bool progressLineOpen = false;
}

void setProgressLineOpen(bool open)
{
    progressLineOpen = open;
}

void printError(const char* format, ...)
{
    if (progressLineOpen) {
        putchar('\n');
        progressLineOpen = false;
    }
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

void haltRun()
{
    halted = true;
    failureNoted = true;
}

bool runHalted()
{
    return halted;
}

bool interrupted()
{
    if (!quitSignalsReceived())
        return false;
    if (!halted) {
        static const char line[] = "\nERROR: Interrupted!\n";
        // An open progress line is ended first, as printError ends it.
        const u64 skip = progressLineOpen ? 0 : 1;
        progressLineOpen = false;
        reportInterrupted(line + skip, sizeof(line) - 1 - skip);
    }
    haltRun();
    return true;
}

bool outOfMemory(const char* doing, const char* name)
{
    if (!memAllocationFailed())
        return false;
    if (!memoryReported) {
        memoryReported = true;
        if (name)
            printError("ERROR: Out of memory while %s '%s'!\n", doing, name);
        else
            printError("ERROR: Out of memory while %s!\n", doing);
    }
    haltRun();
    return true;
}

bool inputChanged(const ByteArray* image, const String& path)
{
    if (!imageChanged(image))
        return false;
    if (!changeReported) {
        changeReported = true;
        printError("ERROR: '%s' changed while it was read!\n", path.c_str());
    }
    return true;
}

void noteToolFailure()
{
    failureNoted = true;
}

bool toolFailureNoted()
{
    return failureNoted;
}

void clearToolFailure()
{
    failureNoted = false;
    halted = false;
    memoryReported = false;
    changeReported = false;
    memClearAllocationFailure();
}

ToolOptions& toolOptions()
{
    return *currentOptions;
}

void setToolOptions(ToolOptions* options)
{
    currentOptions = options ? options : &defaultOptions;
}

Container::Container(const String& p, const String& second, u8 type) : path(p), secondPath(second), typeCode(type)
{
    i64 dot = path.lastIndexOf('.');
    if (dot >= 0)
        extension = path.from(u64(dot) + 1);
}

String Container::getExtension() const
{
    return extension;
}

Container::~Container()
{
    deleteByteArray(image);
}

String Container::extractedName(const String& entryPath) const
{
    return entryPath;
}

const String& Container::matchName() const
{
    if (toolOptions().noConvert)
        return path;
    return secondPath.isEmpty() ? path : secondPath;
}

Container* keepingImage(Container* c, ByteArray* bytes)
{
    if (c && !c->image)
        c->image = bytes;
    else
        deleteByteArray(bytes);
    return c;
}

void deleteContainer(Container* c)
{
    memDelete(c);
}

void printIndent(u32 indent)
{
    for (u32 i = 0; i < indent; i++)
        putchar(' ');
}

void printMarker(char c, u32 level)
{
    putchar(' ');
    putchar(c);
    putchar(c);
    for (u32 i = 0; i < level; i++)
        putchar(c);
}

String directoryPart(const String& path)
{
    i64 slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(u64(slash)) : String();
}

void listEntry(const char* name, u32 size, Container* nested, u32 indent)
{
    printIndent(indent);
    printf("%s (%u byte%s)\n", name, size, plural(size));
    if (nested && !toolOptions().noRecurse)
        nested->list(indent + 1);
}

void printListTotal(u32 files, u64 bytes)
{
    printf("Done. %u file%s, %llu byte%s total.\n", files, plural(files), (unsigned long long)bytes, plural(bytes));
}

bool extractEntry(const String& directory, const String& relative, Container* nested, const ByteArray* data,
                  u32 indent, u32& written)
{
    if (runHalted() || interrupted())
        return false;
    const String path = joinPath(directory, relative);
    // A path joined short of memory is no entry's: the folder it was to go in is named.
    if (outOfMemory("extracting", directory.c_str()))
        return false;
    if (nested && !toolOptions().noRecurse) {
        written += nested->extract(path, indent + 1);
        return !runHalted();
    }
    if (toolOptions().verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", path.c_str());
    }
    bool goOn = false;
    if (!writeExtractedFile(path, data ? data->data : nullptr, data ? data->count : 0, &goOn))
        return goOn;
    written++;
    return true;
}

void setExtractionRoot(const String& directory, const String& input)
{
    if (directory.isEmpty())
        extraction.end();
    else
        extraction.begin(directory, input);
}

namespace
{
// Only this entry is refused for these; the others are still written.
void reportRefusal(const PlaceResult& result, const String& path)
{
    if (result.status == PlaceStatus::Link)
        printError("ERROR: A symbolic link is in the way of '%s'; nothing was written through it!\n", path.c_str());
    else if (result.status == PlaceStatus::InputFile)
        printError("ERROR: '%s' is the archive being read; it was not written over!\n", path.c_str());
    else
        printError("ERROR: Something that is not a regular file is in the way of '%s'; it was left alone!\n",
               path.c_str());
    noteToolFailure();
}
}

bool makeExtractionDirectory(const String& directory)
{
    if (outOfMemory("extracting", directory.c_str()))
        return false;
    const PlaceResult result = extraction.makeDirectory(directory);
    if (result.status == PlaceStatus::Link) {
        reportRefusal(result, directory);
        return false;
    }
    if (!result.unmadeLength)
        return true;
    // The chosen directory is not there: nothing can go below it, and each entry would only
    // fail for want of it.
    const String unmade = directory.left(result.unmadeLength);
    if (!outOfMemory("extracting", directory.c_str()))
        reportSystemCause("create", unmade, result.error);
    noteToolFailure();
    return false;
}

void reportLeftBehind(const String& file)
{
    printError("ERROR: Couldn't remove '%s' after the failure; delete it by hand!\n", file.c_str());
    noteToolFailure();
}

namespace
{
// The temporary file of a failed extraction that is still there, beside `path`.
void reportLeftBehind(const PlaceResult& result, const String& path)
{
    if (!result.leftBehind[0])
        return;
    const i64 slash = path.lastIndexOf('/');
    reportLeftBehind(slash < 0 ? String(result.leftBehind) : path.left(u64(slash)) + "/" + result.leftBehind);
}
}

bool writeExtractedFile(const String& path, const u8* data, u64 size, bool* goOn)
{
    if (goOn)
        *goOn = false;
    // Bytes or a path made while an allocation failed may be short or empty: never written.
    if (outOfMemory("extracting", path.c_str()))
        return false;
    const PlaceResult result = extraction.writeFile(path, data, size);
    if (result.ok())
        return true;
    if (interrupted() || outOfMemory("extracting", path.c_str())) {
        reportLeftBehind(result, path);
        return false;
    }
    if (result.status != PlaceStatus::Failed) {
        reportRefusal(result, path);
        reportLeftBehind(result, path);
        if (goOn)
            *goOn = true;
        return false;
    }
    printError("ERROR: Write failure for '%s'!\n", path.c_str());
    reportSystemCause("write", path, result.error);
    reportLeftBehind(result, path);
    noteToolFailure();
    // No later write can be expected to succeed either.
    if (descriptorsExhausted(result.error) || storageExhausted(result.error))
        haltRun();
    return false;
}

void reportSystemCause(const char* doing, const String& path, int error)
{
    if (!error)
        return;
    printError("ERROR: Couldn't %s '%s' (%s)!\n", doing, path.c_str(), strerror(error));
    adviseOnLimits(error);
}

void adviseOnLimits(int error)
{
    if (descriptorsExhausted(error))
        printError("ERROR: The limit of open files is reached (%s); raise it (ulimit -n) and run again!\n",
                   strerror(error));
}

void reportUnmadeFile(const String& path)
{
    if (outOfMemory("extracting", path.c_str()) || interrupted())
        return;
    printError("ERROR: Write failure for '%s'!\n", path.c_str());
    noteToolFailure();
}

void reportReadCause(const char* doing, const String& path, int error)
{
    // A missing file needs no more words than the failure's own line.
    if (error != ENOENT)
        reportSystemCause(doing, path, error);
}

void hashEntry(Md5& context, Container* nested, const ByteArray* data, const char* name, u32 indent)
{
    if (interrupted())
        return;
    if (nested)
        nested->hashContents(context, indent + 1);
    else if (data && data->count)
        context.update(data->data, data->count);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("%s -> %llu\n", name, (unsigned long long)peekDigest(context));
    }
}

void putEach(u8*& at, const ByteArray* const* sources, u32 count)
{
    for (u32 i = 0; i < count; i++) {
        if (sources[i] && sources[i]->count) {
            memcpy(at, sources[i]->data, sources[i]->count);
            at += sources[i]->count;
        }
    }
}

ByteArray* readReplacement(const String& name, const String& fullPath, u32 indent, const char* note, const char* kind)
{
    if (toolOptions().verbosity >= 1) {
        printMarker('<', indent);
        printf(" %s%s\n", name.c_str(), note);
    }
    return readRepackFile(fullPath, kind);
}

void scanRepackFolder(const String& directory, DirectoryTree& tree)
{
    repackSource.scan(directory, tree);
}

void setRepackRoot(const String& directory)
{
    if (directory.isEmpty())
        repackSource.end();
    else
        repackSource.begin(directory);
}

void reportNotFollowed(const String& path)
{
    printError("ERROR: '%s' is a symbolic link or a special file; it is neither followed nor repacked!\n",
               path.c_str());
}

ByteArray* readRepackFile(const String& path, const char* kind, bool* missing)
{
    ReadFailure failure = ReadFailure::None;
    int error = 0;
    String link;
    ByteArray* bytes = repackSource.readFile(path, failure, error, link);
    if (bytes)
        return bytes;
    if (missing)
        *missing = failure == ReadFailure::Missing && error == ENOENT;
    if (failure == ReadFailure::Memory) {
        outOfMemory("reading", path.c_str());
        return nullptr;
    }
    // A link or a FIFO put there after the folder was listed, in place of the file or of a folder
    // on its way, is refused as the listing refuses it.
    if (failure == ReadFailure::Link || failure == ReadFailure::NotRegular) {
        reportNotFollowed(link.isEmpty() ? path : link);
    } else if (!missing || !*missing) {
        printError("ERROR: Couldn't read %s'%s'!\n", kind, path.c_str());
        reportReadCause("read", path, error);
    }
    return nullptr;
}

ByteArray* readDocumentFile(const String& source, const String& first, const String* other, String& file)
{
    // A path made short of memory names no file: what was asked is named instead.
    const auto madeShort = [&] { return outOfMemory("repacking", source.c_str()); };
    ByteArray* bytes = nullptr;
    if (!source.isEmpty() && !source.endsWith("/")) {
        file = source;
        if (!madeShort())
            bytes = readRepackFile(file);
    } else {
        const String firstFile = joinPath(source, getFileName(first));
        const String otherFile = other ? joinPath(source, getFileName(*other)) : String();
        file = firstFile;
        if (madeShort())
            return nullptr;
        bool missing = false;
        bytes = readRepackFile(firstFile, "", &missing);
        if (!bytes && missing && other) {
            bytes = readRepackFile(otherFile, "", &missing);
            if (bytes)
                file = otherFile;
        }
        if (!bytes && missing && !madeShort())
            printError("ERROR: Couldn't read '%s'!\n", file.c_str());
    }
    if (bytes && madeShort()) {
        deleteByteArray(bytes);
        return nullptr;
    }
    return bytes;
}

bool isVersionOne(const String& version)
{
    u64 value = 0;
    return parsePlainDecimal(version.c_str(), version.length, 1, value) && value == 1;
}

bool xmlEncodingReadable(const ByteArray& text, const String& path)
{
    XmlReader reader(reinterpret_cast<const char*>(text.data), text.data ? text.count : 0);
    reader.setQuiet(true);
    reader.next();
    if (reader.unreadableEncoding().isEmpty())
        return true;
    printError("ERROR: '%s' is in the encoding '%s', which cannot be read; save it as UTF-8, ISO-8859-1 or "
               "US-ASCII!\n",
               path.c_str(), reader.unreadableEncoding().c_str());
    return false;
}

namespace
{
void printRepackLine(const String& name, const char* label, u32 indent)
{
    if (toolOptions().verbosity >= 1) {
        printMarker('<', indent);
        printf(" [%s] %s\n", name.c_str(), label);
    }
}
}

bool repackChild(Container& nested, const String& name, const String& fullPath, const String& relativePath,
                 u32 indent)
{
    printRepackLine(name, "(Container)", indent);
    return nested.repack(fullPath, relativePath, indent + 1);
}

bool repackDocument(Container& document, const String& name, const char* label, const String& fullPath,
                    const String& relativePath, u32 indent)
{
    printRepackLine(name, label, indent);
    if (document.repack(fullPath, relativePath, indent + 1))
        return true;
    if (!interrupted() && !runHalted() && !outOfMemory("repacking", fullPath.c_str()))
        printError("ERROR: '%s' could not be converted back; nothing was written. Fix it, or delete it to keep "
                   "the entry as it was!\n",
                   fullPath.c_str());
    return false;
}

void reportFailedFolder(const String& name, const String* full)
{
    // A run halted (memory, a quit) has said why in its one line.
    if (!runHalted() && !outOfMemory("repacking", (full ? *full : name).c_str()))
        printError("ERROR: Container '%s' repacking failed!\n", name.c_str());
}

bool withinEntryLimit(const char* kind, u32 count, u32 most, const char* what)
{
    if (count <= most)
        return true;
    printError("ERROR: %s holds at most %u %s; this one would hold %u!\n", kind, most, what, count);
    return false;
}

bool archiveSizeFits(u64 bytes)
{
    if (bytes <= 0xFFFFFFFFu)
        return true;
    printError("ERROR: The archive would be larger than 4 GiB!\n");
    return false;
}

u64 peekDigest(Md5& context)
{
    u8 digest[16];
    context.final(digest);
    u64 v = 0;
    for (int i = 7; i >= 0; i--)
        v = (v << 8) | digest[i];
    return v;
}
