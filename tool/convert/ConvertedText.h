#pragma once
#include "framework/core/String.h"
#include "tool/ToolOptions.h"

#include <utility>

// Whether a document's XML text, made at open to check that it gives the bytes back, is kept
// to be written out as the extracted file: only a run that extracts writes it (and not with
// noConvert); any other would hold it for nothing. A text more than `factor` times its file's
// size is made again when it is written instead, so what a container holds, and what checking
// it holds at once, stays in proportion to its bytes.
inline bool keepsConvertedText(u64 textLength, u64 byteCount, u64 factor)
{
    const ToolOptions& options = toolOptions();
    return options.mode == MODE_EXTRACT && !options.noConvert && textLength + 1 <= byteCount * factor;
}

// Takes the text as the extracted file holds it (with a line end); writeXml leaves room for
// that, so nothing is copied.
inline void keepConvertedText(String& kept, String&& text)
{
    const u64 length = text.length;
    text.append('\n');
    if (text.length == length + 1)
        kept = std::move(text);
}
