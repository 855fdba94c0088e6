#pragma once
#include "framework/core/String.h"
#include "tool/ToolOptions.h"

#include <utility>

// Keeps a document's XML text, made at open to check that it gives the bytes back, as the file
// extraction writes (the text and a line end). Only a run that extracts writes it out (and not
// with noConvert); any other would hold it for nothing. A text many times its file's size (long
// runs packed small, shown as tokens) is made again when it is written instead, so what a
// container holds stays in proportion to its bytes. The copy is exactly as large as the file.
inline void keepConvertedText(String& kept, const String& text, u64 byteCount)
{
    const ToolOptions& options = toolOptions();
    if (options.mode != MODE_EXTRACT || options.noConvert || text.length + 1 > byteCount * 16)
        return;
    String file(text.length + 1);
    file.append(text);
    file.append('\n');
    if (file.length == text.length + 1)
        kept = std::move(file);
}
