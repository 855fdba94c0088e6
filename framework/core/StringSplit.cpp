#include "framework/core/Heap.h"
#include "framework/core/String.h"
#include "framework/core/StringArray.h"
#include "framework/io/StringReader.h"

namespace
{
// Counts the tokens first, then reads them again into an array of that size.
StringArray* collect(StringReader& reader)
{
    u32 n = reader.countTokens();
    StringArray* array = memNew<StringArray>(n);
    if (!array)
        return nullptr;
    reader.restart();
    for (u32 i = 0; i < array->count; i++) {
        if (!reader.readToken(&array->items[i]))
            break;
    }
    return array;
}
}

StringArray* String::split(const String& text, const String& separators, u8 skipBlanks)
{
    if (!text.data)
        return memNew<StringArray>(0u);
    StringReader reader(text, separators.c_str(), skipBlanks);
    return collect(reader);
}

StringArray* String::splitWith(const String& text, const TokenSpec& tokenSpec)
{
    if (!text.data)
        return memNew<StringArray>(0u);
    StringReader reader(text, nullptr, tokenSpec.skipBlanks);
    reader.tokenSpec = tokenSpec;
    return collect(reader);
}

StringArray* String::splitLines(const String& text)
{
    if (!text.data)
        return memNew<StringArray>(0u);
    StringReader reader(text.c_str(), "\n", 0, 1);
    StringArray* lines = collect(reader);
    if (lines) {
        for (String& line : *lines) {
            u64 kept = 0;
            for (u64 i = 0; i < line.length; i++) {
                if (line.data[i] != '\r')
                    line.data[kept++] = line.data[i];
            }
            if (line.data)
                line.keepRange(0, kept);
        }
    }
    return lines;
}
