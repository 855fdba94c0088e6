#include "tool/MORDAX.h"
#include "framework/app/Frame.h"
#include "framework/core/TextUtils.h"
#include "framework/log/Log.h"
#include "framework/platform/FileSystem.h"
#include "framework/threads/JobSystem.h"
#include "framework/vfs/VFS.h"
#include "tool/FileStreamReader.h"
#include "tool/containers/Driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{
void* hookAlloc(u64 size, bool, const char*, const char*, u32)
{
    return memAlloc(size);
}

void hookFree(void* p, bool)
{
    memFree(p);
}

}

// A listing is the run's result: output that never arrived fails the run, reported while the
// reason is known.
bool flushStandardOutput()
{
    errno = 0;
    if (fflush(stdout) == 0 && !ferror(stdout))
        return true;
    const int error = errno;
    if (error)
        fprintf(stderr, "ERROR: Couldn't write to standard output (%s)!\n", strerror(error));
    else
        fprintf(stderr, "ERROR: Couldn't write to standard output!\n");
    clearerr(stdout);
    return false;
}

TD::Hooks toolLibraryHooks()
{
    return TD::Hooks{hookAlloc, hookFree, openFileHook, nullptr};
}

void BridgeLogger::log(const char* channel, const char* message, u8 level)
{
    switch (level) {
    case 0: logFatal(channel, "%s", message); break;
    case 1: logError(channel, "%s", message); break;
    case 2: logWarn(channel, "%s", message); break;
    case 3: logInfo(channel, "%s", message); break;
    case 4: logDebug(channel, "%s", message); break;
    case 5: logTrace(channel, "%s", message); break;
    default: break;
    }
}

ArchiveToolApp::ArchiveToolApp() : Application(String("MORDAX")), outputName("output")
{
    verbosity = 0;
    mode = MODE_LIST;
    setToolOptions(this);
}

ArchiveToolApp::~ArchiveToolApp()
{
    setToolOptions(nullptr);
}

Application* createToolApplication()
{
    return newApplication<ArchiveToolApp>();
}

bool ArchiveToolApp::fail(const char* message, const char* detail)
{
    if (message)
        printf(message, detail);
    printUsage();
    return false;
}

// Each argument arrives whole as the user typed it; the joined command line could not keep
// blanks, quotes and backslashes apart.
bool ArchiveToolApp::parseArguments()
{
    const u32 count = getArgumentCount();
    for (u32 t = 0; t < count; t++) {
        const char* token = getArgument(t);
        if (token[0] == '-') {
            for (const char* c = token + 1; *c; c++) {
                switch (*c) {
                case 'v': verbosity++; break;
                case 'e':
                    mode = MODE_EXTRACT;
                    if (verbosity >= 2)
                        printf("OPTION: Extracting.\n");
                    break;
                case 'r':
                    mode = MODE_REPACK;
                    if (verbosity >= 2)
                        printf("OPTION: Repack.\n");
                    break;
                case 'w':
                    mode = MODE_REWRITE;
                    if (verbosity >= 2)
                        printf("OPTION: Rewriting.\n");
                    break;
                case 'g':
                    dumpGap = 1;
                    if (verbosity >= 2)
                        printf("OPTION: Extracting post-TOC \"gap\" data (if any).\n");
                    break;
                case 'n':
                    noConvert = 1;
                    if (verbosity >= 2)
                        printf("OPTION: No format conversion.\n");
                    break;
                case 's':
                    noRecurse = 1;
                    if (verbosity >= 2)
                        printf("OPTION: No recursion.\n");
                    break;
                case 'a':
                    addNewFiles = 1;
                    if (verbosity >= 2)
                        printf("OPTION: Adding new files.\n");
                    break;
                case 'o': {
                    if (t + 1 >= count)
                        return fail("ERROR: Expected filename after -o!\n", nullptr);
                    outputName = getArgument(++t);
                    outputName.replaceChar('\\', '/');
                    // Only the last path component loses its extension ("out.d/new" stays).
                    i64 slash = outputName.lastIndexOf('/');
                    i64 dot = outputName.lastIndexOf('.');
                    if (dot > slash)
                        outputName = outputName.left(u64(dot));
                    // Only a folder ("", "dir/", "..") or only an extension (".tre") names no file.
                    const char* last = outputName.c_str() + (slash + 1);
                    if (!*last || strcmp(last, ".") == 0)
                        return fail("ERROR: Expected filename after -o!\n", nullptr);
                    break;
                }
                case '?': return fail(nullptr, nullptr);
                default: {
                    char letter[2] = {*c, 0};
                    return fail("ERROR: Unknown option: '%s'\n\n", letter);
                }
                }
            }
            continue;
        }
        if (archivePath.isEmpty())
            archivePath = token;
        else if (directory.isEmpty())
            directory = token;
        else
            return fail("ERROR: Unexpected parameter '%s'!\n\n", token);
    }
    return true;
}

bool ArchiveToolApp::init(const String&)
{
    if (!vfs) {
        vfs = memNew<VFS>();
        VFSSettings settings;
        settings.rootPath = "./";
        settings.rootMode = 2;
        if (vfs && !vfs->start(settings)) {
            VFS::close(vfs);
            vfs = nullptr;
        }
    }
    {
        JobSettings settings;
        settings.executingPercent = 25;
        settings.useThreads = 1;
        initJobSystem(settings);
    }

    if (!parseArguments())
        return false;
    if (archivePath.isEmpty())
        return fail("ERROR: No file specified!\n\n", nullptr);
    if ((mode == MODE_EXTRACT || mode == MODE_REPACK) && directory.isEmpty())
        return fail("ERROR: No directory specified!\n\n", nullptr);
    archivePath.replaceChar('\\', '/');
    normalisePath(archivePath);
    if (archivePath.isEmpty())
        archivePath = ".";
    directory.replaceChar('\\', '/');
    normalisePath(directory);
    // "." and "a/.." mean the working directory, never the root.
    if (directory.isEmpty() || directory.equals("."))
        directory = "./";
    if (!directory.endsWith("/"))
        directory += "/";

    BridgeLogger* bridge = TD_NEW(BridgeLogger);
    libraryLogger = bridge;
    TD::init(toolLibraryHooks(), bridge);
    return true;
}

void ArchiveToolApp::onInterrupted()
{
    interrupted();
    setRunFailed();
}

void ArchiveToolApp::onShutdown(bool)
{
    if (libraryLogger) {
        TD::deleteObject(libraryLogger);
        libraryLogger = nullptr;
    }
}

bool ArchiveToolApp::update()
{
    clearToolFailure();
    // A quit signal before the work starts still ends the run as interrupted.
    if (interrupted()) {
        printf("\n");
        setRunFailed();
        return false;
    }
    // A repack lays a directory over the archive: without one it would only copy the archive.
    if (mode == MODE_REPACK && getPathKind(directory.c_str()) != PathKind::Directory) {
        printf("ERROR: Couldn't open directory '%s'!\n", directory.c_str());
        setRunFailed();
        return false;
    }
    Container* container = openContainer(archivePath);
    bool ok = container != nullptr;
    if (container) {
        switch (mode) {
        case MODE_LIST:
            printf("Listing contents:\n");
            container->list(0);
            ok = !outOfMemory("listing", archivePath.c_str());
            break;
        case MODE_EXTRACT:
            printf("Extracting contents...\n");
            setExtractionRoot(directory, archivePath);
            container->extract(directory, 0);
            setExtractionRoot(String());
            ok = !outOfMemory("extracting", archivePath.c_str());
            break;
        case MODE_REPACK:
            printf("Repacking contents...\n");
            setRepackRoot(directory);
            ok = container->repack(directory, String(), 0) && !outOfMemory("repacking", directory.c_str());
            setRepackRoot(String());
            ok = ok && writeContainer(*container, outputName, false);
            outOfMemory("repacking", directory.c_str());
            break;
        case MODE_REWRITE:
            printf("Rewriting & verifying contents...\n");
            ok = writeContainer(*container, outputName, true);
            break;
        }
    }
    // Whatever code saw an empty result where an allocation had failed, the run does not pass;
    // work that a quit cut short (a lone document's conversion) says so here if it has not.
    if (outOfMemory("working on", archivePath.c_str()) || interrupted())
        ok = false;
    if (container && inputChanged(container->image, archivePath))
        ok = false;
    printf("\n");
    if (!flushStandardOutput())
        ok = false;
    deleteContainer(container);
    if (!ok || toolFailureNoted() || runHalted())
        setRunFailed();
    return false;
}

void ArchiveToolApp::printUsage()
{
    const bool detail = verbosity != 0;
    printf("Usage: MORDAX [options] [TRE or PAK File] <Directory>\n\n");
    printf(" Available options:\n");
    printf("  -v\n");
    printf("    Increase verbosity. Can be increased multiple times.\n");
    printf("  -e\n");
    printf("    Extracts the TRE/PAK file to the given directory.\n");
    printf("  -r\n");
    printf("    Repack a new TRE/PAK called 'output.tre' or 'output.pak'.\n");
    printf("    Reads the existing TRE/PAK, then overlays files in the specified directory.\n");
    if (detail) {
        printf("  -w\n");
        printf("    Rewrites a new TRE/PAK with the same content; for debugging/verification.\n");
        printf("    An MD5 check is performed - checksums should match.\n");
        printf("  -g\n");
        printf("    Dumps early TRE post-TOC anonymous \"gap\" data for analysis.\n");
        printf("  -s\n");
        printf("    Don't recurse into sub-containers; e.g. extract them as-is.\n");
        printf("  -a\n");
        printf("    Add new files; note that the game won't read these by default!\n");
    }
    printf("  -n\n");
    printf("    No conversion of types on extraction (e.g. VOC to WAV).\n");
    printf("  -o [Output File]\n");
    printf("    Sets an output filename rather than \"output\".\n");
    printf("  [TRE or PAK File]\n");
    printf("    The TRE or PAK file to operate on. (REQUIRED)\n");
    printf("  <Directory>\n");
    printf("    The directory to extract files to, or to find replacement files in.\n");
    printf("\nExamples:\n");
    printf(" MORDAX MIDGAMES.TRE\n");
    printf("  - Will list the contents of MIDGAMES.TRE.\n");
    printf(" MORDAX -e MIDGAMES.TRE MIDGAMES\n");
    printf("  - Will extract the contents of MIDGAMES.TRE to \"MIDGAMES\\\".\n");
    printf(" MORDAX -r MIDGAMES.TRE MIDGAMES\n");
    printf("  - Will repack the contents of MIDGAMES.TRE from \"MIDGAMES\\\".\n");
}
