#include "tool/containers/XtreNames.h"
#include "tool/ToolOptions.h"

#include <cstdio>

#include "tool/containers/XtreNames.inc"

const XtreNameDictionary& selectXtreNameDictionary(u32 version, const String& baseName)
{
    if (version == 1)
        return xtreNamesVersion1;
    return baseName.equalsNoCase("FLIGHTCD.TRE") ? xtreNamesFlightCd : xtreNamesVersion0;
}

const XtreNameRow* findXtreNameRow(const XtreNameDictionary& set, const String& baseName)
{
    for (const XtreNameRow* r = set.rows; r && r->containerName; r++)
        if (baseName.equalsNoCase(r->containerName))
            return r;
    return nullptr;
}

const XtreNameItem* findXtreNameItem(const XtreNameRow& row, u32 hash)
{
    for (const XtreNameItem* i = row.items; i && i->path; i++)
        if (i->hash == hash)
            return i;
    return nullptr;
}

bool parseXtreHashName(const String& name, u32& hash)
{
    if (!name.startsWith("0x") || name.length < 3)
        return false;
    u64 v = 0;
    for (u64 i = 2; i < name.length; i++) {
        char c = name[i];
        u32 digit;
        if (c >= '0' && c <= '9')
            digit = u32(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = u32(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = u32(c - 'A' + 10);
        else
            return false;
        v = (v << 4) | digit;
        if (v > 0xFFFFFFFFu)
            return false;
    }
    hash = u32(v);
    return true;
}

XtreNameResolver::XtreNameResolver(u32 version, const String& containerPath)
    : XtreNameResolver(selectXtreNameDictionary(version, getFileName(containerPath)), containerPath)
{
}

XtreNameResolver::XtreNameResolver(const XtreNameDictionary& set, const String& containerPath)
    : matchedRow(findXtreNameRow(set, getFileName(containerPath)))
{
}

bool XtreNameResolver::resolve(String& name) const
{
    if (!name.startsWith("0x"))
        return false;
    u32 hash = 0;
    const XtreNameItem* item = nullptr;
    if (matchedRow && parseXtreHashName(name, hash))
        item = findXtreNameItem(*matchedRow, hash);
    if (!item) {
        if (toolOptions().verbosity >= 2)
            printf("Couldn't match hash for '%s'.\n", name.c_str());
        return false;
    }
    name = item->path;
    return true;
}
