#pragma once
#include "framework/core/String.h"

#include <cstdio>

// A directory of this process for the targets that extract and repack on disk, made once and
// emptied between inputs. It lies in a parent directory of its own beside "outside/", which
// holds one file; two links inside the scratch directory point there ("LINK" to the folder,
// "LINK.BIN" to the file), so that an archive naming them meets a link in its way.
class ScratchDisk
{
public:
    // The scratch directory emptied, its two links made again; its path ends with '/'.
    static const String& fresh();
    // The directory as it was left.
    static const String& path();
    // Marks what the directory holds now as a tree to use again; fresh() forgets the mark.
    static void keepTree();
    static bool holdsTree();
    // Takes the two links away once an extraction has met them: a repack refuses a tree that
    // holds a link.
    static void removeLinks();
    // Stops the run unless the parent holds only the scratch directory and "outside/", the
    // file outside is unchanged and alone, and the only links below the scratch directory are
    // the two it was given: nothing was written outside it, nor through a link.
    static void checkNothingEscaped();
};

// Everything the tool prints while one of these lives goes to memory instead of standard output.
class PrintedText
{
public:
    PrintedText();
    ~PrintedText();
    PrintedText(const PrintedText&) = delete;
    PrintedText& operator=(const PrintedText&) = delete;

    // Ends the capture; true when a printed line starts with "ERROR: ".
    bool hasErrorLine();

private:
    void stop();
    FILE* saved = nullptr;
    FILE* stream = nullptr;
    char* text = nullptr;
    size_t length = 0;
    bool captured = false;
};
