#pragma once
#include "framework/core/String.h"

// XTRE archives name most files only by a 32-bit hash. These dictionaries give, per archive
// file name, the path in the game's data tree of each known hash. There is no hash function to
// compute them: they are data (XtreNames.inc).

// One known file; a list ends with an item whose path is null.
struct XtreNameItem
{
    u32 hash;
    const char* path;
};

// The names of one archive file; a set of rows ends with a row whose containerName is null.
// nameCount is how many files the game's archive holds; the list may know fewer of them.
struct XtreNameRow
{
    const char* containerName;
    const XtreNameItem* items;
    u32 nameCount;
};

struct XtreNameDictionary
{
    const char* label;
    const XtreNameRow* rows;
};

extern const XtreNameDictionary xtreNamesVersion1;
extern const XtreNameDictionary xtreNamesVersion0;
extern const XtreNameDictionary xtreNamesFlightCd;

// Version 1 archives use the version 1 set; a version 0 archive named FLIGHTCD.TRE (any case)
// has a set of its own, every other one uses the version 0 set.
const XtreNameDictionary& selectXtreNameDictionary(u32 version, const String& baseName);
// The first row whose containerName equals the base name, ignoring ASCII case; null when none.
const XtreNameRow* findXtreNameRow(const XtreNameDictionary& set, const String& baseName);
// The first item of the row with this hash (the first listed wins); null when none.
const XtreNameItem* findXtreNameItem(const XtreNameRow& row, u32 hash);
// The hash of an entry name "0x" + hex digits of a 32-bit value; false for any other name.
bool parseXtreHashName(const String& name, u32& hash);

// Gives the entries of one archive their dictionary names.
class XtreNameResolver
{
public:
    // The archive's version and the path it was opened under (its file name picks the row).
    XtreNameResolver(u32 version, const String& containerPath);
    XtreNameResolver(const XtreNameDictionary& set, const String& containerPath);

    // A name beginning "0x" whose hash the row lists becomes the listed path (copied; an empty
    // path empties it) and true is returned. Any other "0x" name is kept and, at verbosity 2 and
    // more, reported. Names not beginning "0x" (clash-table names) are left alone.
    bool resolve(String& name) const;

    const XtreNameRow* row() const { return matchedRow; }

private:
    const XtreNameRow* matchedRow;
};
