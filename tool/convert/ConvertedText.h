#pragma once
#include "framework/core/Heap.h"
#include "framework/core/String.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"

// A text up to this many times its file's size is kept from open (see keepsConvertedText).
constexpr u64 KEPT_TEXT_PER_BYTE = 16;

// The most XML text a document's conversion may make: with the document and the bytes written
// back to check it, a run stays within twelve times the document and a few dozen MiB, whatever
// the document's shape. A document whose text would pass it stays raw.
constexpr u64 TEXT_LIMIT_PER_BYTE = 10;
constexpr u64 TEXT_LIMIT_SLACK = u64(32) << 20;
inline u64 convertedTextLimit(u64 documentBytes)
{
    return documentBytes * TEXT_LIMIT_PER_BYTE + TEXT_LIMIT_SLACK;
}

// The gate of a conversion's text (TextBuilder): each growth is charged to the archive's budget
// before it is taken (unless nothing is to be converted), and the text never passes `limit`.
// The caller gives back `held` (releaseTransient) when the text is gone.
struct TextBudget
{
    u64 held = 0;
    u64 limit = ~u64(0);
    bool reserves = true;
    bool tooLarge = false; // the last growth asked for would have passed the limit

    static bool charge(void* context, u64 bytes)
    {
        TextBudget& budget = *static_cast<TextBudget*>(context);
        // A refused step may be followed by a smaller one that fits: only the last answer counts.
        budget.tooLarge = budget.held + bytes > budget.limit;
        if (budget.tooLarge || (budget.reserves && !reserveTransient(bytes)))
            return false;
        budget.held += bytes;
        return true;
    }
};

// Whether a document's XML text, made at open to check that it gives the bytes back, is kept:
// a run that extracts writes it out as the extracted file, and a repack finds an unedited file
// by it (nothing else needs it, and not with noConvert). A larger text is made again when it is
// written instead, so what a container holds, and what checking it holds at once, stays in
// proportion to its bytes.
// Whether memory ran out while a document converted at open (`ranOut`, or an allocation that
// failed inside `conversion`). That ends the conversion, not the run: the document stays raw, as
// one too large for the budget does. A repack pairs files with entries by the form extraction
// gave them, which is not known then: the failure stands and fails the run, as memory running
// out fails it anywhere else.
inline bool conversionRanOutOfMemory(AllocationStop& conversion, bool ranOut = false)
{
    ranOut = ranOut || conversion.failed();
    if (ranOut && toolOptions().mode != MODE_REPACK)
        conversion.forgive();
    return ranOut;
}

inline bool keepsConvertedText(u64 textLength, u64 byteCount)
{
    const ToolOptions& options = toolOptions();
    return (options.mode == MODE_EXTRACT || options.mode == MODE_REPACK) && !options.noConvert &&
           textLength + 1 <= byteCount * KEPT_TEXT_PER_BYTE;
}
