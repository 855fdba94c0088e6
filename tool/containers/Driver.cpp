#include "tool/containers/Driver.h"
#include "framework/app/Application.h"
#include "framework/app/ProcessUtils.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "framework/io/TreeWriter.h"
#include "framework/threads/JobSystem.h"
#include "framework/threads/SharedLock.h"
#include "tool/ToolOptions.h"
#include "tool/containers/ContainerCRCTRE.h"
#include "tool/containers/ContainerPAK.h"
#include "tool/containers/ContainerTRE.h"
#include "tool/containers/ContainerXTRE.h"
#include "tool/convert/ContainerIFF.h"
#include "tool/convert/ContainerPFC.h"
#include "tool/convert/ContainerVOC.h"

#include <cstdio>
#include <cstring>

namespace
{
u32 filesDone = 0;
u32 filesTotal = 0;
u64 lastProgressFlush = 0;
constexpr u64 PROGRESS_FLUSH_MICROS = 50000;
u32 currentDepth = 0;
// The budgets of one top-level detection: nested files and unpacked bytes. A container's open
// called directly (not through a detection) sets none.
bool budgetActive = false;
u64 nestedFilesLeft = 0;
u64 unpackedLeft = 0;
bool budgetRanOut = false;
// The size the budgets are taken from (0: the bytes detected).
u64 runArchiveBytes = 0;
u64 unpackedFloor = 0; // 0: the machine's own
// Bytes held by reserveTransient, given back when released (outside a detection none are held).
u64 transientHeld = 0;

bool nameEndsWithTre(const String& name, const ByteArray&)
{
    return name.endsWithNoCase(".tre");
}

Container* reportTre(const String&, const ByteArray& bytes)
{
    reportUnsupportedTre(bytes);
    return nullptr;
}

// The order in which kinds are tried; the first whose test holds decides.
const ContainerKind detectionOrder[] = {
    {"VOC", ContainerVOC::probe, ContainerVOC::open},
    {"IFF", ContainerIFF::probe, ContainerIFF::open},
    {"PFC", ContainerPFC::probe, ContainerPFC::open},
    {"PAK", ContainerPAK::detect, ContainerPAK::open},
    {"XTRE", ContainerXTRE::probe, ContainerXTRE::open},
    {"CRC-TRE", ContainerCRCTRE::probe, ContainerCRCTRE::open},
    {"TRE", ContainerTRE::probe, ContainerTRE::open},
    {"TRE (unsupported)", nameEndsWithTre, reportTre},
};

void printDashes()
{
    for (int i = 0; i < 51; i++)
        putchar('-');
    putchar('\n');
}
}

bool hasMagic(const ByteArray& bytes, const char magic[4])
{
    return bytes.count >= 4 && bytes.data && memcmp(bytes.data, magic, 4) == 0;
}

u32 readU32IfAvailable(MemoryStream& stream)
{
    return stream.bytesLeft() >= 4 ? stream.readU32() : 0;
}

u16 readU16IfAvailable(MemoryStream& stream)
{
    return stream.bytesLeft() >= 2 ? stream.readU16() : 0;
}

NestingScope::NestingScope()
{
    currentDepth++;
}

NestingScope::~NestingScope()
{
    currentDepth--;
}

u32 nestingDepth()
{
    return currentDepth;
}

bool nestingBudgetRanOut()
{
    return budgetRanOut;
}

void setArchiveBudgets(u64 archiveBytes)
{
    runArchiveBytes = archiveBytes;
}

u64 unpackedBudgetFor(u64 archiveBytes)
{
    u64 floor = unpackedFloor;
    if (!floor) {
        const u64 quarter = getPhysicalMemory() / 4;
        floor = quarter > UNPACKED_FLOOR ? quarter : UNPACKED_FLOOR;
    }
    const u64 scaled = archiveBytes > UINT64_MAX / UNPACKED_PER_BYTE ? UINT64_MAX : archiveBytes * UNPACKED_PER_BYTE;
    return scaled > floor ? scaled : floor;
}

void setUnpackedFloor(u64 bytes)
{
    unpackedFloor = bytes;
}

bool reserveTransient(u64 bytes)
{
    if (!budgetActive)
        return true;
    if (bytes > unpackedLeft)
        return false;
    unpackedLeft -= bytes;
    transientHeld += bytes;
    return true;
}

void releaseTransient(u64 bytes)
{
    if (!budgetActive || bytes > transientHeld)
        return;
    transientHeld -= bytes;
    unpackedLeft += bytes;
}

bool chargeUnpacked(u64 bytes, const String& entryName)
{
    if (!budgetActive)
        return true;
    if (bytes <= unpackedLeft) {
        unpackedLeft -= bytes;
        return true;
    }
    budgetRanOut = true;
    if (!runHalted())
        printError("ERROR: Unpacking '%s' passes the archive's budget of unpacked bytes!\n", entryName.c_str());
    haltRun();
    return false;
}

Container* detectContainerWith(const ContainerKind* kinds, u32 count, const String& name, const ByteArray& bytes)
{
    // Hostile nesting: past the bound an entry stays a plain file.
    if (currentDepth > MAX_NESTING_DEPTH)
        return nullptr;
    for (u32 i = 0; i < count; i++) {
        if (!kinds[i].probe(name, bytes))
            continue;
        if (currentDepth == 0) {
            const u64 size = runArchiveBytes ? runArchiveBytes : bytes.count;
            budgetRanOut = false;
            nestedFilesLeft = size / 64 > NESTED_FILES_FLOOR ? size / 64 : NESTED_FILES_FLOOR;
            unpackedLeft = unpackedBudgetFor(size);
            transientHeld = 0;
            budgetActive = true;
            Container* c = kinds[i].open(name, bytes);
            budgetActive = false;
            return c;
        }
        if (!budgetActive)
            return kinds[i].open(name, bytes);
        if (nestedFilesLeft == 0) {
            budgetRanOut = true;
            return nullptr;
        }
        // Charged after the open: the files of this container that its own nested ones (charged
        // as they opened) do not hold.
        const u64 before = nestedFilesLeft;
        Container* c = kinds[i].open(name, bytes);
        const u64 inner = before - nestedFilesLeft;
        const u64 files = c ? c->fileCount() : 0;
        const u64 charge = files > inner ? files - inner : 0;
        nestedFilesLeft -= charge < nestedFilesLeft ? charge : nestedFilesLeft;
        return c;
    }
    return nullptr;
}

Container* detectContainer(const String& name, const ByteArray& bytes)
{
    return detectContainerWith(detectionOrder, sizeof(detectionOrder) / sizeof(detectionOrder[0]), name, bytes);
}

Container* openContainer(const String& path)
{
    int error = 0;
    ByteArray* bytes = readFileImage(path, &error);
    if (!bytes) {
        if (!outOfMemory("reading", path.c_str())) {
            printError("ERROR: Couldn't open '%s'!\n", path.c_str());
            reportReadCause("open", path, error);
        }
        return nullptr;
    }
    Container* c = detectContainer(path, *bytes);
    const bool changed = inputChanged(bytes, path);
    // The entries are views into the file's bytes: the container keeps them.
    c = keepingImage(c, bytes);
    if (changed) {
        deleteContainer(c);
        return nullptr;
    }
    if (interrupted() || runHalted()) {
        deleteContainer(c);
        return nullptr;
    }
    // A nested entry that could not be unpacked for want of memory would stay a plain file, and
    // an entry whose copy failed would look empty: neither may pass for the archive.
    if (outOfMemory("opening", path.c_str())) {
        deleteContainer(c);
        return nullptr;
    }
    if (!c)
        printError("ERROR: The file '%s' wasn't of a recognised/supported type!\n", path.c_str());
    return c;
}

void printProgress(u32 depth)
{
    SharedLockScope lock(SharedLock::Progress);
    filesDone++;
    if (toolOptions().verbosity == 0) {
        printf("\r%05u / %05u .", filesDone, filesTotal);
        setProgressLineOpen(true);
        for (u32 i = 0; i < depth; i++)
            putchar('.');
        // The same bytes, but flushed a few times a second: one write per entry would cost an
        // archive of 65,535 files as many system calls.
        const u64 now = getTimeMicros();
        if (now - lastProgressFlush >= PROGRESS_FLUSH_MICROS || filesDone == filesTotal) {
            fflush(stdout);
            lastProgressFlush = now;
        }
    }
}

String outputFileName(const Container& container, const String& outPath)
{
    return outPath + "." + container.getExtension();
}

namespace
{
// The content check of a verification: both sides hashed entry by entry, the copy read back
// from the output file under the original's name. Its verdict is printed by the caller once the
// file is in place.
bool contentsMatch(Container& container, const String& written, const String& outName)
{
    printError("ERROR: File checksums DO NOT match - reloading & checking content...\n");
    Md5 first, second;
    printDashes();
    container.hashContents(first, 0);
    printDashes();
    int error = 0;
    ByteArray* bytes = readWholeFile(written, nullptr, &error);
    if (outOfMemory("verifying", outName.c_str())) {
        deleteByteArray(bytes);
        return false;
    }
    if (!bytes) {
        printError("ERROR: Couldn't open '%s'!\n", outName.c_str());
        reportSystemCause("read", outName, error);
        return false;
    }
    // Under the budgets of the original: they must not decide between the two.
    setArchiveBudgets(container.image ? container.image->count : 0);
    Container* copy = keepingImage(detectContainer(container.path, *bytes), bytes);
    setArchiveBudgets(0);
    if (outOfMemory("verifying", outName.c_str())) {
        deleteContainer(copy);
        return false;
    }
    // Refused by the budget, the copy has said so with the budget's own line.
    if (!copy && !runHalted())
        printError("ERROR: The file '%s' wasn't of a recognised/supported type!\n", outName.c_str());
    if (!copy)
        return false;
    copy->hashContents(second, 0);
    u8 d1[16], d2[16];
    first.final(d1);
    second.final(d2);
    deleteContainer(copy);
    if (outOfMemory("verifying", outName.c_str()))
        return false;
    if (memcmp(d1, d2, 16) != 0) {
        printError("ERROR: Content checksums DO NOT match!\n");
        return false;
    }
    return true;
}

// The MD5 of one file as read back from disk, through a buffer of its own. The original's runs
// as a job beside the output's, so that the two files are read at once.
class FileDigest : public Job
{
public:
    // Without `reading` nothing is set up (no buffer): a run that verifies nothing.
    explicit FileDigest(const String& path, bool reading = true)
        : stream(path, FileStream::ModeRead), buffer(reading ? FileStream::MD5_CHUNK : 0)
    {
        flags = KEEP;
    }
    void run() override { whole = stream.md5(digest, buffer); }

    FileStream stream;
    ByteArray buffer;
    u8 digest[16] = {};
    bool whole = false;
};

// The original's checksum, read back from disk on a worker while the copy is built and written,
// so that its time is hidden behind that work. A change to the file meanwhile is caught before
// the verification counts (inputChanged).
class OriginalDigest
{
public:
    // Nothing is read without `verify`.
    OriginalDigest(const String& path, bool verify) : job(path, verify)
    {
        if (!verify || !job.buffer.data)
            return;
        opened = job.stream.open();
        JobSystem* jobs = applicationInstance ? applicationInstance->jobs : nullptr;
        if (opened && jobs) {
            job.counter = &counter;
            beside = jobs->submit(&job, 0);
        }
    }
    // A worker that took the job may still be reading into this object; a job never handed out
    // is not run just to be thrown away.
    ~OriginalDigest()
    {
        if (beside)
            applicationInstance->jobs->wait(counter);
    }
    OriginalDigest(const OriginalDigest&) = delete;
    OriginalDigest& operator=(const OriginalDigest&) = delete;

    // Waits for the digest (or takes it here when no worker could); false when it is not whole.
    bool finish()
    {
        if (beside)
            applicationInstance->jobs->wait(counter);
        else if (opened && !done)
            job.run();
        beside = false;
        done = true;
        return job.whole;
    }

    FileDigest job;
    JobCounter counter;
    bool opened = false;
    bool beside = false;
    bool done = false;
};

// What a verification found, said only once the file has its name.
enum class Verdict : u8
{
    None,
    FilesMatch,
    ContentsMatch,
};

// The files' checksums as they are on disk, and when they differ, the contents. `written` is the
// output as written (still under its temporary name); messages name the output. None on failure.
Verdict verifyWritten(Container& container, OriginalDigest& original, const String& written, const String& outName)
{
    FileDigest copy(written);
    // A path copied short of memory would be opened as another file, or none.
    if (outOfMemory("verifying", outName.c_str()))
        return Verdict::None;
    if (!original.opened) {
        printError("ERROR: Couldn't re-open original file for checksumming!\n");
        reportSystemCause("open", container.path, original.job.stream.openError);
        return Verdict::None;
    }
    if (!copy.stream.open()) {
        printError("ERROR: Couldn't re-open output file for checksumming!\n");
        reportSystemCause("open", outName, copy.stream.openError);
        return Verdict::None;
    }
    if (outOfMemory("verifying", outName.c_str()))
        return Verdict::None;
    copy.run();
    const bool originalWhole = original.finish();
    if (interrupted() || outOfMemory("verifying", outName.c_str()))
        return Verdict::None;
    if (!originalWhole || !copy.whole) {
        printError("ERROR: Couldn't read all of the %s file for checksumming!\n", originalWhole ? "output" : "original");
        return Verdict::None;
    }
    if (memcmp(original.job.digest, copy.digest, 16) == 0)
        return Verdict::FilesMatch;
    return contentsMatch(container, written, outName) ? Verdict::ContentsMatch : Verdict::None;
}

// What the written file is judged by before it takes its name.
struct WriteCheck
{
    Container& container;
    const String& outName;
    ByteArray*& bytes;
    OriginalDigest* original; // with a verification
    Verdict verdict = Verdict::None;
};

// Nothing that failed before the file is in place leaves it there: memory that ran out on the way
// (the bytes may be short), an interruption, or a verification that does not pass.
bool checkWritten(void* context, const String& written)
{
    WriteCheck& check = *static_cast<WriteCheck*>(context);
    // The verification judges the file, not these bytes.
    deleteByteArray(check.bytes);
    check.bytes = nullptr;
    if (interrupted() || outOfMemory("writing", check.outName.c_str()))
        return false;
    if (inputChanged(check.container.image, check.container.path))
        return false;
    if (!check.original)
        return true;
    check.verdict = verifyWritten(check.container, *check.original, written, check.outName);
    return check.verdict != Verdict::None;
}
}

bool writeContainer(Container& container, const String& outPath, bool verify)
{
    const ToolOptions& opt = toolOptions();
    String outName = outputFileName(container, outPath);
    // A name made short of memory is no name to write to, nor to print.
    if (outOfMemory(verify ? "verifying" : "repacking", container.path.c_str()))
        return false;
    if (opt.verbosity)
        printf("Writing '%s'...\n", outName.c_str());
    if (sameFile(outName, container.path)) {
        printError("ERROR: Refusing to write over the input archive '%s'!\n", outName.c_str());
        return false;
    }
    {
        SharedLockScope lock(SharedLock::Progress);
        filesDone = 0;
        filesTotal = container.fileCount();
    }
    OriginalDigest original(container.path, verify);
    if (verify && !original.job.buffer.data) {
        outOfMemory("verifying", outName.c_str());
        return false;
    }
    ByteArray* bytes = container.serialise(printProgress, 0);
    // The blanked progress text is still on the line: an error line that follows ends it first.
    if (opt.verbosity == 0 && bytes)
        printf("\r%43s\r", "");
    if (interrupted()) {
        deleteByteArray(bytes);
        return false;
    }
    // Bytes built while an allocation failed may miss entries: they are never written.
    if (outOfMemory("writing", outName.c_str()) || !bytes) {
        deleteByteArray(bytes);
        return false;
    }
    // Nothing is written that the tool would refuse to open afresh.
    const u64 unpacked = container.unpackedOnOpen();
    const u64 budget = unpackedBudgetFor(bytes->count);
    if (unpacked > budget) {
        printError("ERROR: '%s' would unpack to %llu bytes, past the budget of %llu bytes that opening an archive "
                   "of %u bytes allows; nothing was written!\n",
                   outName.c_str(), (unsigned long long)unpacked, (unsigned long long)budget, bytes->count);
        deleteByteArray(bytes);
        return false;
    }
    WriteCheck check{container, outName, bytes, verify ? &original : nullptr};
    DurableWrite how;
    const int error = replaceFileDurably(outName, bytes->data, bytes->count, checkWritten, &check, &how);
    deleteByteArray(bytes);
    if (error && error != PLACE_REFUSED && !interrupted()) {
        printError("ERROR: Couldn't write to output file '%s' (%s)!\n", outName.c_str(), strerror(error));
        adviseOnLimits(error);
    }
    if (!how.leftBehind.isEmpty())
        reportLeftBehind(how.leftBehind);
    if (error)
        return false;
    // The verdicts, now that the archive has its name and that name is on disk.
    if (!verify)
        printf("Done. Repacked %u files.\n", container.fileCount());
    else if (check.verdict == Verdict::FilesMatch)
        printf("Done. All OK; file checksums match.\n");
    else
        printf("Done. Content checksums match.\n");
    return true;
}
