#include "fuzz/targets/ScratchDisk.h"
#include "fuzz/FuzzTargets.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace
{
namespace fs = std::filesystem;

constexpr char VICTIM_TEXT[] = "a file outside the scratch directory\n";

struct Disk
{
    bool made = false;
    fs::path parent;
    fs::path out;
    fs::path outside;
    String scratch; // out, with a trailing '/'
    bool kept = false;
    bool linksPlanted = false;
};

Disk disk;

void removeDisk()
{
    std::error_code ec;
    fs::remove_all(disk.parent, ec);
}

void makeLinks()
{
    std::error_code ec;
    fs::create_directory_symlink("../outside", disk.out / "LINK", ec);
    if (!ec)
        fs::create_symlink("../outside/VICTIM.BIN", disk.out / "LINK.BIN", ec);
    if (ec)
        fuzzFailure("the links of the scratch directory cannot be made");
    disk.linksPlanted = true;
}

void makeDisk()
{
    if (disk.made)
        return;
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    if (ec)
        tmp = "/tmp";
    std::string pattern = (tmp / "mordax-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fuzzFailure("no scratch directory can be made");
    disk.parent = pattern;
    disk.out = disk.parent / "out";
    disk.outside = disk.parent / "outside";
    disk.scratch = String((disk.out.string() + "/").c_str());
    atexit(removeDisk);
    fs::create_directory(disk.outside, ec);
    FILE* victim = ec ? nullptr : fopen((disk.outside / "VICTIM.BIN").c_str(), "wb");
    if (!victim || fwrite(VICTIM_TEXT, 1, sizeof(VICTIM_TEXT) - 1, victim) != sizeof(VICTIM_TEXT) - 1 ||
        fclose(victim) != 0)
        fuzzFailure("the file outside the scratch directory cannot be written");
    disk.made = true;
}

bool victimUnchanged(const fs::path& file)
{
    char buffer[sizeof(VICTIM_TEXT) + 1] = {};
    FILE* f = fopen(file.c_str(), "rb");
    if (!f)
        return false;
    const size_t n = fread(buffer, 1, sizeof(buffer), f);
    fclose(f);
    return n == sizeof(VICTIM_TEXT) - 1 && memcmp(buffer, VICTIM_TEXT, n) == 0;
}

bool isPlantedLink(const fs::path& path)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec)
        return false;
    return (path == disk.out / "LINK" && target == "../outside") ||
           (path == disk.out / "LINK.BIN" && target == "../outside/VICTIM.BIN");
}
}

const String& ScratchDisk::fresh()
{
    makeDisk();
    disk.kept = false;
    std::error_code ec;
    fs::remove_all(disk.out, ec);
    if (ec || !fs::create_directory(disk.out, ec) || ec)
        fuzzFailure("the scratch directory cannot be emptied");
    makeLinks();
    return disk.scratch;
}

const String& ScratchDisk::path()
{
    makeDisk();
    return disk.scratch;
}

void ScratchDisk::keepTree()
{
    disk.kept = true;
}

bool ScratchDisk::holdsTree()
{
    return disk.kept;
}

void ScratchDisk::removeLinks()
{
    std::error_code ec;
    fs::remove(disk.out / "LINK", ec);
    fs::remove(disk.out / "LINK.BIN", ec);
    disk.linksPlanted = false;
}

void ScratchDisk::checkNothingEscaped()
{
    std::error_code ec, statusError;
    u32 besideScratch = 0;
    for (fs::directory_iterator it(disk.parent, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        if ((p != disk.out && p != disk.outside) || !fs::is_directory(fs::symlink_status(p, statusError)))
            fuzzFailure("something was written beside the scratch directory");
        besideScratch++;
    }
    if (ec || besideScratch != 2)
        fuzzFailure("the scratch directory or the folder beside it is gone");
    u32 outside = 0;
    for (fs::directory_iterator it(disk.outside, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() != "VICTIM.BIN" ||
            !fs::is_regular_file(fs::symlink_status(it->path(), statusError)))
            fuzzFailure("something was written through a link to the folder outside");
        outside++;
    }
    if (ec || outside != 1 || !victimUnchanged(disk.outside / "VICTIM.BIN"))
        fuzzFailure("the file outside the scratch directory was changed through a link");
    // Links are never made by extraction, and the two planted ones stay as they were.
    u32 links = 0;
    for (fs::recursive_directory_iterator it(disk.out, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(statusError);
        if (fs::is_symlink(status)) {
            if (!isPlantedLink(it->path()))
                fuzzFailure("a link appeared in the scratch directory");
            links++;
        } else if (!fs::is_regular_file(status) && !fs::is_directory(status)) {
            fuzzFailure("something other than files and folders appeared in the scratch directory");
        }
    }
    if (ec || links != (disk.linksPlanted ? 2u : 0u))
        fuzzFailure("a link planted in the scratch directory was replaced");
}

PrintedText::PrintedText()
{
    fflush(stdout);
    stream = open_memstream(&text, &length);
    captured = stream != nullptr;
    if (stream) {
        saved = stdout;
        stdout = stream;
    }
}

PrintedText::~PrintedText()
{
    stop();
    free(text);
}

void PrintedText::stop()
{
    if (!stream)
        return;
    fflush(stream);
    stdout = saved;
    fclose(stream);
    stream = nullptr;
}

bool PrintedText::hasErrorLine()
{
    stop();
    // Nothing captured (memory ran out): nothing can be said against the run.
    if (!captured || !text)
        return !captured;
    static const char marker[] = "ERROR: ";
    const size_t n = sizeof(marker) - 1;
    for (size_t at = 0; at + n <= length;) {
        if (memcmp(text + at, marker, n) == 0)
            return true;
        const void* newline = memchr(text + at, '\n', length - at);
        if (!newline)
            break;
        at = size_t(static_cast<const char*>(newline) - text) + 1;
    }
    return false;
}
